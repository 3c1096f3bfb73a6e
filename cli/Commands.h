#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/IoPort.h"

namespace tarvex::cli {

// Makes the port access for a --io value (null: TARVEX_IO decides); not yet opened.
using PortFactory = std::function<std::unique_ptr<TIoPort>(const char* io)>;

// Runs `tarvex` with the words after the program name; returns the exit status.
int Main(const std::vector<std::string>& args);
// The same over other port access, such as a test's stand-in for the kernel.
int Main(const std::vector<std::string>& args, const PortFactory& makePort);

}  // namespace tarvex::cli
