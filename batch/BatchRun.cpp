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
    // Whole numbers only: a locale's decimal comma must not reach the caption.
    const std::uint32_t tenths = remainingMs / 100;
    return "   RESET time left: " + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10) + "s";
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

    // The whole number decides: 68300 must not pass as 2764 once cut to 16 bits, nor be kept
    // as if the user had chosen 2764.
    std::int64_t type = 0;
    if (!ParseCommandNumber(arguments_[1], type) || type < 0 ||
        FindEpromType(static_cast<std::uint32_t>(type)) == nullptr) {
        return Fail(ArgumentMessage("Incorrect EPROM type", arguments_[1]));
    }
    model.CurrentEpromType = static_cast<std::uint16_t>(type);

    resetTime_ = 1000;
    if (count == 4) {
        std::int64_t resetTime = 0;
        if (!ParseCommandNumber(arguments_[3], resetTime, true) || resetTime < 0) {
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
    using std::chrono::milliseconds;
    const auto start = Clock::now();
    const std::int64_t total = resetTime_;
    std::int64_t shown = -1;
    for (;;) {
        const std::int64_t elapsed =
            std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        if (elapsed > total) {
            break;
        }
        const std::int64_t remaining = total - elapsed;
        const std::int64_t tenth = remaining / 100 * 100;
        std::int64_t wake = 0;  // the elapsed time to look again at
        if (remaining - tenth < 10) {
            if (tenth != shown) {
                host_.SetCaption(CountdownCaption(static_cast<std::uint32_t>(tenth)));
                shown = tenth;
            }
            wake = tenth == 0 ? total + 1 : total - tenth + 91;  // the next tenth's first ms
        } else {
            wake = total - tenth - 9;  // this tenth's first ms
        }
        // Sleeping to an absolute time keeps the tenths in step without spinning a core.
        std::this_thread::sleep_until(start + milliseconds(wake));
    }
    if (shown != 0) {
        host_.SetCaption(CountdownCaption(0));  // a late wake-up must not skip the end
    }
}
}  // namespace tarvex
