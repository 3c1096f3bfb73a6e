#pragma once

#include <memory>
#include <string>

#include "port/PortBackend.h"
#include "port/WindowsCalls.h"

namespace tarvex {

// The InpOut DLL of this build's word size: inpoutx64.dll, or inpout32.dll in a 32-bit build.
inline constexpr const char* kInpoutDll = sizeof(void*) == 8 ? "inpoutx64.dll" : "inpout32.dll";

// InpOut (TARVEX_IO=inpout): a separately installed port-I/O driver for current Windows,
// reached through its DLL, loaded at run time from `dll`.
std::unique_ptr<PortBackend> MakeInpoutBackend(std::shared_ptr<WindowsCalls> calls,
                                               std::string dll = kInpoutDll);

}  // namespace tarvex
