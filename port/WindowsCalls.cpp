#include "port/WindowsCalls.h"

#include <windows.h>

// The seam's methods carry the Win32 names, which windows.h turns into macros.
#undef CreateFile
#undef CreateService
#undef LoadLibrary
#undef OpenSCManager
#undef OpenService
#undef StartService

namespace tarvex {
namespace {

HANDLE AsHandle(WindowsCalls::Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
SC_HANDLE AsService(WindowsCalls::Handle handle) {
    return reinterpret_cast<SC_HANDLE>(handle);
}
WindowsCalls::Handle FromPointer(const void* pointer) {
    return reinterpret_cast<WindowsCalls::Handle>(pointer);
}

std::string Directory(UINT (*query)(LPSTR, UINT)) {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = query(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

UINT CurrentDirectoryQuery(LPSTR buffer, UINT size) {
    return GetCurrentDirectoryA(size, buffer);
}

class Win32Calls final : public WindowsCalls {
  public:
    bool GetVersion(std::uint32_t& platformId, std::uint32_t& major,
                    std::uint32_t& minor) override {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;  // 148
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!GetVersionExA(&info)) {
            return false;
        }
#pragma GCC diagnostic pop
        platformId = info.dwPlatformId;
        major = info.dwMajorVersion;
        minor = info.dwMinorVersion;
        return true;
    }

    std::uint32_t LastError() override {
        return GetLastError();
    }

    std::string ErrorText(std::uint32_t code) override {
        char* text = nullptr;
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        std::string message = length > 0 && text ? std::string(text, length) : "unknown error";
        LocalFree(text);
        while (!message.empty() &&
               (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
            message.pop_back();
        }
        return message;
    }

    std::string CurrentDirectory() override {
        return Directory(CurrentDirectoryQuery);
    }
    std::string SystemDirectory() override {
        return Directory(GetSystemDirectoryA);
    }
    bool FileExists(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    Handle OpenSCManager(std::uint32_t access) override {
        return FromPointer(OpenSCManagerA(nullptr, nullptr, access));
    }
    Handle CreateService(Handle manager, const std::string& name, const std::string& displayName,
                         std::uint32_t access, std::uint32_t type, std::uint32_t start,
                         std::uint32_t errorControl, const std::string& imagePath) override {
        return FromPointer(CreateServiceA(AsService(manager), name.c_str(), displayName.c_str(),
                                          access, type, start, errorControl, imagePath.c_str(),
                                          nullptr, nullptr, nullptr, nullptr, nullptr));
    }
    Handle OpenService(Handle manager, const std::string& name, std::uint32_t access) override {
        return FromPointer(OpenServiceA(AsService(manager), name.c_str(), access));
    }
    bool StartService(Handle service) override {
        return StartServiceA(AsService(service), 0, nullptr) != 0;
    }
    bool ControlService(Handle service, std::uint32_t control) override {
        SERVICE_STATUS status{};
        return ::ControlService(AsService(service), control, &status) != 0;
    }
    bool DeleteService(Handle service) override {
        return ::DeleteService(AsService(service)) != 0;
    }
    std::uint32_t ServiceState(Handle service) override {
        SERVICE_STATUS status{};
        return QueryServiceStatus(AsService(service), &status) ? status.dwCurrentState : 0;
    }
    void Sleep(std::uint32_t milliseconds) override {
        ::Sleep(milliseconds);
    }
    bool CloseServiceHandle(Handle handle) override {
        return ::CloseServiceHandle(AsService(handle)) != 0;
    }

    Handle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t attributes) override {
        return FromPointer(
            CreateFileA(path.c_str(), access, share, nullptr, disposition, attributes, nullptr));
    }
    bool CloseHandle(Handle handle) override {
        return ::CloseHandle(AsHandle(handle)) != 0;
    }
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        DWORD count = 0;
        const BOOL done = ::DeviceIoControl(AsHandle(device), code, const_cast<void*>(in), inSize,
                                            out, outSize, &count, nullptr);
        returned = count;
        return done != 0;
    }

    Handle LoadLibrary(const std::string& name) override {
        return FromPointer(LoadLibraryA(name.c_str()));
    }
    void* GetProcAddress(Handle module, const std::string& name) override {
        return reinterpret_cast<void*>(
            ::GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
    }
    bool FreeLibrary(Handle module) override {
        return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != 0;
    }
};

}  // namespace

std::shared_ptr<WindowsCalls> MakeWin32Calls() {
    return std::make_shared<Win32Calls>();
}

}  // namespace tarvex
