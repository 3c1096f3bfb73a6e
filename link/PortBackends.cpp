#include "link/PortBackends.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "sim/SimBackend.h"
#ifdef _WIN32
#include "link/DriverBackend.h"
#include "link/InpoutBackend.h"
#endif

namespace tarvex {
namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

class FirstThatOpens final : public PortBackend {
  public:
    explicit FirstThatOpens(std::vector<std::unique_ptr<PortBackend>> tries)
        : tries_(std::move(tries)) {}

    bool Open(OpenFailure& failure) override {
        Close();
        failure = {};
        for (auto& backend : tries_) {
            OpenFailure attempt;
            if (backend->Open(attempt)) {
                active_ = backend.get();
                failure = {};
                return true;
            }
            failure.code = attempt.code;
            if (!failure.detail.empty()) {
                failure.detail += '\r';
            }
            failure.detail.append("TARVEX_IO=").append(backend->Name()).append(": ");
            failure.detail.append(attempt.detail);
        }
        return false;
    }

    void Close() override {
        if (active_) {
            std::exchange(active_, nullptr)->Close();
        }
    }

    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        if (!active_) {
            error = 6;
            return 0;
        }
        return active_->Read(port, error);
    }

    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        if (!active_) {
            error = 6;
            return;
        }
        active_->Write(port, value, error);
    }

    void LetGo(std::uint16_t base) override {
        if (active_) {
            active_->LetGo(base);
        }
    }
    std::string PortProblem(std::uint16_t base) const override {
        return active_ ? active_->PortProblem(base) : "";
    }
    bool KeepsControlState() const override { return !active_ || active_->KeepsControlState(); }
    std::optional<bool> HasPort(std::uint16_t base) const override {
        return active_ ? active_->HasPort(base) : std::nullopt;
    }

    std::string FailureHint() const override {
        std::string hint;
        for (const auto& backend : tries_) {
            hint += backend->FailureHint();
        }
        return hint;
    }

    std::string Name() const override {
        if (active_) {
            return active_->Name();
        }
        std::string names;
        for (const auto& backend : tries_) {
            names.append(names.empty() ? "" : " or ").append(backend->Name());
        }
        return names;
    }

    std::string Problem() const override { return active_ ? active_->Problem() : ""; }

  private:
    std::vector<std::unique_ptr<PortBackend>> tries_;
    PortBackend* active_ = nullptr;
};

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

std::unique_ptr<PortBackend> MakeFirstThatOpens(std::vector<std::unique_ptr<PortBackend>> tries) {
    return std::make_unique<FirstThatOpens>(std::move(tries));
}

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
