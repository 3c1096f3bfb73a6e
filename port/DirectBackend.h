#pragma once

#include <memory>

#include "port/PortBackend.h"
#include "port/SystemCalls.h"

namespace tarvex {

// Port instructions issued by the program itself; `instructions` is nullptr where the
// processor has none, and Open then says so.
std::unique_ptr<PortBackend> MakeDirectBackend(std::shared_ptr<PortInstructions> instructions);

}  // namespace tarvex
