#include "link/PortBackends.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "port/Backends.h"
#include "port/SimBackend.h"
#ifdef _WIN32
#include "port/DriverBackend.h"
#include "port/InpoutBackend.h"
#endif

namespace tarvex {
namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// This platform's own ways to the ports; null, with `known` false, when `choice` names none.
std::unique_ptr<PortBackend> PlatformBackend(const std::string& choice, bool& known) {
    known = true;
#if defined(__linux__)
    if (choice.empty() || choice == "ppdev") {
        return MakePpdevBackend();
    }
    if (choice == "direct") {
        return MakeDirectBackend();
    }
#elif defined(_WIN32)
    // Without a choice: whichever of the two drivers the user has.
    if (choice.empty()) {
        std::vector<std::unique_ptr<PortBackend>> tries;
        tries.push_back(MakeDriverBackend(MakeWin32Calls()));
        tries.push_back(MakeInpoutBackend(MakeWin32Calls()));
        return MakeFirstThatOpens(std::move(tries));
    }
    if (choice == "driver") {
        return MakeDriverBackend(MakeWin32Calls());
    }
    if (choice == "inpout") {
        return MakeInpoutBackend(MakeWin32Calls());
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
#elif defined(_WIN32)
    if (io == "driver" || io == "inpout") {
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
