#include "port/DriverBackend.h"

#include <atomic>
#include <string>
#include <utility>

namespace tarvex {
namespace {

using Handle = WindowsCalls::Handle;

constexpr const char* kDriverName = "Ioport";
constexpr std::uint32_t kManagerAllAccess = 0xF003F;
constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
constexpr std::uint32_t kKernelDriver = 1;
constexpr std::uint32_t kDemandStart = 3;
constexpr std::uint32_t kErrorNormal = 1;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
// How long the end waits for a service it created to stop before deleting it.
constexpr int kStopPolls = 100;
constexpr std::uint32_t kStopPollMs = 100;
constexpr std::uint32_t kGenericReadWrite = 0xC0000000;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kNormalFile = 0x80;
constexpr std::uint32_t kErrorServiceExists = 1073;
constexpr std::uint32_t kErrorServiceRunning = 1056;
constexpr std::uint32_t kErrorInvalidHandle = 6;

class DriverBackend final : public PortBackend {
  public:
    explicit DriverBackend(std::shared_ptr<WindowsCalls> calls) : calls_(std::move(calls)) {
        std::uint32_t platform = 0, major = 0, minor = 0;
        if (calls_->GetVersion(platform, major, minor)) {
            kind_ = OSKindOf(platform, major, minor);
        }
        service_ = TakesServicePath(kind_);
        readCode_ = service_ ? kServiceReadCode : kVxdReadCode;
        writeCode_ = service_ ? kServiceWriteCode : kVxdWriteCode;
    }

    ~DriverBackend() override {
        Close();
        if (service_) {
            Release();
        }
    }

    bool Open(OpenFailure& failure) override {
        Close();
        return service_ ? OpenService(failure) : OpenVxd(failure);
    }

    void Close() override {
        const Handle driver = driver_.exchange(WindowsCalls::kInvalidHandle);
        if (driver != WindowsCalls::kInvalidHandle) {
            calls_->CloseHandle(driver);
        }
    }

    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        const Handle driver = driver_.load(std::memory_order_acquire);
        if (driver == WindowsCalls::kInvalidHandle) {
            error = kErrorInvalidHandle;
            return 0;
        }
        const std::uint8_t request[2] = {static_cast<std::uint8_t>(port & 0xFF),
                                         static_cast<std::uint8_t>(port >> 8)};
        std::uint8_t reply[2] = {};
        std::uint32_t returned = 0;
        if (!calls_->DeviceIoControl(driver, readCode_, request, sizeof request, reply,
                                     sizeof reply, returned)) {
            error = calls_->LastError();
            return 0;
        }
        return reply[0];
    }

    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        const Handle driver = driver_.load(std::memory_order_acquire);
        if (driver == WindowsCalls::kInvalidHandle) {
            error = kErrorInvalidHandle;
            return;
        }
        // Port (little-endian), value, one pad byte. Built per call, not kept in the object,
        // because the timer and the batch worker may write at the same time.
        const std::uint8_t request[4] = {static_cast<std::uint8_t>(port & 0xFF),
                                         static_cast<std::uint8_t>(port >> 8), value, 0};
        std::uint8_t discarded[2] = {};
        std::uint32_t returned = 0;
        if (!calls_->DeviceIoControl(driver, writeCode_, request, sizeof request, discarded,
                                     sizeof discarded, returned)) {
            error = calls_->LastError();
        }
    }

    std::string FailureHint() const override { return kDriverFailureHint; }
    std::string Name() const override { return "driver"; }

  private:
    bool Fail(OpenFailure& failure, const std::string& step, std::uint32_t code) {
        failure.code = code;
        failure.detail =
            step + ": " + calls_->ErrorText(code) + " (error " + std::to_string(code) + ")";
        return false;
    }

    bool OpenService(OpenFailure& failure) {
        const Handle manager = calls_->OpenSCManager(kManagerAllAccess);
        if (manager == 0) {
            return Fail(failure, "cannot open the service manager (administrator rights needed)",
                        calls_->LastError());
        }

        // Ioport.sys beside the program's working folder, else the one in the system folder,
        // whether it is there or not (then the start fails and says so).
        std::string image = calls_->CurrentDirectory() + "\\" + kDriverName + ".sys";
        if (!calls_->FileExists(image)) {
            image = calls_->SystemDirectory() + "\\" + kDriverName + ".sys";
        }
        std::uint32_t error = 0;
        const Handle created =
            calls_->CreateService(manager, kDriverName, kDriverName, kServiceAllAccess,
                                  kKernelDriver, kDemandStart, kErrorNormal, image);
        if (created != 0) {
            created_ = true;
            calls_->CloseServiceHandle(created);
        } else {
            error = calls_->LastError();
        }
        if (error == kErrorServiceExists) {
            error = 0;  // installed before this run: it stays installed
        } else if (error != 0) {
            calls_->CloseServiceHandle(manager);
            return Fail(failure, "cannot install the service Ioport from " + image, error);
        }

        std::string step;
        const Handle service = calls_->OpenService(manager, kDriverName, kServiceAllAccess);
        if (service == 0) {
            error = calls_->LastError();
            step = "cannot open the service Ioport";
        } else {
            if (calls_->StartService(service)) {
                started_ = true;
            } else {
                error = calls_->LastError();
                step = "cannot start the service Ioport";
            }
            calls_->CloseServiceHandle(service);
        }
        if (error == kErrorServiceRunning) {
            error = 0;  // running before this run: it keeps running
        }
        calls_->CloseServiceHandle(manager);
        if (error != 0) {
            return Fail(failure, step + (created_ ? " (driver file " + image + ")" : ""), error);
        }

        const Handle driver = calls_->CreateFile(std::string("\\\\.\\") + kDriverName,
                                                 kGenericReadWrite, 0, kOpenExisting, kNormalFile);
        if (driver == WindowsCalls::kInvalidHandle) {
            return Fail(failure, "cannot open \\\\.\\Ioport", calls_->LastError());
        }
        driver_.store(driver, std::memory_order_release);
        return true;
    }

    bool OpenVxd(OpenFailure& failure) {
        Handle driver = calls_->CreateFile("\\\\.\\ioport.vxd", 0, 0, 0, 0);
        if (driver == WindowsCalls::kInvalidHandle) {
            driver = calls_->CreateFile("\\\\.\\" + calls_->SystemDirectory() + "\\ioport.vxd", 0,
                                        0, 0, 0);
        }
        if (driver == WindowsCalls::kInvalidHandle) {
            return Fail(failure, "cannot open ioport.vxd", calls_->LastError());
        }
        driver_.store(driver, std::memory_order_release);
        return true;
    }

    // Stops the service only if this run started or created it and deletes it only if this
    // run created it; failures here have no one left to tell.
    void Release() {
        if (!started_ && !created_) {
            return;
        }
        const Handle manager = calls_->OpenSCManager(kManagerAllAccess);
        if (manager == 0) {
            return;
        }
        // A service this run created is stopped too, whatever its start reported: one left
        // starting cannot be deleted.
        if (started_ || created_) {
            if (const Handle service =
                    calls_->OpenService(manager, kDriverName, kServiceAllAccess)) {
                calls_->ControlService(service, kControlStop);
                calls_->CloseServiceHandle(service);
            }
        }
        if (created_) {
            if (const Handle service =
                    calls_->OpenService(manager, kDriverName, kServiceAllAccess)) {
                // A service still starting or stopping is only marked for deletion, and
                // some systems then keep it for good: delete it once it has stopped.
                for (int poll = 0; poll < kStopPolls; ++poll) {
                    const std::uint32_t state = calls_->ServiceState(service);
                    if (state != kServiceStartPending && state != kServiceStopPending) {
                        break;
                    }
                    calls_->Sleep(kStopPollMs);
                }
                calls_->DeleteService(service);
                calls_->CloseServiceHandle(service);
            }
        }
        calls_->CloseServiceHandle(manager);
        started_ = created_ = false;
    }

    std::shared_ptr<WindowsCalls> calls_;
    OSKind kind_ = OSKind::osUnknown;
    bool service_ = false;
    std::uint32_t readCode_ = 0;
    std::uint32_t writeCode_ = 0;
    bool created_ = false;  // CreateService succeeded in this run
    bool started_ = false;  // StartService succeeded in this run
    std::atomic<Handle> driver_{WindowsCalls::kInvalidHandle};
};

}  // namespace

OSKind OSKindOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
    switch (platformId) {
        case 0:
            return OSKind::osWin32s;
        case 1:
            return minor == 0    ? OSKind::osWin95
                   : minor == 10 ? OSKind::osWin98
                   : minor == 90 ? OSKind::osWinME
                                 : OSKind::osUnknown;
        case 2:
            return major == 4   ? OSKind::osWinNT4
                   : major == 5 ? OSKind::osWinNT5
                   : major >= 6 ? OSKind::osWinNT6
                                : OSKind::osUnknown;
        default:
            return OSKind::osUnknown;
    }
}

bool TakesServicePath(OSKind kind) {
    return kind == OSKind::osWinNT4 || kind == OSKind::osWinNT5 || kind == OSKind::osWinNT6;
}

std::unique_ptr<PortBackend> MakeDriverBackend(std::shared_ptr<WindowsCalls> calls) {
    return std::make_unique<DriverBackend>(std::move(calls));
}

}  // namespace tarvex
