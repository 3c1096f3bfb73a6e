#include "link/PortBackends.h"

namespace tarvex {
namespace {

// Placeholder until the ppdev backend lands.
class UnavailableBackend : public PortBackend {
  public:
    bool Open(OpenFailure& failure) override {
        failure.code = 2;
        failure.detail = "not built yet";
        return false;
    }
    void Close() override {}
    std::uint8_t Read(std::uint16_t, std::uint32_t& error) override {
        error = 6;
        return 0;
    }
    void Write(std::uint16_t, std::uint8_t, std::uint32_t& error) override { error = 6; }
    std::string FailureHint() const override { return ""; }
    std::string Name() const override { return "ppdev"; }
};

}  // namespace

std::unique_ptr<PortBackend> MakePpdevBackend() {
    return std::make_unique<UnavailableBackend>();
}
std::unique_ptr<PortBackend> MakeDirectBackend() {
    return std::make_unique<UnavailableBackend>();
}

}  // namespace tarvex
