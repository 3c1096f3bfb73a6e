#include "port/DirectBackend.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "port/Backends.h"

namespace tarvex {
namespace {

// The kernel grants port permission to a thread, not to the process, so every thread
// asks on its first access. A new number at each Open keeps a thread from relying on
// what it was granted for an earlier open.
std::atomic<std::uint64_t> nextGeneration{1};

struct ThreadPermission {
    std::uint64_t generation = 0;
    int error = 0;
};
thread_local ThreadPermission threadPermission;

constexpr const char* kPermissionAdvice =
    " — direct I/O needs root or CAP_SYS_RAWIO, and fails under Secure Boot kernel lockdown "
    "even as root; use TARVEX_IO=ppdev instead";

std::string PermissionProblem(const char* call, int error) {
    std::string text = std::string(call) + ": " + std::strerror(error);
    if (error == EPERM || error == EACCES) {
        return text + kPermissionAdvice;
    }
    return text + " — this kernel offers no direct port access; use TARVEX_IO=ppdev instead";
}

class DirectBackend final : public PortBackend {
  public:
    explicit DirectBackend(std::shared_ptr<PortInstructions> instructions)
        : instructions_(std::move(instructions)) {}

    bool Open(OpenFailure& failure) override {
        if (!instructions_) {
            failure.code = ENOSYS;
            failure.detail = "direct I/O (TARVEX_IO=direct) is x86 only; use TARVEX_IO=ppdev";
            return false;
        }
        const std::uint64_t generation = nextGeneration.fetch_add(1);
        const char* call = nullptr;
        const int error = RequestPermission(call);
        threadPermission = {generation, error};
        if (error != 0) {
            failure.code = static_cast<std::uint32_t>(error);
            failure.detail = PermissionProblem(call, error);
            return false;
        }
        generation_.store(generation, std::memory_order_release);
        return true;
    }

    void Close() override { generation_.store(0, std::memory_order_release); }

    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        if (const int denied = Permission()) {
            error = static_cast<std::uint32_t>(denied);
            return 0;
        }
        return instructions_->In(port);
    }

    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        if (const int denied = Permission()) {
            error = static_cast<std::uint32_t>(denied);
            return;
        }
        instructions_->Out(port, value);
    }

    std::string FailureHint() const override {
        return "Check the privileges for direct port access (TARVEX_IO=direct):\r"
               "- run as root, or give the program CAP_SYS_RAWIO "
               "(sudo setcap cap_sys_rawio+ep PROGRAM)\r"
               "- with Secure Boot the kernel lockdown refuses port access even to root: "
               "use TARVEX_IO=ppdev\r";
    }

    std::string Name() const override { return "direct"; }

  private:
    // 0 when the calling thread may use the port instructions, else the errno that
    // refused it. Without permission an in or out instruction kills the process.
    int Permission() {
        const std::uint64_t generation = generation_.load(std::memory_order_acquire);
        if (generation == 0) {
            return EBADF;
        }
        if (threadPermission.generation != generation) {
            const char* call = nullptr;
            threadPermission = {generation, RequestPermission(call)};
        }
        return threadPermission.error;
    }

    int RequestPermission(const char*& call) {
        call = "ioperm";
        int result = instructions_->Ioperm(0, 0x10000, true);
        // Kernels before 2.6.8 grant ioperm only below port 0x400; iopl opens all ports.
        if (result == -EINVAL) {
            call = "iopl";
            result = instructions_->Iopl(3);
        }
        return -result;
    }

    std::shared_ptr<PortInstructions> instructions_;
    std::atomic<std::uint64_t> generation_{0};
};

}  // namespace

std::unique_ptr<PortBackend> MakeDirectBackend(std::shared_ptr<PortInstructions> instructions) {
    return std::make_unique<DirectBackend>(std::move(instructions));
}

std::unique_ptr<PortBackend> MakeDirectBackend() {
    return MakeDirectBackend(MakeX86PortInstructions());
}

}  // namespace tarvex
