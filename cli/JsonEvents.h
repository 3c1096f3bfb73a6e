#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tarvex::cli {

// Events for programs that wrap tarvex (--json): one JSON object per line, flushed at once,
// on a stream of their own (standard output). The human text goes on to stderr beside them.
class JsonEvents {
  public:
    explicit JsonEvents(std::FILE* stream = stdout) : stream_(stream) {}

    // A transfer: at its start, as it goes (at most about every 1/32 of it) and at its end.
    void BeginPhase(const std::string& phase, std::uint64_t total);
    void Progress(std::uint64_t done);
    void EndPhase(bool finished);
    // A message box of the core, with the window's caption.
    void Message(const char* caption, const std::string& text);
    // A failure the command itself reports (its "tarvex: ..." line).
    void Error(const std::string& text);
    // One port address looked at for an emulator; `detail` says why none answered there.
    void Detection(std::uint16_t base, bool found, const std::string& detail);
    // One byte where the emulator differs from the image; `address` is the emulator's.
    void Mismatch(std::uint32_t address, std::uint8_t image, std::uint8_t emulator);
    // One pass of the memory test, with the counts so far.
    void Pass(std::uint32_t pass, bool ok, std::int32_t passed, std::int32_t failed);
    // One page of `dump`: its number and its text as the command would print it.
    void Page(std::uint32_t page, const std::string& text);
    // One cycle of the edit loop: `written` says what went into the emulator ("changes",
    // "whole range", "nothing"), `verified` whether it was checked (null: not verified).
    void Cycle(const std::string& file, std::uint64_t changed, std::size_t runs,
               const char* written, int verified, int status);
    // The last event of every run.
    void Result(const std::string& command, int status, double seconds, std::uint64_t bytes);

    // Whether an event could not be written (said once on stderr); its errno.
    bool Failed() const { return error_ != 0; }
    int WriteErrno() const { return error_; }

    // The class name of an exit status: "success", "mismatch", "usage", "no-emulator",
    // "file-error", "signal" (or "unknown").
    static const char* StatusClass(int status);

  private:
    template <typename Json>
    void Emit(const Json& event);

    std::FILE* stream_;
    std::string phase_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
    bool active_ = false;
    int error_ = 0;  // the first write error; nothing is written after it
};

}  // namespace tarvex::cli
