// The Windows port backends against a fake of the Win32 calls that keeps a service database,
// a folder of files, the ioport device and an InpOut DLL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "link/IoPort.h"
#include "link/PortBackends.h"
#include "port/DriverBackend.h"
#include "port/InpoutBackend.h"

namespace tarvex {
namespace {

using Handle = WindowsCalls::Handle;

constexpr const char* kCurrent = "C:\\TARVEX";
constexpr const char* kSystem = "C:\\WINDOWS\\system32";
constexpr std::uint32_t kGenericRead = 0x80000000, kGenericWrite = 0x40000000;

struct Case {
    const char* name;
    char backend = 'd';          // 'd' driver, 'i' inpout, 'f' the first of them that opens
    std::uint32_t platform = 2;  // 1: 9x (4.10)
    const char* before = "";     // the service Ioport: "" (absent), "stopped" or "running"
    bool fileHere = true;  // Ioport.sys in the current folder (else only in the system folder)
    bool admin = true;     // else the service manager refuses (5)
    bool vxd = false, vxdInSystem = false;   // \\.\ioport.vxd opens as it is, or by full path
    bool dll = false, dllDriverOpen = true;  // the InpOut DLL loads; IsInpOutDriverOpen
    bool dlPort = true;                      // DlPort* exports, else only Inp32/Out32
    const char* failing = "";                // this call fails once while opening with `error`
    std::uint32_t error = 0;                 // of the open (0: opens)
    std::string message = "";                // in FailureMessage(); "": "textERROR" when it fails
    int pending = 0;       // after the open the service reports pending so many times
    bool reopen = false;   // closed and opened again: the service exists and runs (1073, 1056)
    const char* end = "";  // FakeWindows::Order() at the end
    const char* failingAtEnd = "";  // this call fails once while releasing
    const char* after = nullptr;    // what is left of the service, if not as before
    friend void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }
};

// Like Windows: a service database that outlives the program, a device that opens only while
// its service runs, handles that must each be closed once and serve only the rights they were
// opened with, and last error set by each failing call. A service deleted while it runs or is
// pending is only marked, and some systems keep it so for good. `failures` makes the next call
// of that name fail with that code; `calls` names the calls in order.
struct FakeWindows : WindowsCalls {
    struct Service {
        std::string image, display;
        std::uint32_t type = 1, start = 3, errorControl = 1;
        bool running = false, marked = false;  // marked: for deletion
        bool operator==(const Service&) const = default;
    };
    struct Opened {
        char kind;  // M (manager), S (service), D (device), L (library)
        std::string name;
        std::uint32_t access;
    };
    std::uint32_t platform = 2, major = 10, minor = 0;
    std::map<std::string, Service> services;
    std::set<std::string> files;
    std::map<std::string, std::uint32_t> failures;
    Case world{};          // the VxD, the DLL, the rights
    int pendingPolls = 0;  // a service still starting reports so this many times
    std::uint32_t slept = 0;
    std::map<std::uint16_t, std::uint8_t> ports;
    std::string calls;  // each followed by a space
    std::map<Handle, Opened> open;
    Handle next = 0x10;
    std::uint32_t error = 0;

    static inline FakeWindows* current = nullptr;  // for the DLL's exports, plain functions
    explicit FakeWindows(const Case& c = {}) : world(c) { current = this; }
    ~FakeWindows() override { current = nullptr; }

    // Names the call; true when `failures` fails it this time.
    bool Fails(const char* call) {
        calls += call + std::string(" ");
        const auto found = failures.find(call);
        return found != failures.end() && (error = found->second, failures.erase(found), true);
    }
    Handle Give(char kind, const std::string& name = "", std::uint32_t access = 0) {
        return open[next] = {kind, name, access}, next++;
    }
    Handle Fail(std::uint32_t code) { return error = code, 0; }
    // The handle if it is open, of this kind and with these rights; else the call fails.
    Opened* Is(Handle handle, char kind, std::uint32_t rights = 0) {
        const auto found = open.find(handle);
        const bool valid = found != open.end() && found->second.kind == kind;
        return !valid                                      ? (Fail(6), nullptr)
               : (found->second.access & rights) != rights ? (Fail(5), nullptr)
                                                           : &found->second;
    }
    Service* Of(Handle service, std::uint32_t rights) {
        const Opened* handle = Is(service, 'S', rights);
        const auto found = handle ? services.find(handle->name) : services.end();
        return found != services.end() ? &found->second : (handle && Fail(1060), nullptr);
    }
    bool Close(const char* call, Handle handle, char kind) {
        return !Fails(call) && Is(handle, kind) && open.erase(handle);
    }

    bool GetVersion(std::uint32_t& p, std::uint32_t& ma, std::uint32_t& mi) override {
        return p = platform, ma = major, mi = minor, true;
    }
    std::uint32_t LastError() override { return error; }
    std::string ErrorText(std::uint32_t code) override { return "text" + std::to_string(code); }
    std::string CurrentDirectory() override { return kCurrent; }
    std::string SystemDirectory() override { return kSystem; }
    bool FileExists(const std::string& path) override { return files.count(path) > 0; }

    Handle OpenSCManager(std::uint32_t access) override {
        return Fails("OpenSCManager") ? 0 : world.admin ? Give('M', "", access) : Fail(5);
    }
    Handle CreateService(Handle manager, const std::string& name, const std::string& display,
                         std::uint32_t access, std::uint32_t type, std::uint32_t start,
                         std::uint32_t errorControl, const std::string& image) override {
        return Fails("CreateService") || !Is(manager, 'M', 0x2) ? 0
               : services.count(name)
                   ? Fail(1073)
                   : (services[name] = {image, display, type, start, errorControl},
                      Give('S', name, access));
    }
    Handle OpenService(Handle manager, const std::string& name, std::uint32_t access) override {
        return Fails("OpenService") || !Is(manager, 'M', 0x1) ? 0
               : services.count(name)                         ? Give('S', name, access)
                                                              : Fail(1060);
    }
    bool StartService(Handle service) override {
        Service* entry = Fails("StartService") ? nullptr : Of(service, 0x10);
        return !entry                      ? false
               : entry->running            ? Fail(1056)
               : files.count(entry->image) ? entry->running = true
                                           : Fail(2);
    }
    bool ControlService(Handle service, std::uint32_t control) override {
        Service* entry = Fails("ControlService") ? nullptr : Of(service, 0x20);
        return !entry || control != 1 ? (entry && Fail(87))
               : entry->running       ? !(entry->running = false)
                                      : Fail(1062);
    }
    std::uint32_t ServiceState(Handle service) override {
        const Service* entry = Fails("ServiceState") ? nullptr : Of(service, 0x4);
        return !entry ? 0 : pendingPolls > 0 ? (--pendingPolls, 2) : entry->running ? 4 : 1;
    }
    void Sleep(std::uint32_t milliseconds) override { slept += milliseconds; }
    bool DeleteService(Handle service) override {
        Service* entry = Fails("DeleteService") ? nullptr : Of(service, 0x10000);
        if (entry && (entry->running || pendingPolls > 0)) {
            return entry->marked = true;
        }
        return entry && services.erase(open[service].name);
    }
    bool CloseServiceHandle(Handle handle) override {
        return Close("CloseServiceHandle", handle, open.count(handle) ? open[handle].kind : 'S');
    }

    // The NT device opens as an existing file only; its control codes carry the rights they
    // need (CTL_CODE's access bits), the VxD's carry none.
    Handle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t,
                      std::uint32_t disposition, std::uint32_t) override {
        if (Fails("CreateFile")) {
            return kInvalidHandle;
        }
        const bool opens =
            ((path == "\\\\.\\Ioport" && disposition == 3 && services.count("Ioport") &&
              services["Ioport"].running) ||
             (path == "\\\\.\\ioport.vxd" && world.vxd) ||
             (path == std::string("\\\\.\\") + kSystem + "\\ioport.vxd" && world.vxdInSystem));
        return opens ? Give('D', path, access) : (Fail(2), kInvalidHandle);
    }
    bool CloseHandle(Handle handle) override { return Close("CloseHandle", handle, 'D'); }
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        const std::uint32_t rights =
            (code >> 14 & 1 ? kGenericRead : 0) | (code >> 14 & 2 ? kGenericWrite : 0);
        if (Fails("DeviceIoControl") || !Is(device, 'D', rights)) {
            return false;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        const bool read = code == (platform == 1 ? 2u : 0xF1006404u);  // the VxD's codes on 9x
        const bool write = code == (platform == 1 ? 3u : 0xF100A408u);
        const auto port = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
        if ((!read && !write) || outSize != 2 || inSize != (read ? 2u : 4u)) {
            return Fail(87);
        }
        auto* reply = static_cast<std::uint8_t*>(out);
        if (write) {
            ports[port] = bytes[2];
        }
        reply[0] = ports.count(port) ? ports[port] : 0xFF, reply[1] = 0;
        returned = 2;
        return true;
    }

    Handle LoadLibrary(const std::string& name) override {
        Fails("LoadLibrary");
        return world.dll ? Give('L', name) : Fail(126);
    }
    // The DLL's exports, plain functions over the ports.
    void* GetProcAddress(Handle module, const std::string& name) override {
        using Read = std::uint8_t (*)(std::uint16_t);
        using Write = void (*)(std::uint16_t, std::uint8_t);
        static const std::map<std::string, void*> exports = {
            {"IsInpOutDriverOpen",
             reinterpret_cast<void*>(+[]() -> int { return current->world.dllDriverOpen; })},
            {"DlPortReadPortUchar",
             reinterpret_cast<void*>(Read([](std::uint16_t at) { return current->ports[at]; }))},
            {"DlPortWritePortUchar",
             reinterpret_cast<void*>(
                 Write([](std::uint16_t at, std::uint8_t v) { current->ports[at] = v; }))},
            {"Inp32", reinterpret_cast<void*>(
                          +[](short at) -> short { return current->ports[std::uint16_t(at)]; })},
            {"Out32", reinterpret_cast<void*>(+[](short at, short v) {
                 current->ports[std::uint16_t(at)] = std::uint8_t(v);
             })}};
        const auto found = exports.find(name);
        if (!Is(module, 'L') || found == exports.end() ||
            (!world.dlPort && name.rfind("DlPort", 0) == 0)) {
            return Fail(127), nullptr;
        }
        return found->second;
    }
    bool FreeLibrary(Handle module) override { return Close("FreeLibrary", module, 'L'); }

    // The calls whose order matters at the end: the device is closed before the service is
    // stopped, and a service is stopped before it is deleted.
    std::string Order() const {
        const std::regex others(R"(\b(?!CloseHandle |ControlService |DeleteService )\w+ )");
        return std::regex_replace(calls, others, "");
    }
    // What is left of the service Ioport: "", "stopped", "running" or "marked".
    std::string Left() const {
        const auto found = services.find("Ioport");
        return found == services.end() ? ""
               : found->second.marked  ? "marked"
               : found->second.running ? "running"
                                       : "stopped";
    }
};

class WindowsBackends : public ::testing::TestWithParam<Case> {};

// Each backend, and the first of them that opens, on 9x and NT: the open, a write of 0x378,
// two reads of 0x379 (the second failing where the device is the driver's) and the close;
// closed, before its open and after its close, it reaches nothing and reports 6 (invalid
// handle). Whatever step failed, every handle is closed and the system left as it was found.
TEST_P(WindowsBackends, OpenAccessAndCloseLeaveTheSystemAsItWasFound) {
    const Case& c = GetParam();
    auto windows = std::make_shared<FakeWindows>(c);
    windows->platform = c.platform, windows->major = c.platform == 1 ? 4 : 10;
    windows->minor = c.platform == 1 ? 10 : 0;
    const std::string image = std::string(c.fileHere ? kCurrent : kSystem) + "\\Ioport.sys";
    windows->files = {image};
    if (*c.before) {
        windows->services["Ioport"] = {image, "Ioport", 1, 3, 1, *c.before == 'r'};
    }
    windows->failures[c.failing] = c.error, windows->ports[0x379] = 0x87;
    std::vector<std::unique_ptr<PortBackend>> tries;
    tries.push_back(MakeDriverBackend(windows));
    tries.push_back(MakeInpoutBackend(windows, "inpoutx64.dll"));
    const auto closed = [](PortBackend& backend) {
        std::uint32_t readError = 0, writeError = 0;
        const int value = backend.Read(0x379, readError);
        backend.Write(0x378, 0x01, writeError);
        EXPECT_EQ(std::tuple(value, readError, writeError), std::tuple(0, 6u, 6u));
    };
    {
        TIoPort port(c.backend == 'f'   ? MakeFirstThatOpens(std::move(tries))
                     : c.backend == 'd' ? std::move(tries[0])
                                        : std::move(tries[1]));
        closed(*port.Backend());
        port.SetOpened(true);
        if (c.reopen) {
            port.SetOpened(false);
            port.SetOpened(true);
        }
        EXPECT_EQ(port.Opened(), c.error == 0) << port.FailureMessage();
        EXPECT_EQ(port.LastError(), c.error);
        EXPECT_THAT(
            port.FailureMessage(),
            ::testing::HasSubstr(c.message.empty() && c.error ? "text" + std::to_string(c.error)
                                                              : c.message));
        if (!*c.before && port.Opened() && c.backend == 'd' && c.platform == 2) {
            // a demand-start kernel driver from that file
            EXPECT_EQ(windows->services["Ioport"],
                      (FakeWindows::Service{image, "Ioport", 1, 3, 1, true}));
        }
        const bool driver = c.backend == 'd';
        if (port.Opened()) {
            port.WritePort(0x378, 0x55);
            EXPECT_EQ(port.ReadPort(0x379), 0x87);
            EXPECT_EQ(windows->ports[0x378], 0x55);
            windows->failures["DeviceIoControl"] = 31;
            EXPECT_EQ(port.ReadPort(0x379), driver ? 0 : 0x87);
            EXPECT_EQ(port.LastError(), driver ? 31u : 0u);
            EXPECT_EQ(port.Backend()->Name(), driver ? "driver" : "inpout");
        }
        windows->calls.clear();
        windows->failures[c.failingAtEnd] = 5;
        windows->pendingPolls = c.pending;
        port.SetOpened(false);  // the main window's close, then its destruction
        port.SetOpened(false);
        closed(*port.Backend());
    }
    EXPECT_EQ(windows->Order(), c.end);
    // Only a run that has a service to undo asks the service manager again.
    EXPECT_EQ(windows->calls.find("OpenSCManager") == std::string::npos,
              std::string(c.end).find("Service") == std::string::npos);
    EXPECT_EQ(windows->Left(), c.after ? c.after : c.before);
    EXPECT_EQ(windows->slept, std::min(c.pending, 100) * 100u);  // ten seconds at most
    EXPECT_TRUE(windows->open.empty()) << "handles left open: " << windows->open.size();
}

const char* const kUndo = "ControlService DeleteService ";
const char* const kEnd = "CloseHandle ControlService DeleteService ";
const char* const kNeither =
    "Could not initialize direct port access !\r\rTARVEX_IO=driver: cannot open the service "
    "manager (administrator rights needed): text5 (error 5)\rTARVEX_IO=inpout: cannot load "
    "inpoutx64.dll: text126 (error 126)\r\rCheck location of the following files:\r- "
    "Ioport.VXD for Windows 95/98/ME\r- Ioport.SYS for Windows  NT/2000\rCheck that "
    "inpoutx64.dll (InpOut, installed separately) lies beside the program or on the PATH\r";
// clang-format off
const Case kCases[] = {
    {.name = "CreatedIsStoppedAndDeleted", .end = kEnd},
    {.name = "ExistingStoppedIsStartedAndStoppedNotDeleted", .before = "stopped",
     .end = "CloseHandle ControlService "},
    {.name = "ExistingRunningIsNeitherStoppedNorDeleted", .before = "running",
     .end = "CloseHandle "},
    {.name = "OpenSCManagerFails", .failing = "OpenSCManager", .error = 5},
    {.name = "CreateServiceFails", .failing = "CreateService", .error = 1078},
    {.name = "OpenServiceFails", .failing = "OpenService", .error = 1060, .end = kUndo},
    {.name = "StartServiceFails", .failing = "StartService", .error = 577, .end = kUndo},
    {.name = "CreateFileFails", .failing = "CreateFile", .error = 5, .end = kUndo},
    // The stop cannot reach the service: the delete still runs, and marks it.
    {.name = "AStepOfTheReleaseFailingDoesNotStopTheRest", .end = "CloseHandle DeleteService ",
     .failingAtEnd = "OpenService", .after = "marked"},
    // The start timed out: the service is deleted once stopped, else marked after ten seconds.
    {.name = "StillStartingIsDeletedOnceStopped", .failing = "StartService", .error = 1053,
     .pending = 3, .end = kUndo},
    {.name = "StartingForGoodIsMarked", .failing = "StartService", .error = 1053,
     .pending = 1000, .end = kUndo, .after = "marked"},
    {.name = "CreatedIsRemovedAlsoAfterAReopenFoundIt", .fileHere = false, .reopen = true,
     .end = kEnd},
    {.name = "VxDLoaded", .platform = 1, .vxd = true, .end = "CloseHandle "},
    {.name = "VxDInTheSystemFolder", .platform = 1, .vxdInSystem = true, .end = "CloseHandle "},
    {.name = "VxDNowhere", .platform = 1, .error = 2, .message = kDriverFailureHint},
    {.name = "DlPortExports", .backend = 'i', .dll = true},
    {.name = "OnlyInp32AndOut32", .backend = 'i', .dll = true, .dlPort = false},
    {.name = "MissingDll", .backend = 'i', .error = 126,
     .message = "cannot load inpoutx64.dll: text126"},
    {.name = "DllsDriverDidNotOpen", .backend = 'i', .dll = true, .dllDriverOpen = false,
     .error = 31, .message = "inpoutx64.dll loaded, but its driver did not open"},
    {.name = "NoRightsTheDll", .backend = 'f', .before = "stopped", .admin = false, .dll = true},
    {.name = "NoRightsAndNoDll", .backend = 'f', .before = "stopped", .admin = false,
     .error = 126, .message = kNeither},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Cases, WindowsBackends, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The service on NT 4 and every later NT, the VxD everywhere else.
TEST(DriverVersion, TheServiceFromNt4OnTheVxdBefore) {
    const std::tuple<const char*, unsigned, unsigned, unsigned, bool> rows[] = {
        {"Win32s", 0, 3, 11, false},    {"Win95", 1, 4, 0, false},  {"Win98", 1, 4, 10, false},
        {"WinME", 1, 4, 90, false},     {"NT351", 2, 3, 51, false}, {"NT4", 2, 4, 0, true},
        {"Windows2000", 2, 5, 0, true}, {"Vista", 2, 6, 0, true},   {"Windows11", 2, 10, 0, true}};
    for (const auto& [name, platform, major, minor, service] : rows) {
        SCOPED_TRACE(name);
        auto windows = std::make_shared<FakeWindows>();
        windows->platform = platform, windows->major = major, windows->minor = minor;
        OpenFailure failure;
        const auto backend = MakeDriverBackend(windows);
        backend->Open(failure);
        EXPECT_EQ(windows->Left(), service ? "stopped" : "");  // installed, not started
    }
}

}  // namespace
}  // namespace tarvex
