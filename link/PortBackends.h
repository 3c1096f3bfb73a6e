#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/IoPort.h"
#include "link/PortBackend.h"

namespace tarvex {

// Tries each backend in turn and works through the first that opens; the failure names
// what was tried and why each did not open. Every backend lives until this one ends, so
// each can undo what its attempt changed.
std::unique_ptr<PortBackend> MakeFirstThatOpens(std::vector<std::unique_ptr<PortBackend>> tries);

#ifdef __linux__
// Linux parallel-port device files through the ppdev ioctls (TARVEX_IO=ppdev, the default).
std::unique_ptr<PortBackend> MakePpdevBackend();
// ioperm + inb/outb (TARVEX_IO=direct); needs CAP_SYS_RAWIO.
std::unique_ptr<PortBackend> MakeDirectBackend();
#endif
// Wraps a backend and records every access to `path` as "W 037A 0C" / "R 0379 78" lines.
std::unique_ptr<PortBackend> MakeTraceBackend(std::unique_ptr<PortBackend> inner,
                                              const std::string& path);

// The valid TARVEX_IO values, for messages.
#if defined(__linux__)
inline constexpr const char* kIoValues =
    "ppdev (the default), direct, sim, sim:none, sim:0x278,...";
#elif defined(_WIN32)
inline constexpr const char* kIoValues =
    "driver, inpout (the default tries driver, then inpout), sim, sim:none, sim:0x278,...";
#else
inline constexpr const char* kIoValues = "sim (the default), sim:none, sim:0x278,...";
#endif

// Whether `io` is a valid TARVEX_IO value.
bool IsPortAccessMethod(const std::string& io);

// Port access as TARVEX_IO, TARVEX_TRACE and TARVEX_SIM_STATE ask for. `io` overrides
// TARVEX_IO when not null. An unknown value gives a TIoPort that never opens and whose
// failure message lists the valid values.
std::unique_ptr<TIoPort> CreatePortAccess(const char* io = nullptr);

}  // namespace tarvex
