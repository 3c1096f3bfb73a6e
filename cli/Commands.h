#pragma once

#include <string>
#include <vector>

namespace tarvex::cli {

// Runs `tarvex` with the words after the program name; returns the exit status.
int Main(const std::vector<std::string>& args);

}  // namespace tarvex::cli
