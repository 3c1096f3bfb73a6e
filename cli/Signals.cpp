#include "cli/Signals.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "cli/CommandLine.h"
#include "image/SafeOutputFile.h"

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

}  // namespace

#ifdef _WIN32
namespace {

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

}  // namespace

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

int StopSignal() {
    return stopSignal;
}

void SetStopFlag(std::atomic<std::uint8_t>* flag) {
    stopFlag.store(flag);
    if (flag && stopSignal != 0) {
        flag->store(1);
    }
}

void StartRunClock() {
    runStartNanoseconds = MonotonicNanoseconds();
}

void PrepareSignalResult(const std::string& command, std::uint64_t bytes) {
    std::snprintf(signalResultHead, sizeof signalResultHead,
                  "{\"event\":\"result\",\"command\":\"%s\",\"status\":", command.c_str());
    std::snprintf(signalResultTail, sizeof signalResultTail, ",\"bytes\":%llu}",
                  static_cast<unsigned long long>(bytes));
    signalResultWanted = true;
}

void DisarmSignalResult() {
    BlockStopSignals();
    signalResultWanted = false;
}

}  // namespace tarvex::cli
