#include "cli/Commands.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Convert.h"
#include "cli/Dump.h"
#include "cli/Files.h"
#include "cli/ImageLoad.h"
#include "cli/TerminalHost.h"
#include "cli/Test.h"
#include "cli/Watch.h"
#include "host/Version.h"
#include "image/BufferPage.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/HexText.h"
#include "image/ImageModel.h"
#include "image/SafeOutputFile.h"
#include "image/TextFormat.h"
#include "link/Differential.h"
#include "link/Emulator.h"
#include "link/IoPort.h"
#include "link/PortBackends.h"

namespace tarvex::cli {
namespace {

// Ctrl-C, SIGTERM and SIGHUP stop a transfer before its next byte (through StopRequest),
// so the run still closes the port, keeps the simulator's memory, removes its temporary
// files and says what state it left. The handlers leave SA_RESTART out: a blocking open of a
// FIFO, a write to a full pipe or a wait for a lock returns EINTR instead of waiting on.
std::atomic<std::atomic<std::uint8_t>*> stopFlag{nullptr};
volatile std::sig_atomic_t stopSignal = 0;

// --json: the result line for a run that a signal ends at once, made ready beforehand, so that
// the handler only fills in the numbers and writes it. Empty without --json.
char signalResultHead[96] = {};  // {"event":"result","command":"write","status":
char signalResultTail[48] = {};  // ,"bytes":8192}
std::int64_t runStartNanoseconds = 0;
std::atomic<bool> signalResultWanted{false};

std::int64_t MonotonicNanoseconds() {
#ifdef _WIN32
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
#endif
}

// Appends the decimal digits of `value` at `out`; no allocation, no locale: a handler's tool.
char* PutDecimal(char* out, std::uint64_t value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

char* PutText(char* out, const char* text) {
    while (*text) {
        *out++ = *text++;
    }
    return out;
}

// The last line of a run that a signal ends, with the status the process ends with.
void WriteSignalResult(int status) {
    if (!signalResultWanted.exchange(false)) {
        return;
    }
    char line[256];
    char* out = PutText(line, signalResultHead);
    out = PutDecimal(out, static_cast<std::uint64_t>(status));
    out = PutText(out, ",\"class\":\"signal\",\"elapsed\":");
    const std::int64_t elapsed = (MonotonicNanoseconds() - runStartNanoseconds) / 1000000;
    out = PutDecimal(out, static_cast<std::uint64_t>(elapsed / 1000));
    *out++ = '.';
    const auto millis = static_cast<int>(elapsed % 1000);
    *out++ = static_cast<char>('0' + millis / 100);
    *out++ = static_cast<char>('0' + millis / 10 % 10);
    *out++ = static_cast<char>('0' + millis % 10);
    out = PutText(out, signalResultTail);
    *out++ = '\n';
#ifdef _WIN32
    const int ignored = _write(1, line, static_cast<unsigned>(out - line));
#else
    const ssize_t ignored = write(1, line, static_cast<std::size_t>(out - line));
#endif
    static_cast<void>(ignored);
}

extern "C" void OnStopSignal(int signal) {
    if (stopSignal != 0) {  // asked twice: end now, but leave no temporary file behind
        RemoveTemporaryFilesNow();
        WriteSignalResult(kExitSignal + signal);
        _exit(kExitSignal + signal);
    }
    stopSignal = signal;
    if (std::atomic<std::uint8_t>* flag = stopFlag.load()) {
        flag->store(1);
    }
}

// Signals that end the program by default: remove the temporary files, then end as the
// signal would have ended it.
extern "C" void OnEndingSignal(int signal) {
    RemoveTemporaryFilesNow();
    WriteSignalResult(kExitSignal + signal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

#ifdef _WIN32
// The console's Ctrl-C and Ctrl-Break stop like SIGINT; closing the window or logging off
// like SIGTERM. Windows runs this on a thread of its own, so the stop flag is all it sets.
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            OnStopSignal(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            OnStopSignal(SIGTERM);
            return TRUE;
        default:
            return FALSE;
    }
}

void InstallSignalHandlers() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
#else
void InstallSignalHandlers() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    action.sa_handler = OnStopSignal;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    action.sa_handler = OnEndingSignal;
    for (const int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
        sigaction(signal, &action, nullptr);
    }
    // A closed pipe on stdout must not end the run before the port is closed.
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

void BlockStopSignals() {
#ifndef _WIN32
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
        sigaddset(&signals, signal);
    }
    sigprocmask(SIG_BLOCK, &signals, nullptr);
#endif
}

bool Stopped() {
    return stopSignal != 0;
}

// The signal a write to a closed pipe raises where signals do (13 on Linux).
#ifdef SIGPIPE
constexpr int kBrokenPipeSignal = SIGPIPE;
#else
constexpr int kBrokenPipeSignal = 13;
#endif

std::string Count(std::uint64_t count, const char* thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
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
    Session(const Invocation& invocation, TerminalHost& host, const PortFactory& makePort)
        : invocation_(invocation),
          host_(host),
          makePort_(makePort),
          began_(std::chrono::steady_clock::now()) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Run() { return Finish(Dispatch()); }

  private:
    using Step = int (Session::*)();

    int Dispatch();
    int Steps(std::initializer_list<Step> steps);
    int Detect();
    int Write();
    int Watch();
    int Read();
    int Verify();
    int Reset();
    int Test();
    int TestMemory();
    int TestSignals();
    int Dump();

    int CheckTrace();
    int PrepareOutput();
    int OpenPort();
    int FindEmulator();
    std::string Diagnose(std::uint16_t base);
    int LoadImage();
    int LoadPrevious();
    // `option` names the option that sets this file's format, for messages.
    int LoadFile(const std::string& file, std::uint8_t fileType, FormatFrom formatFrom,
                 const char* option, std::unique_ptr<ImageModel>& into);
    bool WriterAccepts() const;
    int SaveImage();
    void SelectType();
    struct Cycle {
        std::uint64_t changed = 0;  // bytes written
        std::size_t runs = 0;
        bool rewritten = false;  // the whole range, after a failed verify
    };
    int WriteImage(const ImageModel* before, Cycle& cycle);
    int HoldAndRelease();
    bool Transfer(const char* label, bool (*run)(EmulatorLink&, std::uint32_t, std::uint32_t));
    int StillAnswers(const char* during);
    int ReportMismatch();
    void HoldReset();
    bool WaitUnlessStopped(std::uint32_t ms);
    bool ResetFeedbackIs(bool held);
    bool WasRunningBefore() const;
    bool LeaveRunning() const;
    void LeaveReset();
    std::string LeftState() const;
    int Finish(int status);

    int Fail(int status, const std::string& message);
    int Interrupt(const std::string& state);
    void Say(const std::string& text);
    std::string Elapsed() const;
    std::uint32_t Size() const { return invocation_.end - invocation_.start + 1; }
    std::string TypeName() const { return std::to_string(invocation_.type); }
    std::string Where() const { return PortText(link_->PortAddress()); }
    std::string File() const { return PrintableName(invocation_.file); }

    const Invocation& invocation_;
    TerminalHost& host_;
    const PortFactory& makePort_;
    std::chrono::steady_clock::time_point began_;
    std::unique_ptr<ImageModel> model_ = std::make_unique<ImageModel>();
    std::unique_ptr<ImageModel> image_;     // the file, kept to compare with what was read back
    std::unique_ptr<ImageModel> previous_;  // --changed-only: what the emulator holds already
    std::unique_ptr<ImageModel> written_;   // --watch: what the last cycle left in the emulator
    std::unique_ptr<TIoPort> port_;
    std::unique_ptr<EmulatorLink> link_;
    SafeOutputFile output_;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> controlBefore_;
    std::unique_ptr<FileWatch> watch_;  // write --watch, from before the first load
    std::set<std::string> said_;        // files whose first line has been said what it made of them
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
    if (command == "test") {
        return Test();
    }
    if (command == "dump") {
        return Dump();
    }
    return Reset();
}

// Runs the steps in order up to the first that fails, or up to a stop signal.
int Session::Steps(std::initializer_list<Step> steps) {
    for (const Step step : steps) {
        const int status = (this->*step)();
        if (Stopped()) {
            return Interrupt(port_ && port_->Opened() ? "the target is held in RESET"
                                                      : "nothing was changed");
        }
        if (status != kExitSuccess) {
            return status;
        }
    }
    return kExitSuccess;
}

int Session::Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tarvex: %s\n", message.c_str());
    if (JsonEvents* events = host_.Events()) {
        events->Error(message);
    }
    return status;
}

int Session::Interrupt(const std::string& state) {
    const int signal = stopSignal;
#ifdef SIGHUP
    const char* what = signal == SIGTERM  ? "terminated"
                       : signal == SIGHUP ? "hung up"
                                          : "interrupted";
#else
    const char* what = signal == SIGTERM ? "terminated" : "interrupted";
#endif
    return Fail(kExitSignal + signal, std::string(what) + "; " + state);
}

void Session::Say(const std::string& text) {
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

std::string Session::Elapsed() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count());
    return text;
}

// The trace is opened with the port and truncated then: it must not be a file the command
// reads or writes.
int Session::CheckTrace() {
    const char* trace = std::getenv("TARVEX_TRACE");
    if (!trace || !*trace || invocation_.file.empty() || invocation_.file == "-") {
        return kExitSuccess;
    }
    struct stat traced {};
    struct stat file {};
    const bool same = stat(trace, &traced) == 0 && stat(invocation_.file.c_str(), &file) == 0
                          ? traced.st_dev == file.st_dev && traced.st_ino == file.st_ino
                          : std::filesystem::weakly_canonical(trace) ==
                                std::filesystem::weakly_canonical(invocation_.file);
    if (same) {
        return Fail(kExitUsage, "TARVEX_TRACE names " + File() + ", the file this command " +
                                    (invocation_.command == "read" ? "writes" : "reads") +
                                    ": choose another trace file");
    }
    return kExitSuccess;
}

int Session::OpenPort() {
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
    stopFlag.store(&link_->StopRequest);
    if (Stopped()) {
        link_->StopRequest = 1;
    }
    return kExitSuccess;
}

int Session::FindEmulator() {
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
    return LoadFile(invocation_.file, invocation_.fileType, invocation_.formatFrom, "--format",
                    image_);
}

int Session::LoadPrevious() {
    return invocation_.previousFile
               ? LoadFile(*invocation_.previousFile, invocation_.previousFileType,
                          invocation_.previousFormatFrom, "--previous-format", previous_)
               : kExitSuccess;
}

// Loads `file` into a fresh image, as the window would into an erased one: a failed load
// leaves nothing half-loaded behind for the emulator.
int Session::LoadFile(const std::string& file, std::uint8_t fileType, FormatFrom formatFrom,
                      const char* option, std::unique_ptr<ImageModel>& into) {
    const EpromTypeInfo* type = FindEpromType(invocation_.type);
    into = std::make_unique<ImageModel>();
    ImageModel& image = *into;
    image.FillValue = 0xFF;
    image.SelectType(type->number, type->epromEnd);
    image.BufferStart = invocation_.start;
    image.BufferEnd = invocation_.end;
    image.HexBase = invocation_.hexBase;
    const std::string name = PrintableName(file);
    CommandFiles files;
    std::optional<std::string> head;
    if (formatFrom == FormatFrom::Content) {
        // Looked at from outside first, so that a FIFO is not opened for nothing.
        if (const std::string cause = InputFileProblem(file); !cause.empty()) {
            return Fail(kExitFileError, "cannot open " + name + ": " + cause);
        }
        head = files.Peek(file, kTextFormatProbe);
        if (!head) {
            if (Stopped()) {
                return kExitSuccess;  // a FIFO without a writer, given up on
            }
            const std::string cause = InputFileProblem(file);
            return Fail(kExitFileError,
                        "cannot read " + name + ": " + (cause.empty() ? "read error" : cause));
        }
        const auto text =
            TextFormatOf(reinterpret_cast<const std::uint8_t*>(head->data()), head->size());
        fileType = text.value_or(0);
        // Said once a file, not in every cycle of the edit loop.
        if (said_.insert(file).second) {
            host_.Note(name + ": " + PickedFormatNote(text));
        }
        if (fileType == 0 && (invocation_.hexBaseGiven || invocation_.crop)) {
            return Fail(kExitUsage, std::string(invocation_.crop ? "--crop" : "--hex-base") +
                                        " applies to HEX and S-record files, and " + name +
                                        " holds neither (give " + option + " to load it as one)");
        }
    }
    if (fileType != 0) {
        // Looked at from outside only, so that a pipe reaches the loader unread.
        if (!head) {
            if (const std::string cause = InputFileProblem(file); !cause.empty()) {
                return Fail(kExitFileError, "cannot open " + name + ": " + cause);
            }
        }
        image.FileType = fileType;
        AboutFile host(host_, name);
        FileLoader loader(image, host, files);
        loader.SetOptions({invocation_.crop, true});
        loader.LoadFileToBuffer(file);
        if (Stopped()) {
            return kExitSuccess;
        }
        if (image.ReadError) {
            // The loader has said what failed and where; this says what would cure it.
            const std::string hint =
                LoadFailureHint(loader.Report(), image, type->number, "--format");
            return hint.empty() ? kExitFileError : Fail(kExitFileError, name + ": " + hint);
        }
        if (const std::string note = LeftOutNote(loader.Report(), image); !note.empty()) {
            host_.Note(name + ": " + note);
        }
        return kExitSuccess;
    }
    FileLoader loader(image, host_, files);
    if (!loader.OpenImageFile(file)) {
        if (Stopped()) {
            return kExitSuccess;  // a FIFO without a writer, given up on
        }
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot open " + name + ": " + (cause.empty() ? "not a file name" : cause));
    }
    loader.ReadImage(invocation_.start, invocation_.end);
    if (Stopped()) {
        return kExitSuccess;
    }
    if (image.ReadError) {
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot read " + name + ": " + (cause.empty() ? "read error" : cause));
    }
    if (files.BytesRead() == 0 && !invocation_.allowEmpty) {
        return Fail(kExitFileError,
                    name + " is empty (give --allow-empty to use the range filled with FF)");
    }
    if (formatFrom == FormatFrom::Name) {
        if (const auto text = TextFormatOf(&image.DataBuffer[invocation_.start],
                                           std::min<std::uint64_t>(files.BytesRead(), Size()))) {
            return Fail(kExitUsage, TextAsBinaryComplaint(name, *text, option));
        }
    }
    struct stat info {};
    if (file != "-" && stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size < Size()) {
            host_.Note(name + " has " + std::to_string(size) + " bytes; the rest of the " +
                       std::to_string(Size()) + "-byte range is FF");
        } else if (size > Size()) {
            host_.Note(name + " has " + std::to_string(size) + " bytes; only the first " +
                       std::to_string(Size()) + " fit the range");
        }
    }
    return kExitSuccess;
}

// Whether the writer goes as far as creating the file. What it refuses, it refuses before
// touching any file; knowing it before the port is opened spares a pointless read.
bool Session::WriterAccepts() const {
    return invocation_.fileType == 0 ||
           (FileLoader::IsValidFileName(invocation_.file) &&
            !(invocation_.fileType == 1 &&
              std::uint64_t{invocation_.hexBase} + invocation_.end > 0xFFFF));
}

// Before any port access: a file that must not or cannot be written is found out at once.
int Session::PrepareOutput() {
    if (WriterAccepts() && !output_.Open(OutputName(invocation_.file))) {
        if (Stopped()) {
            return kExitSuccess;
        }
        return Fail(kExitFileError, output_.Error());
    }
    return kExitSuccess;
}

int Session::SaveImage() {
    model_->FileType = invocation_.fileType;
    model_->BufferStart = invocation_.start;
    model_->BufferEnd = invocation_.end;
    model_->HexBase = invocation_.hexBase;
    CommandFiles files(&output_, invocation_.file);
    AboutFile host(host_, File());
    FileWriter writer(*model_, host, files);
    writer.SetSparse(invocation_.sparse);
    writer.SaveBufferToFile(invocation_.file);
    if (!writer.SaveFailed()) {
        return kExitSuccess;
    }
    // The writer has said what failed; the system's cause, when there is one, adds why.
    return output_.Error().empty() ? kExitFileError : Fail(kExitFileError, output_.Error());
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
    host_.EndPhase(passed && !Stopped());
    return passed;
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

// A pulled cable or a switched-off emulator reads like a port with nothing attached: a read
// would give FF, a verify would blame the image. The detection's echo, run after the
// transfer, tells a live emulator from a dead link without touching the transfer's own
// sequences.
int Session::StillAnswers(const char* during) {
    if (Stopped() || link_->AnswersAt(link_->PortAddress())) {
        return kExitSuccess;
    }
    return Fail(kExitNoEmulator, std::string("the emulator at ") + Where() +
                                     " stopped answering during the " + during +
                                     " (cable or power?)");
}

int Session::ReportMismatch() {
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

void Session::HoldReset() {
    const std::uint16_t control = link_->ControlAddress();
    port_->WritePort(control, static_cast<std::uint8_t>(port_->ReadPort(control) & ~0x01));
}

bool Session::WaitUnlessStopped(std::uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < deadline && !Stopped(); now = Clock::now()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
    return !Stopped();
}

bool Session::ResetFeedbackIs(bool held) {
    link_->Delay(1);
    // Busy is inverted on the port: status bit 7 set means the emulator holds the target.
    return ((port_->ReadPort(link_->StatusAddress()) & 0x80) != 0) == held;
}

bool Session::WasRunningBefore() const {
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
bool Session::LeaveRunning() const {
    if (invocation_.leave) {
        return *invocation_.leave == ResetState::Release;
    }
    return port_->KeepsControlState() ? WasRunningBefore() : true;
}

// Finding the emulator and every transfer hold the target in RESET; a command that is
// not about RESET must not stop a target that was running.
void Session::LeaveReset() {
    if (LeaveRunning()) {
        link_->ReleaseEmulator();
    }
}

std::string Session::LeftState() const {
    const bool asFound = !invocation_.leave && port_->KeepsControlState();
    return std::string(LeaveRunning() ? "target running" : "target held in RESET") +
           (asFound ? " as found" : "");
}

int Session::Finish(int status) {
    stopFlag.store(nullptr);
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

int Session::Detect() {
    if (const int status = Steps({&Session::OpenPort, &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    LeaveReset();
    Say("emulator at " + Where() + " (port access: " + port_->Backend()->Name() + "); " +
        LeftState());
    return kExitSuccess;
}

int Session::Write() {
    if (invocation_.watch) {
        // Only a file can change under the watch; a device or a FIFO would be waited on for
        // ever. Links are followed.
        struct stat info {};
        if (stat(invocation_.file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return Fail(kExitUsage, "write --watch: " + File() +
                                        " is not a regular file; --watch follows a file that is "
                                        "written or replaced");
        }
        // Watched from before the first load: an edit made during the first write is seen.
        watch_ = std::make_unique<FileWatch>(invocation_.file);
    }
    if (const int status = Steps({&Session::CheckTrace, &Session::LoadImage, &Session::LoadPrevious,
                                  &Session::OpenPort, &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    Cycle cycle;
    if (const int status = WriteImage(previous_.get(), cycle); status != kExitSuccess) {
        return status;  // a bad image never runs: the target stays in RESET
    }
    if (const int status = HoldAndRelease(); status != kExitSuccess) {
        return status;
    }
    const std::string since =
        previous_ ? " since " + PrintableName(*invocation_.previousFile) : std::string();
    if (cycle.rewritten) {
        Say("wrote " + File() + " into the " + TypeName() + " emulator at " + Where() +
            ": rewrote the whole range (" + std::to_string(Size()) +
            " bytes) after a failed verify of the changes" + since +
            ", verified, target released (" + Elapsed() + ")");
    } else {
        Say("wrote " + std::to_string(cycle.changed) + " bytes of " + File() + " into the " +
            TypeName() + " emulator at " + Where() +
            (previous_ ? " (what changed" + since + ", " + Count(cycle.runs, "run") + ")" : "") +
            (invocation_.verify ? ", verified" : ", not verified") + ", target released (" +
            Elapsed() + ")");
    }
    return invocation_.watch ? Watch() : kExitSuccess;
}

int Session::HoldAndRelease() {
    host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
    if (!WaitUnlessStopped(invocation_.resetMs)) {
        return Interrupt("the target is held in RESET");
    }
    link_->ReleaseEmulator();
    return kExitSuccess;
}

// Puts model_'s range into the emulator: all of it, or only what differs from `before` (what
// the emulator holds already). Verifies all of the range, or only what was written; when a
// verify after a partial write fails (the emulator may have lost power and its RAM), writes
// and verifies the whole range once more. The target is left in RESET.
int Session::WriteImage(const ImageModel* before, Cycle& cycle) {
    const std::uint32_t start = invocation_.start;
    std::vector<ByteRun> runs;
    if (before) {
        runs = ChangedRuns(before->DataBuffer.data(), model_->DataBuffer.data(), start,
                           invocation_.end);
        for (const ByteRun& run : runs) {
            cycle.changed += run.last - run.first + 1;
        }
        cycle.runs = runs.size();
        HoldReset();  // also when nothing changed: every cycle resets the target
        host_.BeginPhase("writing changes", cycle.changed);
        WriteRuns(*link_, runs, start, 0);
        host_.EndPhase(!Stopped());
    } else {
        cycle.changed = Size();
        cycle.runs = 1;
        Transfer("writing", RunWrite);
    }
    if (Stopped()) {
        return Interrupt("the emulator holds part of the image; the target is held in RESET");
    }
    if (const int status = StillAnswers("write"); status != kExitSuccess) {
        return status;
    }
    if (!invocation_.verify) {
        return kExitSuccess;
    }
    bool passed = false;
    if (before && invocation_.verifyChangedOnly) {
        host_.BeginPhase("verifying changes", cycle.changed);
        passed = VerifyRuns(*link_, runs, start, 0);
        host_.EndPhase(passed && !Stopped());
    } else {
        passed = Transfer("verifying", RunVerify);
    }
    if (!passed && before && !Stopped()) {
        host_.Note(
            "verify failed after writing the changes: writing and verifying the whole "
            "range once more (did the emulator lose power?)");
        cycle.rewritten = true;
        Transfer("writing", RunWrite);
        passed = !Stopped() && Transfer("verifying", RunVerify);
    }
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    return passed ? StillAnswers("verify") : ReportMismatch();
}

// The edit loop: each time FILE changes, load it afresh and put what changed into the
// emulator. A file that does not load leaves the emulator and the target alone.
int Session::Watch() {
    written_ = std::make_unique<ImageModel>(*model_);
    Say("watching " + File() + " for changes (Ctrl-C ends)");
    bool lastGood = true;
    FileWatch& watch = *watch_;
    // Ctrl-C is the loop's normal end; SIGTERM and SIGHUP end it as signals do.
    const auto stopped = [&]() -> int {
        if (stopSignal == SIGINT) {
            return lastGood ? kExitSuccess : kExitMismatch;
        }
        return Interrupt(lastGood ? "the emulator holds the last image written"
                                  : "the last cycle failed; the target is held in RESET");
    };
    for (;;) {
        if (!watch.WaitForChange(&Stopped)) {
            return stopped();
        }
        const auto began = std::chrono::steady_clock::now();
        const int loaded = LoadImage();
        if (Stopped()) {
            return stopped();
        }
        if (watch.ChangedSinceLastLook()) {
            // Half of an old and half of a new file: wait for it to settle and load it again.
            Say(File() + " changed while it was loaded; waiting for it to settle");
            continue;
        }
        std::string outcome;
        Cycle cycle;
        int status = loaded;
        const bool contentsKnown = written_ != nullptr;
        const char* written = "nothing";
        int verified = -1;
        if (loaded != kExitSuccess) {
            outcome = "does not load; the emulator keeps the last image written";
        } else {
            std::copy_n(image_->DataBuffer.begin(), model_->EpromEnd + 1,
                        model_->DataBuffer.begin());
            status = WriteImage(written_.get(), cycle);
            if (status >= kExitSignal) {
                return status;
            }
            written = cycle.rewritten || !contentsKnown ? "whole range" : "changes";
            verified = invocation_.verify && status != kExitNoEmulator
                           ? (status == kExitSuccess ? 1 : 0)
                           : -1;
            if (status == kExitSuccess) {
                status = HoldAndRelease();
                if (status != kExitSuccess) {
                    return status;
                }
            }
            // What the emulator holds now: the new image, or what a failed verify read back.
            // After a dead link nothing is known, so the next cycle writes everything.
            written_ = status == kExitNoEmulator ? nullptr : std::make_unique<ImageModel>(*model_);
            outcome = status == kExitSuccess
                          ? (invocation_.verify ? "written and verified" : "written") +
                                std::string(cycle.rewritten ? " (the whole range, after a failed "
                                                              "verify)"
                                                            : "") +
                                ", target released"
                          : "failed; the target is held in RESET";
        }
        lastGood = status == kExitSuccess;
        char clock[16];
        const std::time_t now = std::time(nullptr);
        std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
        char took[32];
        std::snprintf(
            took, sizeof took, "%.2f s",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        std::string what;
        if (loaded == kExitSuccess) {
            what = contentsKnown
                       ? Count(cycle.changed, "byte") + " changed in " + Count(cycle.runs, "run")
                       : "whole range written (the emulator's contents were unknown)";
            what += std::string(", ") + took + ", ";
        }
        Say(std::string(clock) + " " + File() + ": " + what + outcome);
        if (JsonEvents* events = host_.Events()) {
            events->Cycle(File(), cycle.changed, cycle.runs, written, verified, status);
        }
    }
}

int Session::Read() {
    if (!WriterAccepts()) {
        return SaveImage();  // fails with the writer's message; nothing is touched
    }
    if (const int status = Steps({&Session::CheckTrace, &Session::PrepareOutput, &Session::OpenPort,
                                  &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    Transfer("reading", RunRead);
    if (Stopped()) {
        return Interrupt(File() + " is left as it was; the target is held in RESET");
    }
    if (const int status = StillAnswers("read"); status != kExitSuccess) {
        return status;  // the file is left as it was
    }
    LeaveReset();
    if (const int status = SaveImage(); status != kExitSuccess) {
        return status;
    }
    Say("read " + std::to_string(Size()) + " bytes from the " + TypeName() + " emulator at " +
        Where() + " into " + File() + " (" + Elapsed() + "); " + LeftState());
    return kExitSuccess;
}

int Session::Verify() {
    if (const int status = Steps({&Session::CheckTrace, &Session::LoadImage, &Session::OpenPort,
                                  &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    const bool passed = Transfer("verifying", RunVerify);
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    int status = passed ? StillAnswers("verify") : ReportMismatch();
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    if (status == kExitNoEmulator) {
        return status;
    }
    LeaveReset();
    if (status == kExitSuccess) {
        Say("the " + TypeName() + " emulator at " + Where() + " holds the " +
            std::to_string(Size()) + " bytes of " + File() + " (" + Elapsed() + "); " +
            LeftState());
    }
    return status;
}

int Session::Reset() {
    port_ = makePort_(invocation_.io ? invocation_.io->c_str() : nullptr);
    if (invocation_.resetAction == ResetAction::Toggle && !invocation_.from &&
        !port_->KeepsControlState()) {
        return Fail(kExitUsage, "reset toggle: with port access " + port_->Backend()->Name() +
                                    " the RESET state from before cannot be read (taking the "
                                    "port holds the target in RESET); give --from hold or "
                                    "--from release");
    }
    if (const int status = Steps({&Session::OpenPort, &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
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
            if (invocation_.from) {
                (*invocation_.from == ResetState::Release ? hold : release) = true;
            } else {
                (WasRunningBefore() ? hold : release) = true;
            }
            break;
        case ResetAction::Pulse:
            hold = release = true;
            break;
    }
    if (hold) {
        HoldReset();
        if (!ResetFeedbackIs(true)) {
            return Fail(kExitNoEmulator, "the emulator at " + Where() +
                                             " does not confirm the target held in RESET "
                                             "(no RESET feedback on status bit 7)");
        }
        if (release) {
            host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
            if (!WaitUnlessStopped(invocation_.resetMs)) {
                return Interrupt("the target is held in RESET");
            }
        }
    }
    if (release) {
        link_->ReleaseEmulator();
        if (!ResetFeedbackIs(false)) {
            return Fail(kExitNoEmulator, "the emulator at " + Where() +
                                             " still reports the target held in RESET after "
                                             "releasing it");
        }
    }
    Say(std::string(release ? (hold ? "target reset and released" : "target released")
                            : "target held in RESET") +
        " by the emulator at " + Where());
    return kExitSuccess;
}

int Session::Test() {
    return invocation_.test.signals ? TestSignals() : TestMemory();
}

// Ctrl-C is the memory test's normal end: the totals and the type still follow.
int Session::TestMemory() {
    if (const int status = Steps({&Session::OpenPort, &Session::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    if (invocation_.type != 0) {
        model_->FillValue = 0xFF;
        link_->SetEpromType(invocation_.type);  // the type the test gives back at its end
    }
    const std::uint32_t passes = invocation_.test.passes;
    host_.Note("memory test of the emulator at " + Where() + ", " +
               (passes ? std::to_string(passes) + (passes == 1 ? " pass" : " passes")
                       : std::string("until Ctrl-C")));
    MemoryTestReport report(*link_, invocation_.quiet);
    report.SetEvents(host_.Events());
    TestRandom random;  // seed 0 at the start of every run of the program
    const MemoryTestCounts counts =
        RunMemoryTest(*link_, random, report, passes ? passes : kMemoryTestPassLimit);
    if (report.LinkLost()) {
        return kExitNoEmulator;
    }
    LeaveReset();
    Say("memory test of the emulator at " + Where() + ": " + std::to_string(counts.executed) +
        (counts.executed == 1 ? " pass, " : " passes, ") + std::to_string(counts.passed) +
        " O.K., " + std::to_string(counts.failed) + " bad" + (Stopped() ? ", stopped" : "") + " (" +
        Elapsed() + ")");
    // Ctrl-C is the test's normal end; SIGTERM and SIGHUP end it as signals do.
    if (Stopped() && stopSignal != SIGINT) {
        return Interrupt(LeftState());
    }
    if (counts.executed == 0) {
        return Fail(kExitMismatch, "memory test: no pass completed, nothing was checked");
    }
    return counts.failed > 0 ? kExitMismatch : kExitSuccess;
}

// No emulator needed: a dead cable or port is what this test is for.
int Session::TestSignals() {
    if (const int status = Steps({&Session::OpenPort}); status != kExitSuccess) {
        return status;
    }
    if (invocation_.port) {
        link_->SetPortAddress(*invocation_.port);
        link_->CheckEmulatorPort(*invocation_.port);
    } else {
        link_->DetectEmulator();  // else the first standard address, as the window does
    }
    const TestInvocation& test = invocation_.test;
    std::string length = "until Ctrl-C";
    if (test.count) {
        length = std::to_string(*test.count) + (*test.count == 1 ? " iteration" : " iterations");
    } else if (test.seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "for %g s", *test.seconds);
        length = text;
    }
    std::string plan = SignalsPlan(test.lines);
    plan.pop_back();  // its last line break
    Say("driving the port at " + Where() + " (" +
        (link_->EmulatorPresent() ? "emulator found" : "no emulator answered") +
        ") with no delay, " + length + ":\n" + plan);
    const SignalsRun run = DriveSignals(*port_, link_->PortAddress(), test.lines, test.count,
                                        test.seconds, link_->StopRequest);
    if (invocation_.type != 0) {
        model_->FillValue = 0xFF;
        link_->SetEpromType(invocation_.type);  // the lines driven may have changed it
    }
    char rate[96];
    std::snprintf(rate, sizeof rate, "%llu iterations in %.2f s: %.0f iterations per second",
                  static_cast<unsigned long long>(run.iterations), run.seconds,
                  run.seconds > 0 ? static_cast<double>(run.iterations) / run.seconds : 0.0);
    Say(std::string(rate) + (Stopped() ? ", stopped" : ""));
    // Ctrl-C is the test's normal end; SIGTERM and SIGHUP end it as signals do.
    return Stopped() && stopSignal != SIGINT ? Interrupt("the port's lines are left as driven")
                                             : kExitSuccess;
}

int Session::Dump() {
    const ImageModel* image = nullptr;
    if (invocation_.emulator) {
        if (const int status =
                Steps({&Session::CheckTrace, &Session::OpenPort, &Session::FindEmulator});
            status != kExitSuccess) {
            return status;
        }
        SelectType();
        Transfer("reading", RunRead);
        if (Stopped()) {
            return Interrupt("nothing was printed; the target is held in RESET");
        }
        if (const int status = StillAnswers("read"); status != kExitSuccess) {
            return status;
        }
        LeaveReset();
        host_.Note("read the " + TypeName() + " emulator at " + Where() + "; " + LeftState());
        image = model_.get();
    } else {
        if (const int status = Steps({&Session::LoadImage}); status != kExitSuccess) {
            return status;
        }
        image = image_.get();
    }
    int error = 0;
    if (JsonEvents* events = host_.Events()) {
        // The events own stdout: each page goes out as one, with the text it would print.
        const std::uint32_t last = LastPage(image->EpromEnd);
        for (std::uint32_t page = invocation_.page.value_or(0);
             page <= invocation_.page.value_or(last) && !events->Failed(); ++page) {
            events->Page(page, BufferPageText(image->DataBuffer, page) + '\n');
        }
        return kExitSuccess;
    }
    if (!PrintPages(stdout, image->DataBuffer, LastPage(image->EpromEnd), invocation_.page,
                    error)) {
        // A reader that has seen enough (head, a pager left early) is no failure to report;
        // the status is the one a process ended by SIGPIPE has.
        if (error == EPIPE) {
            return kExitSignal + kBrokenPipeSignal;
        }
        return Fail(kExitFileError, std::string("cannot write the dump: ") + std::strerror(error));
    }
    return kExitSuccess;
}

}  // namespace

int Main(const std::vector<std::string>& args) {
    return Main(args, [](const char* io) { return CreatePortAccess(io); });
}

int Main(const std::vector<std::string>& args, const PortFactory& makePort) {
    const auto began = std::chrono::steady_clock::now();
    // Looked for before parsing, so that a wrong command line ends in a result event too.
    JsonEvents output;
    JsonEvents* const events =
        std::find(args.begin(), args.end(), "--json") != args.end() ? &output : nullptr;
    std::string command;
    std::uint64_t bytes = 0;
    runStartNanoseconds = MonotonicNanoseconds();
    const auto result = [&](int status) {
        if (!events) {
            return status;
        }
        // From here on the normal path writes the result, and the exit status is the one it
        // reports: a signal now would end the process with another one.
        BlockStopSignals();
        signalResultWanted = false;
        events->Result(
            command, status,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), bytes);
        // Events that could not be written fail a run that did not fail otherwise, as the
        // text would without --json; a reader gone early ends it as SIGPIPE would.
        if (events->Failed() && status == kExitSuccess) {
            return events->WriteErrno() == EPIPE ? kExitSignal + kBrokenPipeSignal
                                                 : static_cast<int>(kExitFileError);
        }
        return status;
    };
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const UsageError& error) {
        const std::string name = error.Command().empty() ? "" : " " + error.Command();
        std::fprintf(stderr, "tarvex: %s\nTry 'tarvex%s --help' for more information.\n",
                     PrintableName(error.what()).c_str(), name.c_str());
        if (events) {
            events->Error(PrintableName(error.what()));
        }
        command = error.Command();
        return result(kExitUsage);
    }
    if (invocation.help) {
        std::fputs(invocation.help->c_str(), stdout);
        return kExitSuccess;
    }
    if (invocation.version) {
        std::printf("tarvex %s\n", TARVEX_VERSION);
        return kExitSuccess;
    }
    InstallSignalHandlers();
    command = invocation.command;
    if (command == "write" || command == "read" || command == "verify") {
        bytes = std::uint64_t{invocation.end} - invocation.start + 1;
    }
    if (events) {
        std::snprintf(signalResultHead, sizeof signalResultHead,
                      "{\"event\":\"result\",\"command\":\"%s\",\"status\":", command.c_str());
        std::snprintf(signalResultTail, sizeof signalResultTail, ",\"bytes\":%llu}",
                      static_cast<unsigned long long>(bytes));
        signalResultWanted = true;
    }
    if (command == "convert") {
        const int status = RunConvert(invocation.convert, events, &bytes, invocation.quiet);
        return result(Stopped() ? kExitSignal + stopSignal : status);
    }
    TerminalHost host(TerminalHost::ModeFor(invocation.quiet));
    host.SetEvents(events);
    Session session(invocation, host, makePort);
    return result(session.Run());
}

}  // namespace tarvex::cli
