#include "link/PortBackends.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "sim/SimBackend.h"

namespace tarvex {
namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// This platform's own ways to the ports; null, with `known` false, when `choice` names none.
std::unique_ptr<PortBackend> PlatformBackend([[maybe_unused]] const std::string& choice,
                                             bool& known) {
    known = true;
#if defined(__linux__)
    if (choice.empty() || choice == "ppdev") {
        return MakePpdevBackend();
    }
    if (choice == "direct") {
        return MakeDirectBackend();
    }
#endif
    known = false;
    return nullptr;
}

}  // namespace

bool IsPortAccessMethod(const std::string& io) {
#if defined(__linux__)
    if (io == "ppdev" || io == "direct") {
        return true;
    }
#endif
    if (io == "sim") {
        return true;
    }
    std::string error;
    return io.rfind("sim:", 0) == 0 && sim::SimBackend::Create(io.substr(4), "", error) != nullptr;
}

std::unique_ptr<TIoPort> CreatePortAccess(const char* io) {
    const std::string choice = io ? io : (Environment("TARVEX_IO") ? Environment("TARVEX_IO") : "");
    bool known = false;
    std::unique_ptr<PortBackend> backend = PlatformBackend(choice, known);
    std::string problem;
    if (!known && (choice.empty() || choice == "sim" || choice.rfind("sim:", 0) == 0)) {
        const char* state = Environment("TARVEX_SIM_STATE");
        backend = sim::SimBackend::Create(choice.size() > 4 ? choice.substr(4) : "",
                                          state ? state : "", problem);
    } else if (!known) {
        problem = "TARVEX_IO=" + choice + " is not a port access method.";
    }
    if (!backend) {
        return std::make_unique<TIoPort>(
            nullptr, problem + "\rValid TARVEX_IO values: " + std::string(kIoValues) + "\r");
    }
    if (const char* trace = Environment("TARVEX_TRACE")) {
        backend = MakeTraceBackend(std::move(backend), trace);
    }
    return std::make_unique<TIoPort>(std::move(backend));
}

}  // namespace tarvex
