#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/JsonEvents.h"
#include "diag/MemoryTest.h"
#include "diag/SignalsTest.h"
#include "link/Emulator.h"

namespace tarvex::cli {

// The memory test on a terminal: a line per pass; a bad pass reads the emulator back once
// and lists where it differs from what was written, the way verify lists a mismatch.
class MemoryTestReport : public MemoryTestView {
  public:
    MemoryTestReport(EmulatorLink& link, bool quiet, std::FILE* stream = stderr)
        : link_(link), quiet_(quiet), stream_(stream) {}

    void ShowCounts(const MemoryTestCounts& counts, bool passed) override;
    // --json: each pass, and each byte a bad pass read back wrong, as events too.
    void SetEvents(JsonEvents* events) { events_ = events; }

    // The emulator no longer echoed after a bad pass; the run was stopped for it.
    bool LinkLost() const { return linkLost_; }

  private:
    std::string Differences();

    EmulatorLink& link_;
    bool quiet_;
    std::FILE* stream_;
    bool linkLost_ = false;
    JsonEvents* events_ = nullptr;
};

// What each chosen line carries and where to probe it, one line each.
std::string SignalsPlan(SignalLines lines);

// The comma-separated names of `lines`, or why `text` is not a list of line names.
std::optional<SignalLines> ParseSignalLines(const std::string& text, std::string& complaint);

struct SignalsRun {
    std::uint64_t iterations = 0;
    double seconds = 0;
};

// Drives the lines with no delay: `count` iterations, or for `seconds`, or until `stop`.
SignalsRun DriveSignals(TIoPort& port, std::uint16_t base, SignalLines lines,
                        std::optional<std::uint64_t> count, std::optional<double> seconds,
                        const std::atomic<std::uint8_t>& stop);

}  // namespace tarvex::cli
