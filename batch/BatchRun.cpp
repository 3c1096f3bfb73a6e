#include "batch/BatchRun.h"

#include <cstdio>
#include <thread>

#include "batch/CommandNumber.h"
#include "image/HexText.h"

namespace tarvex {

BatchRun::BatchRun(EmulatorLink& link, FileLoader& loader, std::vector<std::string> arguments,
                   Flags flags, std::string programTitle)
    : link_(link),
      loader_(loader),
      host_(link.UserInterface()),
      arguments_(std::move(arguments)),
      flags_(flags),
      programTitle_(std::move(programTitle)) {}

std::string BatchRun::ArgumentMessage(const std::string& words, const std::string& argument) {
    return words + "   \" " + argument + " \"";
}

std::string BatchRun::CountdownCaption(std::uint32_t remainingMs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", remainingMs / 1000.0);
    return std::string("   RESET time left: ") + seconds + "s";
}

bool BatchRun::Run() {
    return EndBatchRun(Steps());
}

bool BatchRun::Fail(const std::string& text) {
    host_.ShowMessage(MessageKind::Error, text, MessageButtons::Cancel);
    return false;
}

bool BatchRun::EndBatchRun(bool success) {
    flags_.BatchRequested.store(false);
    flags_.ExitRequested.store(success);
    host_.SetMainWindowEnabled(true);
    return success;
}

bool BatchRun::Steps() {
    ImageModel& model = link_.Model();
    const std::size_t count = arguments_.size();
    if (count < 2 || count > 4) {
        return false;  // start-up never starts a run for these
    }
    host_.SetMainWindowEnabled(false);

    // The port argument is third in both the three- and the four-argument form.
    if (count >= 3) {
        std::uint16_t base = 0;
        if (!ParsePortAddress(arguments_[2], base)) {
            return Fail(ArgumentMessage("Incorrect Centronics port address", arguments_[2]));
        }
        link_.SetPortAddress(base);
        host_.SetPortSelectText("  0x" + HexWord(base));
        link_.CheckEmulatorPort(base);
    } else {
        link_.DetectEmulator();
        if (link_.EmulatorPresent()) {
            host_.SetPortSelectText("  0x" + HexWord(link_.PortAddress()));
        }
    }
    if (!link_.EmulatorPresent()) {
        return Fail("Emulator port not detected");
    }

    host_.SetInFileText(arguments_[0]);

    // The whole number decides: 68300 must not pass as 2764 once cut to 16 bits.
    std::int64_t type = 0;
    const bool typeRead = ParseCommandNumber(arguments_[1], type);
    if (typeRead) {
        model.CurrentEpromType = static_cast<std::uint16_t>(type);
    }
    if (!typeRead || FindEpromType(static_cast<std::uint32_t>(type)) == nullptr || type < 0 ||
        link_.InvalidEpromType()) {
        return Fail(ArgumentMessage("Incorrect EPROM type", arguments_[1]));
    }

    resetTime_ = 1000;
    if (count == 4) {
        std::int64_t resetTime = 0;
        if (!ParseCommandNumber(arguments_[3], resetTime) || resetTime < 0) {
            return Fail(ArgumentMessage("Incorrect reset time", arguments_[3]));
        }
        if (resetTime > 10000) {
            return Fail("Reset time longer than 10s!");
        }
        resetTime_ = static_cast<std::uint32_t>(resetTime);
    }

    model.FillValue = 0xFF;
    link_.SetEpromType(model.CurrentEpromType);

    if (!loader_.OpenImageFile(arguments_[0])) {
        return Fail(ArgumentMessage("File not found", arguments_[0]));
    }
    host_.SetCaption("   Reading file ...");
    loader_.ReadImage(model.BufferStart, model.BufferEnd);
    if (model.ReadError) {
        return Fail("File read error");
    }

    host_.SetCaption("   Writing data to emulator ...");
    link_.WriteEmulator(0, model.BufferEnd, 0);
    host_.SetCaption("   Verifying data ...");
    if (!link_.VerifyEmulator(0, model.BufferEnd, 0)) {
        host_.SetLastResult(Lamp::Red);
        return Fail("Verification error");
    }
    host_.SetCaption("   " + std::to_string(model.EpromEnd + 1) + " bytes OK ...");
    host_.SetLastResult(Lamp::Green);
    host_.Repaint();

    HoldReset();
    link_.ReleaseEmulator();
    host_.SetCaption(programTitle_);
    host_.ShowMessage(MessageKind::Information, kSuccessText, MessageButtons::Ok);
    return true;
}

void BatchRun::HoldReset() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::string shown;
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed > resetTime_) {
            break;
        }
        const auto remaining = static_cast<std::uint32_t>(resetTime_ - elapsed);
        if (remaining % 100 < 10) {
            std::string caption = CountdownCaption(remaining);
            if (caption != shown) {  // one caption per tenth, not one per check
                host_.SetCaption(caption);
                shown = std::move(caption);
            }
        }
        // A millisecond's sleep keeps the tenths exact without spinning a core.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace tarvex
