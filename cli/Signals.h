#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>

namespace tarvex::cli {

// Ctrl-C, SIGTERM and SIGHUP stop a run at the next byte: the first sets the stop flag, a
// second ends the process at once (leaving no temporary file, and under --json its result).
void InstallSignalHandlers();
// Whether a stop signal came, and which (0: none).
bool Stopped();
int StopSignal();
// The transfer's StopRequest, set by the first stop signal (already set if one came).
void SetStopFlag(std::atomic<std::uint8_t>* flag);
// From here on no stop signal is taken: the run is reporting its outcome.
void BlockStopSignals();

// --json: the result line a signal that ends the run at once writes; `StartRunClock` is its
// elapsed time's start. Disarmed once the run writes its own result.
void StartRunClock();
void PrepareSignalResult(const std::string& command, std::uint64_t bytes);
void DisarmSignalResult();

// The signal a write to a closed pipe raises where signals do (13 on Linux).
#ifdef SIGPIPE
inline constexpr int kBrokenPipeSignal = SIGPIPE;
#else
inline constexpr int kBrokenPipeSignal = 13;
#endif

}  // namespace tarvex::cli
