#include "port/Backends.h"

#include <utility>

namespace tarvex {
namespace {

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

}  // namespace

std::unique_ptr<PortBackend> MakeFirstThatOpens(std::vector<std::unique_ptr<PortBackend>> tries) {
    return std::make_unique<FirstThatOpens>(std::move(tries));
}

}  // namespace tarvex
