#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/PortBackend.h"

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

}  // namespace tarvex
