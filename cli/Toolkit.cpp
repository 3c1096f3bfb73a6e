#include "cli/Toolkit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "cli/Files.h"
#include "cli/ImageLoad.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/TextFormat.h"
#include "link/PortBackends.h"

namespace tarvex::cli {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t to = text.find('\r', from);
        if (to == std::string::npos) {
            to = text.size();
        }
        if (to > from) {
            lines.push_back(text.substr(from, to - from));
        }
        from = to + 1;
    }
    return lines;
}

bool RunWrite(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    link.WriteEmulator(first, last, 0);
    return true;
}
bool RunRead(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    link.ReadEmulator(first, last, 0, true);
    return true;
}
bool RunVerify(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    return link.VerifyEmulator(first, last, 0);
}

int Toolkit::Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tarvex: %s\n", message.c_str());
    if (JsonEvents* events = host_.Events()) {
        events->Error(message);
    }
    return status;
}

int Toolkit::Interrupt(const std::string& state) {
    const int signal = StopSignal();
#ifdef SIGHUP
    const char* what = signal == SIGTERM  ? "terminated"
                       : signal == SIGHUP ? "hung up"
                                          : "interrupted";
#else
    const char* what = signal == SIGTERM ? "terminated" : "interrupted";
#endif
    return Fail(kExitSignal + signal, std::string(what) + "; " + state);
}

void Toolkit::Say(const std::string& text) {
    if (invocation_.quiet) {
        return;
    }
    // When the image itself or the events go to stdout, the summary must not end up there.
    std::FILE* stream = invocation_.json || (invocation_.command == "read" &&
                                             DescriptorOf(OutputName(invocation_.file)))
                            ? stderr
                            : stdout;
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string Toolkit::Elapsed() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count());
    return text;
}

int Toolkit::OpenPort() {
    if (!port_) {
        port_ = makePort_(invocation_.io ? invocation_.io->c_str() : nullptr);
    }
    port_->SetOpened(true);
    if (!port_->Opened()) {
        if (Stopped()) {
            return kExitSuccess;  // Steps reports the signal
        }
        // The failure message's first line is the window's headline; the rest names the
        // object, the cause and what to check.
        std::vector<std::string> lines = SplitLines(port_->FailureMessage());
        if (!lines.empty() && lines.front() == kPortAccessFailure) {
            lines.erase(lines.begin());
        }
        if (lines.empty()) {
            lines.push_back("cannot open port access");
        }
        std::string message = lines.front();
        // A one-line hint reads best after the cause, as in "... denied — add yourself to
        // group lp".
        if (lines.size() == 2 && !port_->OpenErrorDetail().empty()) {
            message += " \u2014 " + lines[1];
        } else {
            for (std::size_t i = 1; i < lines.size(); ++i) {
                message += "\n  " + lines[i];
            }
        }
        return Fail(kExitNoEmulator, message);
    }
    link_ = std::make_unique<EmulatorLink>(*port_, *model_, host_);
    SetStopFlag(&link_->StopRequest);
    return kExitSuccess;
}

int Toolkit::FindEmulator() {
    std::vector<std::uint16_t> candidates;
    if (invocation_.port) {
        candidates.push_back(*invocation_.port);
    } else {
        candidates.assign(kStandardPorts.begin(), kStandardPorts.end());
    }
    // Where taking the port overwrites the control register there is nothing to keep, and
    // reading it here would hold every candidate while detection waits for a busy one.
    if (port_->KeepsControlState()) {
        for (const std::uint16_t base : candidates) {
            controlBefore_.emplace_back(base,
                                        port_->ReadPort(static_cast<std::uint16_t>(base + 2)));
        }
    }
    if (invocation_.port) {
        link_->SetPortAddress(*invocation_.port);
        link_->CheckEmulatorPort(*invocation_.port);
    } else {
        link_->DetectEmulator();
    }
    JsonEvents* events = host_.Events();
    if (link_->EmulatorPresent()) {
        if (events) {
            events->Detection(link_->PortAddress(), true, {});
        }
        return kExitSuccess;
    }
    std::string tried;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        tried += (i == 0                       ? ""
                  : i + 1 == candidates.size() ? " or "
                                               : ", ") +
                 PortText(candidates[i]);
    }
    std::string message =
        "no emulator answered at " + tried + " (port access: " + port_->Backend()->Name() + ")";
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::uint16_t base = candidates[i];
        // A port another program holds is not waited for a second time.
        if (const std::string problem = port_->PortProblem(base); !problem.empty()) {
            message += "\n  " + PortText(base) + ": " + problem;
            if (events) {
                events->Detection(base, false, problem);
            }
            continue;
        }
        const std::string diagnosis = Diagnose(base);
        message += "\n  " + PortText(base) + ": " + diagnosis;
        if (events) {
            events->Detection(base, false, diagnosis);
        }
        if (i < controlBefore_.size()) {
            port_->WritePort(static_cast<std::uint16_t>(base + 2), controlBefore_[i].second);
        }
    }
    return Fail(kExitNoEmulator, message);
}

// Runs the two halves of the emulator check on their own, so the user learns which one
// failed. The register sequences are those of the detection and the port check.
std::string Toolkit::Diagnose(std::uint16_t base) {
    const auto status = static_cast<std::uint16_t>(base + 1);
    const auto control = static_cast<std::uint16_t>(base + 2);
    std::string text;
    const std::optional<bool> hasPort = port_->Backend()->HasPort(base);
    text = !hasPort ? "port unknown" : *hasPort ? "port present" : "no port";

    const std::uint8_t saved = port_->ReadPort(control);
    port_->WritePort(control, static_cast<std::uint8_t>(saved & ~0x01));  // hold RESET
    link_->Delay(1);
    const std::uint8_t held = port_->ReadPort(status);
    if (held == 0xFF) {
        // Every line high, Busy included: nothing drives the status lines.
        text += ", status reads FF";
    } else {
        text += (held & 0x80) ? ", RESET feedback" : ", no RESET feedback";
    }

    port_->WritePort(control, control::kLowStrobe);
    for (std::uint8_t k = 0; k < 16; ++k) {
        port_->WritePort(base, k);
        link_->Delay(1);
        const auto nibble = static_cast<std::uint8_t>((port_->ReadPort(status) & 0x78) >> 3);
        if (nibble != k) {
            constexpr char kDigits[] = "0123456789ABCDEF";
            text += std::string(", nibble echo fails (wrote ") + kDigits[k] + ", read " +
                    kDigits[nibble] + ")";
            port_->WritePort(control, saved);
            return text;
        }
    }
    port_->WritePort(control, saved);
    return text + ", nibble echo";
}

void Toolkit::SelectType() {
    model_->FillValue = 0xFF;
    link_->SetEpromType(invocation_.type);
    model_->BufferStart = invocation_.start;
    model_->BufferEnd = invocation_.end;
    if (image_) {
        std::copy_n(image_->DataBuffer.begin(), model_->EpromEnd + 1, model_->DataBuffer.begin());
    }
}

bool Toolkit::Transfer(const char* label,
                       bool (*run)(EmulatorLink&, std::uint32_t, std::uint32_t)) {
    host_.BeginPhase(label, Size());
    const bool passed = run(*link_, invocation_.start, invocation_.end);
    host_.EndPhase(passed && !Stopped());
    return passed;
}

// A pulled cable or a switched-off emulator reads like a port with nothing attached: a read
// would give FF, a verify would blame the image. The detection's echo, run after the
// transfer, tells a live emulator from a dead link without touching the transfer's own
// sequences.
int Toolkit::StillAnswers(const char* during) {
    if (Stopped() || link_->AnswersAt(link_->PortAddress())) {
        return kExitSuccess;
    }
    return Fail(kExitNoEmulator, std::string("the emulator at ") + Where() +
                                     " stopped answering during the " + during +
                                     " (cable or power?)");
}

int Toolkit::ReportMismatch() {
    Transfer("reading", RunRead);
    if (Stopped()) {
        return Interrupt("verify failed; the target is held in RESET");
    }
    if (const int status = StillAnswers("verify"); status != kExitSuccess) {
        return status;
    }
    std::size_t differing = 0;
    std::string listing;
    for (std::uint32_t index = invocation_.start; index <= invocation_.end; ++index) {
        const std::uint8_t expected = image_->DataBuffer[index];
        const std::uint8_t found = model_->DataBuffer[index];
        if (expected == found) {
            continue;
        }
        if (++differing <= kListedDifferences) {
            listing += "\n    " + HexAddress(index - invocation_.start) + "     " +
                       HexByte(expected) + "        " + HexByte(found);
        }
        if (JsonEvents* events = host_.Events()) {
            events->Mismatch(index - invocation_.start, expected, found);
        }
    }
    const std::string what = "the " + TypeName() + " emulator at " + Where();
    if (differing == 0) {
        return Fail(kExitMismatch, "verify failed, but reading " + what +
                                       " back found every byte equal to " + File() +
                                       ": the connection is unreliable (check the cable)");
    }
    std::string message = "verify failed: " + std::to_string(differing) + " of " +
                          std::to_string(Size()) + " bytes in " + what + " differ from " + File() +
                          "\n  address  image  emulator" + listing;
    if (differing > kListedDifferences) {
        message += "\n  and " + std::to_string(differing - kListedDifferences) + " more";
    }
    return Fail(kExitMismatch, message);
}

void Toolkit::HoldReset() {
    const std::uint16_t control = link_->ControlAddress();
    port_->WritePort(control, static_cast<std::uint8_t>(port_->ReadPort(control) & ~0x01));
}

bool Toolkit::WaitUnlessStopped(std::uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < deadline && !Stopped(); now = Clock::now()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
    return !Stopped();
}

bool Toolkit::ResetFeedbackIs(bool held) {
    link_->Delay(1);
    // Busy is inverted on the port: status bit 7 set means the emulator holds the target.
    return ((port_->ReadPort(link_->StatusAddress()) & 0x80) != 0) == held;
}

bool Toolkit::WasRunningBefore() const {
    for (const auto& [base, control] : controlBefore_) {
        if (base == link_->PortAddress()) {
            return (control & 0x01) != 0;
        }
    }
    return false;
}

// What --leave asks for; else the state found, where the backend can read it; else
// running, as a target in an emulator normally is. (Under ppdev taking the port holds the
// target in RESET, so the state from before is gone.)
bool Toolkit::LeaveRunning() const {
    if (invocation_.leave) {
        return *invocation_.leave == ResetState::Release;
    }
    return port_->KeepsControlState() ? WasRunningBefore() : true;
}

// Finding the emulator and every transfer hold the target in RESET; a command that is
// not about RESET must not stop a target that was running.
void Toolkit::LeaveReset() {
    if (LeaveRunning()) {
        link_->ReleaseEmulator();
    }
}

std::string Toolkit::LeftState() const {
    const bool asFound = !invocation_.leave && port_->KeepsControlState();
    return std::string(LeaveRunning() ? "target running" : "target held in RESET") +
           (asFound ? " as found" : "");
}

int Toolkit::Finish(int status) {
    SetStopFlag(nullptr);
    if (port_ && port_->Opened()) {
        port_->SetOpened(false);  // the simulator keeps its memory here
        // A trace that stopped short, or a simulator memory not kept, fails the command
        // once the work is done.
        if (const std::string problem = port_->Backend()->Problem(); !problem.empty()) {
            for (const std::string& line : SplitLines(problem)) {
                Fail(kExitFileError, line);
            }
            if (status == kExitSuccess) {
                status = kExitFileError;
            }
        }
    }
    return status;
}

}  // namespace tarvex::cli
