#include "cli/Commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Convert.h"
#include "cli/Files.h"
#include "cli/TerminalHost.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/HexText.h"
#include "image/ImageModel.h"
#include "link/Emulator.h"
#include "link/IoPort.h"
#include "link/PortBackends.h"
#include "sim/SimBackend.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "unknown"
#endif

namespace tarvex::cli {
namespace {

// Ctrl-C stops a write or verify before its next byte (through StopRequest), so the run
// still closes the port, keeps the simulator's memory and says what state it left.
std::atomic<std::atomic<std::uint8_t>*> stopFlag{nullptr};
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) {
    interrupted = 1;
    if (std::atomic<std::uint8_t>* flag = stopFlag.load()) {
        flag->store(1);
    }
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe on stdout must not end the run before the port is closed.
    std::signal(SIGPIPE, SIG_IGN);
}

constexpr std::size_t kListedDifferences = 16;

std::string PortText(std::uint16_t base) {
    return "0x" + HexWord(base);
}

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

// The loader's and the writer's messages do not name the file; on a command line they must.
class AboutFile final : public Host {
  public:
    AboutFile(Host& host, const std::string& file) : host_(host), prefix_(file + ": ") {}

    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        return host_.ShowMessage(kind, prefix_ + text, buttons);
    }

  private:
    Host& host_;
    std::string prefix_;
};

class Session {
  public:
    Session(const Invocation& invocation, TerminalHost& host)
        : invocation_(invocation), host_(host), began_(std::chrono::steady_clock::now()) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Run() { return Finish(Dispatch()); }

  private:
    int Dispatch();
    int Detect();
    int Write();
    int Read();
    int Verify();
    int Reset();

    int OpenPort();
    int FindEmulator();
    std::string Diagnose(std::uint16_t base);
    int LoadImage();
    int LoadHexImage();
    bool WriterAccepts() const;
    int SaveImage(SafeOutputFile& output);
    void SelectType();
    bool Transfer(const char* label, bool (*run)(EmulatorLink&, std::uint32_t, std::uint32_t));
    int ReportMismatch();
    void HoldReset();
    bool WaitUnlessInterrupted(std::uint32_t ms);
    void CheckResetFeedback(bool expectHeld);
    bool WasRunningBefore() const;
    void RestoreReset();
    int Finish(int status);

    int Fail(int status, const std::string& message);
    int Interrupt(const std::string& state);
    void Say(const std::string& text);
    std::string Elapsed() const;
    std::uint32_t Size() const { return invocation_.end - invocation_.start + 1; }
    std::string TypeName() const { return std::to_string(invocation_.type); }
    std::string Where() const { return PortText(link_->PortAddress()); }

    const Invocation& invocation_;
    TerminalHost& host_;
    std::chrono::steady_clock::time_point began_;
    std::unique_ptr<ImageModel> model_ = std::make_unique<ImageModel>();
    std::unique_ptr<ImageModel> image_;  // the file, kept to compare with what was read back
    std::unique_ptr<TIoPort> port_;
    std::unique_ptr<EmulatorLink> link_;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> controlBefore_;
};

int Session::Dispatch() {
    const std::string& command = invocation_.command;
    if (command == "detect") {
        return Detect();
    }
    if (command == "write") {
        return Write();
    }
    if (command == "read") {
        return Read();
    }
    if (command == "verify") {
        return Verify();
    }
    return Reset();
}

int Session::Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tarvex: %s\n", message.c_str());
    return status;
}

int Session::Interrupt(const std::string& state) {
    return Fail(kExitInterrupted, "interrupted; " + state);
}

void Session::Say(const std::string& text) {
    if (!invocation_.quiet) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
}

std::string Session::Elapsed() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count());
    return text;
}

int Session::OpenPort() {
    port_ = CreatePortAccess(invocation_.io ? invocation_.io->c_str() : nullptr);
    port_->SetOpened(true);
    if (!port_->Opened()) {
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
    stopFlag.store(&link_->StopRequest);
    return kExitSuccess;
}

int Session::FindEmulator() {
    std::vector<std::uint16_t> candidates;
    if (invocation_.port) {
        candidates.push_back(*invocation_.port);
    } else {
        candidates.assign(kStandardPorts.begin(), kStandardPorts.end());
    }
    for (const std::uint16_t base : candidates) {
        controlBefore_.emplace_back(base, port_->ReadPort(static_cast<std::uint16_t>(base + 2)));
    }
    if (invocation_.port) {
        link_->SetPortAddress(*invocation_.port);
        link_->CheckEmulatorPort(*invocation_.port);
    } else {
        link_->DetectEmulator();
    }
    if (link_->EmulatorPresent()) {
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
    for (const auto& [base, control] : controlBefore_) {
        message += "\n  " + PortText(base) + ": " + Diagnose(base);
        port_->WritePort(static_cast<std::uint16_t>(base + 2), control);
    }
    return Fail(kExitNoEmulator, message);
}

// Runs the two halves of the emulator check on their own, so the user learns which one
// failed. The register sequences are those of the detection and the port check.
std::string Session::Diagnose(std::uint16_t base) {
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

int Session::LoadImage() {
    const EpromTypeInfo* type = FindEpromType(invocation_.type);
    image_ = std::make_unique<ImageModel>();
    image_->FillValue = 0xFF;
    image_->SelectType(type->number, type->epromEnd);
    image_->BufferStart = invocation_.start;
    image_->BufferEnd = invocation_.end;
    if (invocation_.fileType != 0) {
        return LoadHexImage();
    }
    const std::string& file = invocation_.file;
    FileLoader loader(*image_, host_);
    if (!loader.OpenImageFile(file)) {
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot open " + file + ": " + (cause.empty() ? "not a file name" : cause));
    }
    loader.ReadImage(invocation_.start, invocation_.end);
    if (image_->ReadError) {
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot read " + file + ": " + (cause.empty() ? "read error" : cause));
    }
    struct stat info {};
    if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size < Size()) {
            host_.Note(file + " has " + std::to_string(size) + " bytes; the rest of the " +
                       std::to_string(Size()) + "-byte range is FF");
        } else if (size > Size()) {
            host_.Note(file + " has " + std::to_string(size) + " bytes; only the first " +
                       std::to_string(Size()) + " fit the range");
        }
    }
    return kExitSuccess;
}

int Session::LoadHexImage() {
    const std::string& file = invocation_.file;
    // Looked at from outside only, so that a pipe reaches the loader unread.
    if (const std::string cause = InputPathProblem(file); !cause.empty()) {
        return Fail(kExitFileError, "cannot open " + file + ": " + cause);
    }
    image_->FileType = invocation_.fileType;
    AboutFile host(host_, file);
    FileLoader loader(*image_, host);
    loader.LoadFileToBuffer(file);
    // The loader has said what failed and where.
    return image_->ReadError ? kExitFileError : kExitSuccess;
}

// Whether the writer goes as far as creating the file. What it refuses, it refuses before
// touching any file; knowing it before the port is opened spares a pointless read.
bool Session::WriterAccepts() const {
    return invocation_.fileType == 0 || (FileLoader::IsValidFileName(invocation_.file) &&
                                         !(invocation_.fileType == 1 && invocation_.end > 0xFFFF));
}

int Session::SaveImage(SafeOutputFile& output) {
    const std::string& file = invocation_.file;
    if (invocation_.fileType == 0) {
        std::string error;
        if (!output.Commit(&model_->DataBuffer[invocation_.start], Size(), error)) {
            return Fail(kExitFileError, "cannot write " + file + ": " + error);
        }
        return kExitSuccess;
    }
    model_->FileType = invocation_.fileType;
    model_->BufferStart = invocation_.start;
    model_->BufferEnd = invocation_.end;
    PreparedOutput files(output, file);
    AboutFile host(host_, file);
    FileWriter writer(*model_, host, files);
    writer.SaveBufferToFile(file);
    if (!writer.SaveFailed()) {
        return kExitSuccess;
    }
    // The writer has said what failed; the system's cause, when there is one, adds why.
    return files.Error().empty()
               ? kExitFileError
               : Fail(kExitFileError, "cannot write " + file + ": " + files.Error());
}

void Session::SelectType() {
    model_->FillValue = 0xFF;
    link_->SetEpromType(invocation_.type);
    model_->BufferStart = invocation_.start;
    model_->BufferEnd = invocation_.end;
    if (image_) {
        std::copy_n(image_->DataBuffer.begin(), model_->EpromEnd + 1, model_->DataBuffer.begin());
    }
}

bool Session::Transfer(const char* label,
                       bool (*run)(EmulatorLink&, std::uint32_t, std::uint32_t)) {
    host_.BeginPhase(label, Size());
    const bool passed = run(*link_, invocation_.start, invocation_.end);
    host_.EndPhase(passed && !interrupted);
    return passed;
}

bool RunWrite(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    link.WriteEmulator(first, last, 0);
    return true;
}
bool RunRead(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    link.ReadEmulator(first, last, 0);
    return true;
}
bool RunVerify(EmulatorLink& link, std::uint32_t first, std::uint32_t last) {
    return link.VerifyEmulator(first, last, 0);
}

int Session::ReportMismatch() {
    Transfer("reading", RunRead);
    if (interrupted) {
        return Interrupt("verify failed; the target is held in RESET");
    }
    std::size_t differing = 0;
    std::string listing;
    for (std::uint32_t index = invocation_.start; index <= invocation_.end; ++index) {
        const std::uint8_t expected = image_->DataBuffer[index];
        const std::uint8_t found = model_->DataBuffer[index];
        if (expected != found && ++differing <= kListedDifferences) {
            listing += "\n    " + HexAddress(index - invocation_.start) + "     " +
                       HexByte(expected) + "        " + HexByte(found);
        }
    }
    const std::string what = "the " + TypeName() + " emulator at " + Where();
    if (differing == 0) {
        return Fail(kExitMismatch, "verify failed, but reading " + what +
                                       " back found every byte equal to " + invocation_.file +
                                       ": the connection is unreliable (check the cable)");
    }
    std::string message = "verify failed: " + std::to_string(differing) + " of " +
                          std::to_string(Size()) + " bytes in " + what + " differ from " +
                          invocation_.file + "\n  address  image  emulator" + listing;
    if (differing > kListedDifferences) {
        message += "\n  and " + std::to_string(differing - kListedDifferences) + " more";
    }
    return Fail(kExitMismatch, message);
}

void Session::HoldReset() {
    const std::uint16_t control = link_->ControlAddress();
    port_->WritePort(control, static_cast<std::uint8_t>(port_->ReadPort(control) & ~0x01));
}

bool Session::WaitUnlessInterrupted(std::uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < deadline && !interrupted; now = Clock::now()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
    return !interrupted;
}

void Session::CheckResetFeedback(bool expectHeld) {
    link_->Delay(1);
    // Busy is inverted on the port: status bit 7 set means the emulator holds the target.
    const bool held = (port_->ReadPort(link_->StatusAddress()) & 0x80) != 0;
    if (held != expectHeld) {
        std::fprintf(stderr, "tarvex: warning: the emulator at %s reports the target %s\n",
                     Where().c_str(), held ? "still held in RESET" : "running (no RESET feedback)");
    }
}

bool Session::WasRunningBefore() const {
    for (const auto& [base, control] : controlBefore_) {
        if (base == link_->PortAddress()) {
            return (control & 0x01) != 0;
        }
    }
    return false;
}

// Finding the emulator and every transfer hold the target in RESET; a command that is
// not about RESET must not stop a target that was running.
void Session::RestoreReset() {
    if (WasRunningBefore()) {
        link_->ReleaseEmulator();
    }
}

int Session::Finish(int status) {
    stopFlag.store(nullptr);
    if (port_ && port_->Opened()) {
        port_->SetOpened(false);  // the simulator keeps its memory here
        if (auto* simulator = dynamic_cast<sim::SimBackend*>(port_->Backend());
            simulator && !simulator->SaveError().empty()) {
            Fail(kExitFileError, simulator->SaveError());
            if (status == kExitSuccess) {
                status = kExitFileError;
            }
        }
    }
    return status;
}

int Session::Detect() {
    if (const int status = OpenPort(); status != kExitSuccess) {
        return status;
    }
    if (const int status = FindEmulator(); status != kExitSuccess) {
        return status;
    }
    RestoreReset();
    Say("emulator at " + Where() + " (port access: " + port_->Backend()->Name() + ")");
    return kExitSuccess;
}

int Session::Write() {
    for (auto step : {&Session::LoadImage, &Session::OpenPort, &Session::FindEmulator}) {
        if (const int status = (this->*step)(); status != kExitSuccess) {
            return status;
        }
    }
    SelectType();
    Transfer("writing", RunWrite);
    if (interrupted) {
        return Interrupt("the emulator holds part of the image; the target is held in RESET");
    }
    if (invocation_.verify) {
        const bool passed = Transfer("verifying", RunVerify);
        if (interrupted) {
            return Interrupt("not verified; the target is held in RESET");
        }
        if (!passed) {
            return ReportMismatch();  // the target stays in RESET: it must not run a bad image
        }
    }
    host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
    if (!WaitUnlessInterrupted(invocation_.resetMs)) {
        return Interrupt("the target is held in RESET");
    }
    link_->ReleaseEmulator();
    Say("wrote " + std::to_string(Size()) + " bytes of " + invocation_.file + " into the " +
        TypeName() + " emulator at " + Where() +
        (invocation_.verify ? ", verified" : ", not verified") + ", target released (" + Elapsed() +
        ")");
    return kExitSuccess;
}

int Session::Read() {
    SafeOutputFile output;
    if (!WriterAccepts()) {
        return SaveImage(output);  // fails with the writer's message; nothing is touched
    }
    std::string error;
    // Before any port access: a file that cannot be written is found out at once.
    if (!output.Create(invocation_.file, error)) {
        return Fail(kExitFileError, "cannot write " + invocation_.file + ": " + error);
    }
    for (auto step : {&Session::OpenPort, &Session::FindEmulator}) {
        if (const int status = (this->*step)(); status != kExitSuccess) {
            return status;
        }
    }
    SelectType();
    Transfer("reading", RunRead);
    if (interrupted) {
        return Interrupt(invocation_.file + " is left as it was; the target is held in RESET");
    }
    RestoreReset();
    if (const int status = SaveImage(output); status != kExitSuccess) {
        return status;
    }
    Say("read " + std::to_string(Size()) + " bytes from the " + TypeName() + " emulator at " +
        Where() + " into " + invocation_.file + " (" + Elapsed() + ")");
    return kExitSuccess;
}

int Session::Verify() {
    for (auto step : {&Session::LoadImage, &Session::OpenPort, &Session::FindEmulator}) {
        if (const int status = (this->*step)(); status != kExitSuccess) {
            return status;
        }
    }
    SelectType();
    const bool passed = Transfer("verifying", RunVerify);
    if (interrupted) {
        return Interrupt("not verified; the target is held in RESET");
    }
    const int status = passed ? kExitSuccess : ReportMismatch();
    if (status == kExitInterrupted) {
        return status;
    }
    RestoreReset();
    if (passed) {
        Say("the " + TypeName() + " emulator at " + Where() + " holds the " +
            std::to_string(Size()) + " bytes of " + invocation_.file + " (" + Elapsed() + ")");
    }
    return status;
}

int Session::Reset() {
    for (auto step : {&Session::OpenPort, &Session::FindEmulator}) {
        if (const int status = (this->*step)(); status != kExitSuccess) {
            return status;
        }
    }
    bool hold = false;
    bool release = false;
    switch (invocation_.resetAction) {
        case ResetAction::Hold:
            hold = true;
            break;
        case ResetAction::Release:
            release = true;
            break;
        case ResetAction::Toggle:
            // Finding the emulator held RESET already; toggle what the target had before.
            (WasRunningBefore() ? hold : release) = true;
            break;
        case ResetAction::Pulse:
            hold = release = true;
            break;
    }
    if (hold) {
        HoldReset();
        CheckResetFeedback(true);
        if (release) {
            host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
            if (!WaitUnlessInterrupted(invocation_.resetMs)) {
                return Interrupt("the target is held in RESET");
            }
        }
    }
    if (release) {
        link_->ReleaseEmulator();
        CheckResetFeedback(false);
    }
    Say(std::string(release ? (hold ? "target reset and released" : "target released")
                            : "target held in RESET") +
        " by the emulator at " + Where());
    return kExitSuccess;
}

}  // namespace

int Main(const std::vector<std::string>& args) {
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "tarvex: %s\nTry 'tarvex --help' for more information.\n",
                     error.what());
        return kExitUsage;
    }
    if (invocation.help) {
        std::fputs(HelpText(), stdout);
        return kExitSuccess;
    }
    if (invocation.version) {
        std::printf("tarvex %s\n", TARVEX_VERSION);
        return kExitSuccess;
    }
    if (invocation.command == "convert") {
        return RunConvert(invocation.convertArgs);
    }
    InstallSignalHandlers();
    TerminalHost host(TerminalHost::ModeFor(invocation.quiet));
    Session session(invocation, host);
    return session.Run();
}

}  // namespace tarvex::cli
