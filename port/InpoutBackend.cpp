#include "port/InpoutBackend.h"

#include <atomic>
#include <cstdint>
#include <utility>

namespace tarvex {
namespace {

// The DLL's exports use the Win32 calling convention, which only 32-bit x86 tells apart.
#if defined(_WIN32) && !defined(_WIN64)
#define TARVEX_WINAPI __stdcall
#else
#define TARVEX_WINAPI
#endif

using IsDriverOpen = int(TARVEX_WINAPI*)();
using ReadUchar = std::uint8_t(TARVEX_WINAPI*)(std::uint16_t);
using WriteUchar = void(TARVEX_WINAPI*)(std::uint16_t, std::uint8_t);
using Inp32 = short(TARVEX_WINAPI*)(short);
using Out32 = void(TARVEX_WINAPI*)(short, short);

constexpr std::uint32_t kErrorProcedureNotFound = 127;
constexpr std::uint32_t kErrorGeneralFailure = 31;

// The exports, set together at Open and read by two threads afterwards.
struct Exports {
    ReadUchar readUchar = nullptr;
    WriteUchar writeUchar = nullptr;
    Inp32 inp32 = nullptr;
    Out32 out32 = nullptr;
};

template <typename Function>
Function Export(WindowsCalls& calls, WindowsCalls::Handle module, const char* name) {
    return reinterpret_cast<Function>(calls.GetProcAddress(module, name));
}

class InpoutBackend final : public PortBackend {
  public:
    InpoutBackend(std::shared_ptr<WindowsCalls> calls, std::string dll)
        : calls_(std::move(calls)), dll_(std::move(dll)) {}
    ~InpoutBackend() override { Close(); }

    bool Open(OpenFailure& failure) override {
        Close();
        module_ = calls_->LoadLibrary(dll_);
        if (module_ == 0) {
            return Fail(failure, "cannot load " + dll_, calls_->LastError());
        }
        Exports exports;
        exports.readUchar = Export<ReadUchar>(*calls_, module_, "DlPortReadPortUchar");
        exports.writeUchar = Export<WriteUchar>(*calls_, module_, "DlPortWritePortUchar");
        if (!exports.readUchar || !exports.writeUchar) {
            exports = {};
            exports.inp32 = Export<Inp32>(*calls_, module_, "Inp32");
            exports.out32 = Export<Out32>(*calls_, module_, "Out32");
        }
        if (!exports.inp32 && !exports.readUchar) {
            Unload();
            return Fail(failure, dll_ + " has neither DlPortReadPortUchar nor Inp32",
                        kErrorProcedureNotFound);
        }
        // Builds without this export open their driver when they load; theirs are taken
        // at their word.
        if (const auto isOpen = Export<IsDriverOpen>(*calls_, module_, "IsInpOutDriverOpen");
            isOpen && isOpen() == 0) {
            Unload();
            failure.code = kErrorGeneralFailure;
            failure.detail = dll_ +
                             " loaded, but its driver did not open: run the program once as "
                             "administrator so that InpOut can install its driver";
            return false;
        }
        exports_ = exports;
        open_.store(true, std::memory_order_release);
        return true;
    }

    void Close() override {
        open_.store(false, std::memory_order_release);
        Unload();
    }

    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        if (!open_.load(std::memory_order_acquire)) {
            error = 6;
            return 0;
        }
        if (exports_.readUchar) {
            return exports_.readUchar(port);
        }
        return static_cast<std::uint8_t>(exports_.inp32(static_cast<short>(port)) & 0xFF);
    }

    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        if (!open_.load(std::memory_order_acquire)) {
            error = 6;
            return;
        }
        if (exports_.writeUchar) {
            exports_.writeUchar(port, value);
        } else {
            exports_.out32(static_cast<short>(port), static_cast<short>(value));
        }
    }

    std::string FailureHint() const override {
        return "Check that " + dll_ +
               " (InpOut, installed separately) lies beside the program or on the PATH\r";
    }
    std::string Name() const override { return "inpout"; }

  private:
    bool Fail(OpenFailure& failure, const std::string& step, std::uint32_t code) {
        failure.code = code;
        failure.detail =
            step + ": " + calls_->ErrorText(code) + " (error " + std::to_string(code) + ")";
        return false;
    }

    void Unload() {
        exports_ = {};
        if (module_ != 0) {
            calls_->FreeLibrary(std::exchange(module_, 0));
        }
    }

    std::shared_ptr<WindowsCalls> calls_;
    std::string dll_;
    WindowsCalls::Handle module_ = 0;
    Exports exports_;
    std::atomic<bool> open_{false};
};

}  // namespace

std::unique_ptr<PortBackend> MakeInpoutBackend(std::shared_ptr<WindowsCalls> calls,
                                               std::string dll) {
    return std::make_unique<InpoutBackend>(std::move(calls), std::move(dll));
}

}  // namespace tarvex
