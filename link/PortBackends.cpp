#include "link/PortBackends.h"

#include <cstdlib>
#include <string>

#include "sim/SimBackend.h"

namespace tarvex {
namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

}  // namespace

bool IsPortAccessMethod(const std::string& io) {
    if (io == "ppdev" || io == "direct" || io == "sim") {
        return true;
    }
    std::string error;
    return io.rfind("sim:", 0) == 0 && sim::SimBackend::Create(io.substr(4), "", error) != nullptr;
}

std::unique_ptr<TIoPort> CreatePortAccess(const char* io) {
    const std::string choice = io ? io : (Environment("TARVEX_IO") ? Environment("TARVEX_IO") : "");
    std::unique_ptr<PortBackend> backend;
    std::string problem;
    if (choice.empty() || choice == "ppdev") {
        backend = MakePpdevBackend();
    } else if (choice == "direct") {
        backend = MakeDirectBackend();
    } else if (choice == "sim" || choice.rfind("sim:", 0) == 0) {
        const char* state = Environment("TARVEX_SIM_STATE");
        backend = sim::SimBackend::Create(choice.size() > 4 ? choice.substr(4) : "",
                                          state ? state : "", problem);
    } else {
        // The Windows build adds its ioport driver backend here.
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
