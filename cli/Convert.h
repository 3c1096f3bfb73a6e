#pragma once

#include <cstdint>

#include "cli/CommandLine.h"
#include "cli/JsonEvents.h"

namespace tarvex::cli {

// `tarvex convert INPUT OUTPUT --type T [...]`. Returns the exit status (0, 2 usage: a range
// or fill value the Options window would refuse, 4 load or save failed).
// With `events`, each message also goes out as an event. `bytes`: the range's size.
// `quiet` keeps information boxes off stderr; errors and warnings still show.
int RunConvert(const ConvertInvocation& arguments, JsonEvents* events = nullptr,
               std::uint64_t* bytes = nullptr, bool quiet = false);

}  // namespace tarvex::cli
