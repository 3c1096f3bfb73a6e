#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/FileLoader.h"
#include "link/Emulator.h"

namespace tarvex {

// The unattended run: find the emulator, load the file as a binary image, write, verify,
// hold RESET with a countdown in the caption, release, report. Runs on its own worker
// thread; everything it shows goes through the link's host, which carries it over to the
// window's thread.
class BatchRun {
  public:
    struct Flags {
        std::atomic<bool>& BatchRequested;
        std::atomic<bool>& ExitRequested;
    };

    // `arguments` are the command-line arguments after the program name (2 to 4).
    BatchRun(EmulatorLink& link, FileLoader& loader, std::vector<std::string> arguments,
             Flags flags, std::string programTitle);

    // The worker routine. Returns the outcome it handed to EndBatchRun.
    bool Run();

    std::uint32_t ResetTime() const { return resetTime_; }

    // "Incorrect EPROM type   \" 2816 \"": the message words, three blanks and the argument
    // quoted with one blank inside each quote.
    static std::string ArgumentMessage(const std::string& words, const std::string& argument);
    // "   RESET time left: 0.9s"
    static std::string CountdownCaption(std::uint32_t remainingMs);

    static constexpr const char* kSuccessText =
        "               Tarvex write && verify operations OK!\r\r"
        "*** Use Tarvex switch, if you want to lock the emulation mode ***";

  private:
    bool Steps();
    bool Fail(const std::string& text);
    bool EndBatchRun(bool success);
    void HoldReset();

    EmulatorLink& link_;
    FileLoader& loader_;
    Host& host_;
    std::vector<std::string> arguments_;
    Flags flags_;
    std::string programTitle_;
    std::uint32_t resetTime_ = 1000;
};

}  // namespace tarvex
