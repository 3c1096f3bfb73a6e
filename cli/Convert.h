#pragma once

#include <string>
#include <vector>

namespace tarvex::cli {

// `tarvex convert INPUT OUTPUT --type T [...]`: `args` are the words after "convert".
// Returns the exit status (0, 2 usage, 4 load or save failed).
int RunConvert(const std::vector<std::string>& args);

}  // namespace tarvex::cli
