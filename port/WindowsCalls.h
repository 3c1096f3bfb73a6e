#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarvex {

// The Win32 calls of the Windows port backends, in plain types so that the backends build
// and are tested anywhere: a fake stands in for the service manager, the driver and the DLL.
// Calls that fail leave their code for LastError, as Win32 does.
class WindowsCalls {
  public:
    using Handle = std::uintptr_t;
    // CreateFile's failure value (INVALID_HANDLE_VALUE); the service calls fail with 0.
    static constexpr Handle kInvalidHandle = ~Handle{0};

    virtual ~WindowsCalls() = default;

    // GetVersionExA: false when the query fails.
    virtual bool GetVersion(std::uint32_t& platformId, std::uint32_t& major,
                            std::uint32_t& minor) = 0;
    virtual std::uint32_t LastError() = 0;
    // "Access is denied." for 5, as FormatMessage gives it.
    virtual std::string ErrorText(std::uint32_t code) = 0;

    virtual std::string CurrentDirectory() = 0;  // GetCurrentDirectoryA
    virtual std::string SystemDirectory() = 0;   // GetSystemDirectoryA
    virtual bool FileExists(const std::string& path) = 0;

    virtual Handle OpenSCManager(std::uint32_t access) = 0;
    virtual Handle CreateService(Handle manager, const std::string& name,
                                 const std::string& displayName, std::uint32_t access,
                                 std::uint32_t type, std::uint32_t start,
                                 std::uint32_t errorControl, const std::string& imagePath) = 0;
    virtual Handle OpenService(Handle manager, const std::string& name, std::uint32_t access) = 0;
    virtual bool StartService(Handle service) = 0;
    virtual bool ControlService(Handle service, std::uint32_t control) = 0;
    virtual bool DeleteService(Handle service) = 0;
    // QueryServiceStatus's current state (1 stopped, 2 start pending, ... 4 running); 0 when
    // the query fails.
    virtual std::uint32_t ServiceState(Handle service) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    virtual bool CloseServiceHandle(Handle handle) = 0;

    virtual Handle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                              std::uint32_t disposition, std::uint32_t attributes) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
    virtual bool DeviceIoControl(Handle device, std::uint32_t code, const void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize,
                                 std::uint32_t& returned) = 0;

    // LoadLibraryA / GetProcAddress / FreeLibrary; 0 or nullptr on failure.
    virtual Handle LoadLibrary(const std::string& name) = 0;
    virtual void* GetProcAddress(Handle module, const std::string& name) = 0;
    virtual bool FreeLibrary(Handle module) = 0;
};

#ifdef _WIN32
// The system's own calls.
std::shared_ptr<WindowsCalls> MakeWin32Calls();
#endif

}  // namespace tarvex
