#pragma once

#include "cli/CommandLine.h"

namespace tarvex::cli {

// `tarvex convert INPUT OUTPUT --type T [...]`. Returns the exit status (0, 2 usage: a range
// or fill value the Options window would refuse, 4 load or save failed).
int RunConvert(const ConvertInvocation& arguments);

}  // namespace tarvex::cli
