// The Windows port backends against a fake of the Win32 calls that keeps a service database,
// a folder of files, the ioport device and an InpOut DLL, and records every call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
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

using ::testing::HasSubstr;
using Handle = WindowsCalls::Handle;

constexpr const char* kCurrent = "C:\\TARVEX";
constexpr const char* kSystem = "C:\\WINDOWS\\system32";

std::string Hex(std::uint32_t value, int digits = 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Like Windows: a service database that outlives the program, a device that opens only while
// its service runs, handles that must each be closed once, and last error set by each
// failing call. `failures` makes the next call of that name fail with that code. The log
// names handles by what they are: M (manager), S (service), D (device), L (library).
struct FakeWindows : WindowsCalls {
    struct Service {
        std::string image;
        bool running = false;
    };
    std::uint32_t platform = 2, major = 10, minor = 0;
    std::map<std::string, Service> services;
    std::set<std::string> files;
    std::map<std::string, std::uint32_t> failures;
    bool vxdLoaded = false, vxdInSystem = false;  // \\.\ioport.vxd opens as it is, or by full path
    bool dllPresent = false, dllDriverOpen = true;  // the InpOut DLL loads; IsInpOutDriverOpen
    bool dllHasDlPort = true;                       // DlPort* exports, else only Inp32/Out32
    int pendingPolls = 0;  // a service still starting reports so this many times
    std::map<std::uint16_t, std::uint8_t> ports;
    std::string log;
    std::map<Handle, std::string> open;  // handle -> "M", "S NAME", "D", "L"
    Handle next = 0x10;
    std::uint32_t error = 0;

    static inline FakeWindows* current = nullptr;  // for the DLL's exports, plain functions
    FakeWindows() { current = this; }
    ~FakeWindows() override { current = nullptr; }

    std::string TakeLog() { return std::exchange(log, std::string()); }
    // Logs the call; true when `failures` fails it (by its first word) this time.
    bool Fails(const std::string& call) {
        log += (log.empty() ? "" : ", ") + call;
        const auto found = failures.find(call.substr(0, call.find(' ')));
        return found != failures.end() && (error = found->second, failures.erase(found), true);
    }
    Handle Give(const std::string& what) { return open[next] = what, next++; }
    Handle Fail(std::uint32_t code) { return error = code, 0; }
    std::string Name(Handle handle) const {
        const auto found = open.find(handle);
        return found == open.end() ? "?" : found->second.substr(0, 1);
    }
    Service* Of(Handle service) {
        const auto found = open.find(service);
        const auto named = found == open.end() || found->second.rfind("S ", 0) != 0
                               ? services.end()
                               : services.find(found->second.substr(2));
        return named == services.end() ? nullptr : &named->second;
    }
    bool Close(const std::string& call, Handle handle) {
        Fails(call + " " + Name(handle));
        return open.erase(handle) ? true : Fail(6);
    }

    bool GetVersion(std::uint32_t& p, std::uint32_t& ma, std::uint32_t& mi) override {
        p = platform, ma = major, mi = minor;
        return true;
    }
    std::uint32_t LastError() override { return error; }
    std::string ErrorText(std::uint32_t code) override { return "text" + std::to_string(code); }
    std::string CurrentDirectory() override { return kCurrent; }
    std::string SystemDirectory() override { return kSystem; }
    bool FileExists(const std::string& path) override { return files.count(path) > 0; }

    Handle OpenSCManager(std::uint32_t access) override {
        return Fails("OpenSCManager " + Hex(access)) ? 0 : Give("M");
    }
    Handle CreateService(Handle, const std::string& name, const std::string& display,
                         std::uint32_t access, std::uint32_t type, std::uint32_t start,
                         std::uint32_t errorControl, const std::string& image) override {
        return Fails("CreateService " + name + "/" + display + " " + Hex(access) + " " +
                     std::to_string(type) + std::to_string(start) + std::to_string(errorControl) +
                     " " + image)
                   ? 0
               : services.count(name) ? Fail(1073)
                                      : (services[name] = {image, false}, Give("S"));
    }
    Handle OpenService(Handle, const std::string& name, std::uint32_t access) override {
        return Fails("OpenService " + name + " " + Hex(access)) ? 0
               : services.count(name)                           ? Give("S " + name)
                                                                : Fail(1060);
    }
    bool StartService(Handle service) override {
        if (Fails("StartService " + Name(service))) {
            return false;
        }
        Service* entry = Of(service);
        return !entry           ? Fail(6)
               : entry->running ? Fail(1056)
                                : (files.count(entry->image) ? entry->running = true : Fail(2));
    }
    bool ControlService(Handle service, std::uint32_t control) override {
        Fails("ControlService " + Name(service) + " " + std::to_string(control));
        Service* entry = Of(service);
        return !entry || control != 1 ? Fail(87)
               : entry->running       ? !(entry->running = false)
                                      : Fail(1062);
    }
    std::uint32_t ServiceState(Handle service) override {
        Fails("ServiceState " + Name(service));
        return !Of(service)           ? Fail(6)
               : pendingPolls > 0     ? (--pendingPolls, 2)
               : Of(service)->running ? 4
                                      : 1;
    }
    void Sleep(std::uint32_t milliseconds) override {
        Fails("Sleep " + std::to_string(milliseconds));
    }
    bool DeleteService(Handle service) override {
        Fails("DeleteService " + Name(service));
        return Of(service) ? services.erase(open[service].substr(2)) > 0 : Fail(6);
    }
    bool CloseServiceHandle(Handle handle) override { return Close("CloseServiceHandle", handle); }

    Handle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t attributes) override {
        if (Fails("CreateFile " + path + " " + Hex(access) + " " + std::to_string(share) +
                  std::to_string(disposition) + " " + Hex(attributes))) {
            return kInvalidHandle;
        }
        const bool opens =
            ((path == "\\\\.\\Ioport" && services.count("Ioport") && services["Ioport"].running) ||
             (path == "\\\\.\\ioport.vxd" && vxdLoaded) ||
             (path == std::string("\\\\.\\") + kSystem + "\\ioport.vxd" && vxdInSystem));
        return opens ? Give("D") : (Fail(2), kInvalidHandle);
    }
    bool CloseHandle(Handle handle) override { return Close("CloseHandle", handle); }
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        std::string request;
        for (std::uint32_t i = 0; i < inSize; ++i) {
            request += " " + Hex(bytes[i], 2);
        }
        if (Fails("DeviceIoControl " + Name(device) + " " + Hex(code) + request + " out " +
                  std::to_string(outSize))) {
            return false;
        }
        const bool read = code == (platform == 1 ? 2u : 0xF1006404u);  // the VxD's codes on 9x
        const bool write = code == (platform == 1 ? 3u : 0xF100A408u);
        const auto port = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
        if (Name(device) != "D") {
            return Fail(6);
        }
        if ((!read && !write) || outSize != 2 || inSize != (read ? 2u : 4u)) {
            return Fail(87);
        }
        auto* reply = static_cast<std::uint8_t*>(out);
        if (write) {
            ports[port] = bytes[2];
        } else {
            reply[0] = ports.count(port) ? ports[port] : 0xFF;
            reply[1] = 0;
        }
        returned = 2;
        return true;
    }

    Handle LoadLibrary(const std::string& name) override {
        Fails("LoadLibrary " + name);
        return dllPresent ? Give("L") : Fail(126);
    }
    static std::uint8_t In(const char* call, std::uint16_t port) {
        current->Fails(std::string(call) + " " + Hex(port, 4));
        return current->ports[port];
    }
    static void Out(const char* call, std::uint16_t port, std::uint8_t value) {
        current->Fails(std::string(call) + " " + Hex(port, 4) + " " + Hex(value, 2));
        current->ports[port] = value;
    }
    static int DriverOpen() { return current->dllDriverOpen; }
    static std::uint8_t DlRead(std::uint16_t port) { return In("DlPortReadPortUchar", port); }
    static void DlWrite(std::uint16_t at, std::uint8_t value) {
        Out("DlPortWritePortUchar", at, value);
    }
    static short Inp32(short port) { return In("Inp32", std::uint16_t(port)); }
    static void Out32(short at, short value) {
        Out("Out32", std::uint16_t(at), std::uint8_t(value));
    }
    void* GetProcAddress(Handle module, const std::string& name) override {
        Fails("GetProcAddress " + name);
        static const std::map<std::string, void*> exports = {
            {"IsInpOutDriverOpen", reinterpret_cast<void*>(&DriverOpen)},
            {"DlPortReadPortUchar", reinterpret_cast<void*>(&DlRead)},
            {"DlPortWritePortUchar", reinterpret_cast<void*>(&DlWrite)},
            {"Inp32", reinterpret_cast<void*>(&Inp32)},
            {"Out32", reinterpret_cast<void*>(&Out32)}};
        const auto found = exports.find(name);
        if (Name(module) != "L" || found == exports.end() ||
            (!dllHasDlPort && name.rfind("DlPort", 0) == 0)) {
            return Fail(127), nullptr;
        }
        return found->second;
    }
    bool FreeLibrary(Handle module) override { return Close("FreeLibrary", module); }
};

const std::string kManager = "OpenSCManager F003F";
const std::string kCreate = "CreateService Ioport/Ioport F01FF 131 ";
const std::string kCreateHere = kCreate + kCurrent + "\\Ioport.sys";
const std::string kOpenService = "OpenService Ioport F01FF";
const std::string kDevice = "CreateFile \\\\.\\Ioport C0000000 03 80";
const std::string kStart =
    kOpenService + ", StartService S, CloseServiceHandle S, CloseServiceHandle M";
const std::string kOpenCreated =
    kManager + ", " + kCreateHere + ", CloseServiceHandle S, " + kStart;
const std::string kOpenExisting = kManager + ", " + kCreateHere + ", " + kStart + ", " + kDevice;
const std::string kStop =
    kManager + ", " + kOpenService + ", ControlService S 1, CloseServiceHandle S";
const std::string kDelete =
    kOpenService + ", ServiceState S, DeleteService S, CloseServiceHandle S";
// A service this run created is stopped, whether it started or not (then the stop fails with
// 1062), and deleted.
const std::string kUndoCreated = kStop + ", " + kDelete + ", CloseServiceHandle M";

enum class Before { Absent, Stopped, Running };

struct ServiceCase {
    const char* name;
    Before before;
    bool fileHere;        // Ioport.sys in the current folder (else only in the system folder)
    const char* failing;  // this call fails once while opening ("": none) with `code`
    std::uint32_t code;
    std::string open, end;
    const char* failingAtEnd = "";  // this call fails once while releasing
    friend void PrintTo(const ServiceCase& row, std::ostream* out) { *out << row.name; }
};

class DriverService : public ::testing::TestWithParam<ServiceCase> {};

// The system is left as it was found, whatever step failed; a failed step leaves the port
// closed with its error.
TEST_P(DriverService, LeavesTheSystemAsItWasFound) {
    const ServiceCase& c = GetParam();
    auto windows = std::make_shared<FakeWindows>();
    const std::string image = std::string(c.fileHere ? kCurrent : kSystem) + "\\Ioport.sys";
    windows->files = {image};
    if (c.before != Before::Absent) {
        windows->services["Ioport"] = {image, c.before == Before::Running};
    }
    windows->failures[c.failing] = c.code;
    {
        TIoPort port(MakeDriverBackend(windows));
        port.SetOpened(true);
        EXPECT_EQ(port.Opened(), c.code == 0) << port.OpenErrorDetail();
        EXPECT_EQ(port.LastError(), c.code);
        EXPECT_THAT(port.OpenErrorDetail(),
                    HasSubstr(c.code ? "text" + std::to_string(c.code) : ""));
        EXPECT_EQ(windows->TakeLog(), c.open);
        windows->failures[c.failingAtEnd] = 5;
        port.SetOpened(false);  // the main window's close, then its destruction
        port.SetOpened(false);
    }
    EXPECT_EQ(windows->TakeLog(), c.end);
    EXPECT_EQ(windows->services.count("Ioport") > 0, c.before != Before::Absent);
    EXPECT_EQ(windows->services["Ioport"].running, c.before == Before::Running);
    EXPECT_TRUE(windows->open.empty()) << "handles left open: " << windows->open.size();
}

const std::string kOpened = kOpenCreated + ", " + kDevice;
const std::string kEnd = "CloseHandle D, " + kUndoCreated;
// clang-format off
const ServiceCase kServiceCases[] = {
    {"CreatedIsStoppedAndDeleted", Before::Absent, true, "", 0, kOpened, kEnd},
    {"ImagePathFromTheSystemFolderWithoutAFileHere", Before::Absent, false, "", 0,
     kManager + ", " + kCreate + kSystem + "\\Ioport.sys, CloseServiceHandle S, " + kStart + ", " + kDevice, kEnd},
    {"ExistingStoppedIsStartedAndStoppedNotDeleted", Before::Stopped, true, "", 0, kOpenExisting,
     "CloseHandle D, " + kStop + ", CloseServiceHandle M"},
    {"ExistingRunningIsNeitherStoppedNorDeleted", Before::Running, true, "", 0, kOpenExisting, "CloseHandle D"},
    {"OpenSCManagerFails", Before::Absent, true, "OpenSCManager", 5, kManager, ""},
    {"CreateServiceFails", Before::Absent, true, "CreateService", 1078,
     kManager + ", " + kCreateHere + ", CloseServiceHandle M", ""},
    {"OpenServiceFails", Before::Absent, true, "OpenService", 1060,
     kManager + ", " + kCreateHere + ", CloseServiceHandle S, " + kOpenService + ", CloseServiceHandle M", kUndoCreated},
    {"StartServiceFails", Before::Absent, true, "StartService", 577, kOpenCreated, kUndoCreated},
    {"CreateFileFails", Before::Absent, true, "CreateFile", 5, kOpened, kUndoCreated},
    // The stop cannot reach the service: the delete still runs.
    {"AStepOfTheReleaseFailingDoesNotStopTheRest", Before::Absent, true, "", 0, kOpened,
     "CloseHandle D, " + kManager + ", " + kOpenService + ", " + kDelete + ", CloseServiceHandle M", "OpenService"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Cases, DriverService, ::testing::ValuesIn(kServiceCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(DriverService, ACreatedServiceStillStartingIsDeletedOnceStoppedOrAfterTenSeconds) {
    for (const int pending : {3, 1000}) {
        auto windows = std::make_shared<FakeWindows>();
        windows->failures["StartService"] = 1053;  // the start timed out
        {
            TIoPort port(MakeDriverBackend(windows));
            port.SetOpened(true);
            windows->TakeLog();
            windows->pendingPolls = pending;
        }
        const std::string log = windows->TakeLog();
        const std::regex nap("Sleep 100");
        EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), nap), {}),
                  pending == 3 ? 3 : 100);
        EXPECT_THAT(log, ::testing::EndsWith("DeleteService S, CloseServiceHandle S, "
                                             "CloseServiceHandle M"));
        EXPECT_TRUE(windows->services.empty());
    }
}

TEST(DriverService, NeverOpenedTouchesNoServiceAndReopenedStillRemovesWhatThisRunCreated) {
    // A service another program installed and runs must survive a run that never opened.
    auto windows = std::make_shared<FakeWindows>();
    windows->services["Ioport"] = {"X:\\Ioport.sys", true};
    MakeDriverBackend(windows).reset();
    EXPECT_EQ(windows->log, "");
    EXPECT_TRUE(windows->services["Ioport"].running);

    windows = std::make_shared<FakeWindows>();
    windows->files = {std::string(kSystem) + "\\Ioport.sys"};
    {
        TIoPort port(MakeDriverBackend(windows));
        port.SetOpened(true);
        port.SetOpened(false);
        port.SetOpened(true);  // now the service exists and runs: 1073, then 1056
        ASSERT_TRUE(port.Opened());
    }
    EXPECT_TRUE(windows->services.empty());
    EXPECT_TRUE(windows->open.empty());
}

TEST(DriverVersion, KindAndPath) {
    // clang-format off
    const std::tuple<const char*, std::uint32_t, std::uint32_t, std::uint32_t, OSKind, bool>
        rows[] = {
        {"Win32s", 0, 3, 11, OSKind::osWin32s, false}, {"Win95", 1, 4, 0, OSKind::osWin95, false},
        {"Win98", 1, 4, 10, OSKind::osWin98, false}, {"WinME", 1, 4, 90, OSKind::osWinME, false},
        {"NT351", 2, 3, 51, OSKind::osUnknown, false}, {"NT4", 2, 4, 0, OSKind::osWinNT4, true},
        {"Windows2000", 2, 5, 0, OSKind::osWinNT5, true},
        {"Vista", 2, 6, 0, OSKind::osWinNT6, true}, {"Windows11", 2, 10, 0, OSKind::osWinNT6, true}};
    // clang-format on
    for (const auto& [name, platform, major, minor, kind, service] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OSKindOf(platform, major, minor), kind);
        EXPECT_EQ(TakesServicePath(kind), service);
        auto windows = std::make_shared<FakeWindows>();
        windows->platform = platform, windows->major = major, windows->minor = minor;
        OpenFailure failure;
        MakeDriverBackend(windows)->Open(failure);
        EXPECT_EQ(windows->log.rfind("OpenSCManager", 0) == 0, service);
    }
}

// The device's codes and buffers, for the NT service and for the 9x VxD (tried as it is, then
// in the system folder); a failed call reads 0 with its error.
TEST(DriverDevice, CodesBuffersAndWhereTheVxdIsLookedFor) {
    const std::string vxd = "CreateFile \\\\.\\ioport.vxd 0 00 0";
    const std::string inSystem =
        vxd + ", CreateFile \\\\.\\" + std::string(kSystem) + "\\ioport.vxd 0 00 0";
    // name, platform, VxD loaded, VxD in the system folder, open log, write and read codes
    // clang-format off
    const std::tuple<const char*, std::uint32_t, bool, bool, std::string, std::string, std::string> rows[] = {
        {"NT service", 2, false, false, kOpenExisting, "F100A408", "F1006404"},
        {"VxD loaded", 1, true, false, vxd, "3", "2"},
        {"VxD in the system folder", 1, false, true, inSystem, "3", "2"},
        {"VxD nowhere", 1, false, false, inSystem, "", ""}};
    // clang-format on
    for (const auto& [name, platform, loaded, system, open, write, read] : rows) {
        SCOPED_TRACE(name);
        auto windows = std::make_shared<FakeWindows>();
        windows->platform = platform, windows->major = platform == 1 ? 4 : 10;
        windows->minor = platform == 1 ? 10 : 0;
        windows->vxdLoaded = loaded, windows->vxdInSystem = system;
        windows->files = {std::string(kCurrent) + "\\Ioport.sys"};
        windows->services["Ioport"] = {*windows->files.begin(), true};
        windows->ports[0x379] = 0x78;
        TIoPort port(MakeDriverBackend(windows));
        port.SetOpened(true);
        EXPECT_EQ(windows->TakeLog(), open);
        EXPECT_EQ(port.Opened(), !write.empty());
        if (write.empty()) {
            EXPECT_EQ(port.LastError(), 2u);
            EXPECT_THAT(port.FailureMessage(), ::testing::EndsWith(kDriverFailureHint));
            continue;
        }
        port.WritePort(0x378, 0x55);
        EXPECT_EQ(port.ReadPort(0x379), 0x78);
        EXPECT_EQ(windows->ports[0x378], 0x55);
        windows->failures["DeviceIoControl"] = 31;
        EXPECT_EQ(port.ReadPort(0x379), 0);
        EXPECT_EQ(port.LastError(), 31u);
        const std::string readLog = ", DeviceIoControl D " + read + " 79 03 out 2";
        EXPECT_EQ(windows->TakeLog(),
                  "DeviceIoControl D " + write + " 78 03 55 00 out 2" + readLog + readLog);
    }
}

TEST(Inpout, LoadsTheDllAndGoesThroughItsExports) {
    const std::string load =
        "LoadLibrary inpoutx64.dll, GetProcAddress DlPortReadPortUchar, "
        "GetProcAddress DlPortWritePortUchar, ";
    const std::string driverOpen = "GetProcAddress IsInpOutDriverOpen, ";
    // name, the DLL there, its driver open, DlPort exports; the error (0: opens), detail, log
    // clang-format off
    const std::tuple<const char*, bool, bool, bool, std::uint32_t, const char*, std::string> rows[] = {
        {"DlPort exports", true, true, true, 0, "",
         load + driverOpen + "DlPortWritePortUchar 0378 5A, DlPortReadPortUchar 0379, FreeLibrary L"},
        {"only Inp32 and Out32", true, true, false, 0, "", load + "GetProcAddress Inp32, GetProcAddress Out32, " +
         driverOpen + "Out32 0378 5A, Inp32 0379, FreeLibrary L"},
        {"missing DLL", false, true, true, 126, "cannot load inpoutx64.dll: text126", "LoadLibrary inpoutx64.dll"},
        {"driver did not open", true, false, true, 31, "inpoutx64.dll loaded, but its driver did not open",
         load + driverOpen + "FreeLibrary L"}};
    // clang-format on
    for (const auto& [name, present, driver, dlPort, error, detail, log] : rows) {
        SCOPED_TRACE(name);
        auto windows = std::make_shared<FakeWindows>();
        windows->dllPresent = present, windows->dllDriverOpen = driver;
        windows->dllHasDlPort = dlPort, windows->ports[0x379] = 0x87;
        {
            TIoPort port(MakeInpoutBackend(windows, "inpoutx64.dll"));
            port.SetOpened(true);
            EXPECT_EQ(port.Opened(), error == 0);
            EXPECT_EQ(port.LastError(), error);
            EXPECT_THAT(port.OpenErrorDetail(), HasSubstr(detail));
            port.WritePort(0x378, 0x5A);
            EXPECT_EQ(port.ReadPort(0x379), error == 0 ? 0x87 : 0);
            port.SetOpened(false);
            port.SetOpened(false);
        }
        EXPECT_EQ(windows->log, log);
        EXPECT_TRUE(windows->open.empty());
    }
}

// Each backend on its own, not only behind TIoPort: closed, before its open or after its close,
// an access reaches nothing and reports 6 (invalid handle), as the driver does.
TEST(ClosedBackend, ReadsZeroWithError6AndReachesNothing) {
    for (const char* name : {"driver", "inpout", "first that opens"}) {
        SCOPED_TRACE(name);
        auto windows = std::make_shared<FakeWindows>();
        windows->services["Ioport"] = {"", true};
        windows->dllPresent = true, windows->ports[0x379] = 0x87;
        std::vector<std::unique_ptr<PortBackend>> tries;
        tries.push_back(MakeInpoutBackend(windows));
        auto backend = *name == 'd'   ? MakeDriverBackend(windows)
                       : *name == 'i' ? std::move(tries[0])
                                      : MakeFirstThatOpens(std::move(tries));
        for (const bool opened : {false, true}) {
            OpenFailure failure;
            if (opened) {
                ASSERT_TRUE(backend->Open(failure)) << failure.detail;
                backend->Close();
            }
            windows->TakeLog();
            std::uint32_t readError = 0, writeError = 0;
            EXPECT_EQ(backend->Read(0x379, readError), 0);
            backend->Write(0x378, 0x01, writeError);
            EXPECT_EQ(std::pair(readError, writeError), std::pair(6u, 6u));
            EXPECT_EQ(windows->log, "");
            EXPECT_EQ(windows->ports.count(0x378), 0u);
        }
    }
}

TEST(FirstThatOpens, TakesTheInpoutDllWhenTheDriverDoesNotOpenAndNamesBothWhenNeitherDoes) {
    for (const bool dll : {true, false}) {
        auto windows = std::make_shared<FakeWindows>();
        windows->failures["OpenSCManager"] = 5;  // not an administrator
        windows->dllPresent = dll;
        std::vector<std::unique_ptr<PortBackend>> tries;
        tries.push_back(MakeDriverBackend(windows));
        tries.push_back(MakeInpoutBackend(windows, "inpoutx64.dll"));
        TIoPort port(MakeFirstThatOpens(std::move(tries)));
        port.SetOpened(true);
        EXPECT_EQ(port.Opened(), dll);
        EXPECT_EQ(port.Backend()->Name(), dll ? "inpout" : "driver or inpout");
        if (!dll) {
            EXPECT_EQ(port.LastError(), 126u);
            EXPECT_EQ(port.FailureMessage(),
                      "Could not initialize direct port access !\r\r"
                      "TARVEX_IO=driver: cannot open the service manager (administrator rights "
                      "needed): text5 (error 5)\r"
                      "TARVEX_IO=inpout: cannot load inpoutx64.dll: text126 (error 126)\r\r"
                      "Check location of the following files:\r- Ioport.VXD for Windows "
                      "95/98/ME\r- Ioport.SYS for Windows  NT/2000\r"
                      "Check that inpoutx64.dll (InpOut, installed separately) lies beside the "
                      "program or on the PATH\r");
        }
    }
}

}  // namespace
}  // namespace tarvex
