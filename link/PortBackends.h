#pragma once

#include <memory>
#include <string>

#include "link/IoPort.h"
#include "port/Backends.h"

namespace tarvex {

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
