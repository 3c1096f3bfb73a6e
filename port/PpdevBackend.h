#pragma once

#include <memory>
#include <string>

#include "port/PortBackend.h"
#include "port/SystemCalls.h"

namespace tarvex {

inline constexpr const char* kParportProcRoot = "/proc/sys/dev/parport";

// The ppdev backend over the given calls. The kernel's parport list is read from
// `procRoot` (parportN/base-addr) and the device files are `deviceDirectory`/parportN.
std::unique_ptr<PortBackend> MakePpdevBackend(std::shared_ptr<SystemCalls> system,
                                              std::string procRoot = kParportProcRoot,
                                              std::string deviceDirectory = "/dev");

}  // namespace tarvex
