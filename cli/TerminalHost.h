#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/JsonEvents.h"
#include "cli/Progress.h"
#include "host/Host.h"

namespace tarvex::cli {

// The core's user interface on a terminal: progress on stderr (a bar redrawn in place on
// a terminal, a few plain lines in logs, nothing when quiet) and message boxes as lines
// on stderr, information boxes like progress. Nobody can answer a box, so each is
// answered with its safe button.
class TerminalHost : public Host {
  public:
    enum class Mode { Quiet, Lines, Bar };

    explicit TerminalHost(Mode mode, std::FILE* stream = stderr);
    // Bar when stderr is a terminal, Lines otherwise, Quiet on request.
    static Mode ModeFor(bool quiet);

    Mode ProgressMode() const { return mode_; }
    // --json: every transfer and message also goes out as an event, whatever the mode.
    void SetEvents(JsonEvents* events) { events_ = events; }
    JsonEvents* Events() const { return events_; }

    // One transfer of `bytes` bytes; the core's progress positions count 256-byte pages.
    void BeginPhase(const std::string& label, std::uint64_t bytes);
    // `finished`: the transfer went through the whole range (not left early).
    void EndPhase(bool finished);
    // A line of commentary between transfers; dropped when quiet.
    void Note(const std::string& text);

    void SetProgressPosition(int position) override;
    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override;

  private:
    using Clock = std::chrono::steady_clock;

    double Elapsed() const;
    void Draw();
    void BreakBarLine();

    Mode mode_;
    JsonEvents* events_ = nullptr;
    std::FILE* stream_;
    bool active_ = false;
    bool barOnScreen_ = false;
    ProgressState state_;
    Clock::time_point begin_{};
    Clock::time_point lastDraw_{};
    int nextQuarter_ = 25;
};

}  // namespace tarvex::cli
