// The Windows port backends against a fake of the Win32 calls that keeps a service database,
// a folder of files, the ioport device and an InpOut DLL, and records every call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "port/DriverBackend.h"
#include "port/InpoutBackend.h"
#include "link/IoPort.h"
#include "link/PortBackends.h"

namespace tarvex {
namespace {

using ::testing::ElementsAreArray;
using Handle = WindowsCalls::Handle;

constexpr const char* kCurrent = "C:\\TARVEX";
constexpr const char* kSystem = "C:\\WINDOWS\\system32";

// Like Windows: a service database that outlives the program, a device that opens only while
// its service runs, handles that must each be closed once, and last error set by each
// failing call. `failures` makes the next call of that name fail with that code.
struct FakeWindows : WindowsCalls {
    struct Service {
        std::string image;
        bool running = false;
    };
    std::uint32_t platform = 2, major = 10, minor = 0;
    std::map<std::string, Service> services;
    std::set<std::string> files;
    std::map<std::string, std::uint32_t> failures;
    bool vxdLoaded = false;     // \\.\ioport.vxd opens as it is
    bool vxdInSystem = false;   // only with the system folder's path
    bool dllPresent = false;    // the InpOut DLL loads
    bool dllDriverOpen = true;  // and its IsInpOutDriverOpen says so
    bool dllHasDlPort = true;   // DlPort* exports, else only Inp32/Out32
    std::map<std::uint16_t, std::uint8_t> ports;
    std::vector<std::string> log;
    std::map<Handle, std::string> open;  // handle -> "manager", "service NAME", "device", "dll"
    Handle next = 0x10;
    std::uint32_t error = 0;

    static FakeWindows* current;  // for the DLL's exports, which are plain functions
    FakeWindows() { current = this; }
    ~FakeWindows() override { current = nullptr; }

    bool Failing(const std::string& call) {
        const auto found = failures.find(call);
        if (found == failures.end()) {
            return false;
        }
        error = found->second;
        failures.erase(found);
        return true;
    }
    Handle Give(const std::string& what) {
        open[next] = what;
        return next++;
    }
    // A short name for a handle in the log: M (manager), S (service), D (device), L (library).
    std::string Name(Handle handle) const {
        const auto found = open.find(handle);
        return found == open.end() ? "?" : found->second.substr(0, 1);
    }
    Handle Fail(std::uint32_t code) {
        error = code;
        return 0;
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
        log.push_back("OpenSCManager " + Hex(access));
        return Failing("OpenSCManager") ? 0 : Give("M");
    }
    Handle CreateService(Handle, const std::string& name, const std::string& display,
                         std::uint32_t access, std::uint32_t type, std::uint32_t start,
                         std::uint32_t errorControl, const std::string& image) override {
        log.push_back("CreateService " + name + "/" + display + " " + Hex(access) + " " +
                      std::to_string(type) + std::to_string(start) + std::to_string(errorControl) +
                      " " + image);
        if (Failing("CreateService")) {
            return 0;
        }
        if (services.count(name)) {
            return Fail(1073);
        }
        services[name] = {image, false};
        return Give("S");
    }
    Handle OpenService(Handle, const std::string& name, std::uint32_t access) override {
        log.push_back("OpenService " + name + " " + Hex(access));
        if (Failing("OpenService")) {
            return 0;
        }
        return services.count(name) ? Give("S " + name) : Fail(1060);
    }
    Service* Of(Handle service) {
        const auto found = open.find(service);
        if (found == open.end() || found->second.rfind("S ", 0) != 0) {
            return nullptr;
        }
        const auto named = services.find(found->second.substr(2));
        return named == services.end() ? nullptr : &named->second;
    }
    bool StartService(Handle service) override {
        log.push_back("StartService " + Name(service));
        Service* entry = Of(service);
        if (Failing("StartService") || !entry) {
            return entry ? false : Fail(6);
        }
        if (entry->running) {
            return Fail(1056);
        }
        if (!files.count(entry->image)) {
            return Fail(2);
        }
        return entry->running = true;
    }
    bool ControlService(Handle service, std::uint32_t control) override {
        log.push_back("ControlService " + Name(service) + " " + std::to_string(control));
        Service* entry = Of(service);
        if (!entry || control != 1) {
            return Fail(87);
        }
        if (!entry->running) {
            return Fail(1062);
        }
        entry->running = false;
        return true;
    }
    // A stopped service reports stopped at once; one still starting (`pendingPolls`) reports
    // start pending that many times first.
    int pendingPolls = 0;
    std::uint32_t ServiceState(Handle service) override {
        log.push_back("ServiceState " + Name(service));
        Service* entry = Of(service);
        if (!entry) {
            return Fail(6);
        }
        if (pendingPolls > 0) {
            --pendingPolls;
            return 2;
        }
        return entry->running ? 4 : 1;
    }
    void Sleep(std::uint32_t milliseconds) override {
        log.push_back("Sleep " + std::to_string(milliseconds));
    }
    bool DeleteService(Handle service) override {
        log.push_back("DeleteService " + Name(service));
        Service* entry = Of(service);
        if (!entry) {
            return Fail(6);
        }
        services.erase(open[service].substr(2));
        return true;
    }
    bool CloseServiceHandle(Handle handle) override {
        log.push_back("CloseServiceHandle " + Name(handle));
        return Close(handle);
    }
    bool Close(Handle handle) {
        if (!open.erase(handle)) {
            return Fail(6);
        }
        return true;
    }

    Handle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t attributes) override {
        log.push_back("CreateFile " + path + " " + Hex(access) + " " + std::to_string(share) +
                      std::to_string(disposition) + " " + Hex(attributes));
        if (Failing("CreateFile")) {
            return kInvalidHandle;
        }
        const bool opens =
            ((path == "\\\\.\\Ioport" && services.count("Ioport") && services["Ioport"].running) ||
             (path == "\\\\.\\ioport.vxd" && vxdLoaded) ||
             (path == std::string("\\\\.\\") + kSystem + "\\ioport.vxd" && vxdInSystem));
        if (!opens) {
            error = 2;
            return kInvalidHandle;
        }
        return Give("D");
    }
    bool CloseHandle(Handle handle) override {
        log.push_back("CloseHandle " + Name(handle));
        return Close(handle);
    }
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        std::string request;
        for (std::uint32_t i = 0; i < inSize; ++i) {
            request += " " + Hex(bytes[i], 2);
        }
        log.push_back("DeviceIoControl " + Name(device) + " " + Hex(code) + request + " out " +
                      std::to_string(outSize));
        if (Name(device) != "D") {
            return Fail(6);
        }
        if (Failing("DeviceIoControl")) {
            return false;
        }
        const bool vxd = code == 2 || code == 3;
        const bool read = code == 0xF1006404 || code == 2;
        const bool write = code == 0xF100A408 || code == 3;
        const std::uint16_t port = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
        if ((!read && !write) || vxd != (platform == 1) || outSize != 2 ||
            inSize != (read ? 2u : 4u)) {
            return Fail(87);
        }
        auto* reply = static_cast<std::uint8_t*>(out);
        if (read) {
            reply[0] = ports.count(port) ? ports[port] : 0xFF;
            reply[1] = 0;
        } else {
            ports[port] = bytes[2];
        }
        returned = 2;
        return true;
    }

    Handle LoadLibrary(const std::string& name) override {
        log.push_back("LoadLibrary " + name);
        return dllPresent ? Give("L") : Fail(126);
    }
    void* GetProcAddress(Handle module, const std::string& name) override {
        log.push_back("GetProcAddress " + name);
        if (Name(module) != "L") {
            return nullptr;
        }
        if (name == "IsInpOutDriverOpen") {
            return reinterpret_cast<void*>(+[]() -> int { return current->dllDriverOpen; });
        }
        if (name == "DlPortReadPortUchar" && dllHasDlPort) {
            return reinterpret_cast<void*>(+[](std::uint16_t port) -> std::uint8_t {
                current->log.push_back("DlPortReadPortUchar " + Hex(port, 4));
                return current->ports[port];
            });
        }
        if (name == "DlPortWritePortUchar" && dllHasDlPort) {
            return reinterpret_cast<void*>(+[](std::uint16_t port, std::uint8_t value) {
                current->log.push_back("DlPortWritePortUchar " + Hex(port, 4) + " " +
                                       Hex(value, 2));
                current->ports[port] = value;
            });
        }
        if (name == "Inp32") {
            return reinterpret_cast<void*>(+[](short port) -> short {
                current->log.push_back("Inp32 " + Hex(static_cast<std::uint16_t>(port), 4));
                return current->ports[static_cast<std::uint16_t>(port)];
            });
        }
        if (name == "Out32") {
            return reinterpret_cast<void*>(+[](short port, short value) {
                current->log.push_back("Out32 " + Hex(static_cast<std::uint16_t>(port), 4) + " " +
                                       Hex(static_cast<std::uint8_t>(value), 2));
                current->ports[static_cast<std::uint16_t>(port)] = static_cast<std::uint8_t>(value);
            });
        }
        return Fail(127), nullptr;
    }
    bool FreeLibrary(Handle module) override {
        log.push_back("FreeLibrary " + Name(module));
        return Close(module);
    }

    static std::string Hex(std::uint32_t value, int digits = 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%0*X", digits, value);
        return text;
    }
};
FakeWindows* FakeWindows::current = nullptr;

// What the fake recorded for one scenario: the open, three accesses when it opened, and the
// end of the program, each part separately.
struct Recorded {
    bool opened = false;
    std::uint32_t lastError = 0;
    std::string detail;
    std::vector<std::string> open, end;
};

Recorded OpenAndEnd(const std::shared_ptr<FakeWindows>& windows,
                    PortBackend* (*make)(FakeWindows&) = nullptr) {
    Recorded run;
    {
        auto port = std::make_unique<TIoPort>(make ? std::unique_ptr<PortBackend>(make(*windows))
                                                   : MakeDriverBackend(windows));
        port->SetOpened(true);
        run.opened = port->Opened();
        run.lastError = port->LastError();
        run.detail = port->OpenErrorDetail();
        run.open = windows->log;
        windows->log.clear();
        port->SetOpened(false);  // the main window's close, then its destruction
        port->SetOpened(false);
    }
    run.end = windows->log;
    windows->log.clear();
    return run;
}

const std::string kManager = "OpenSCManager F003F";
const std::string kCreateHere =
    "CreateService Ioport/Ioport F01FF 131 " + std::string(kCurrent) + "\\Ioport.sys";
const std::string kCreateInSystem =
    "CreateService Ioport/Ioport F01FF 131 " + std::string(kSystem) + "\\Ioport.sys";
const std::string kOpenService = "OpenService Ioport F01FF";
const std::string kDevice = "CreateFile \\\\.\\Ioport C0000000 03 80";

enum class Before { Absent, Stopped, Running };

struct ServiceCase {
    const char* name;
    Before before;
    bool fileHere;  // Ioport.sys in the current folder (else only in the system folder)
    std::vector<std::string> open, end;
    bool existsAfter, runsAfter;
};
void PrintTo(const ServiceCase& row, std::ostream* out) {
    *out << row.name;
}

class DriverService : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(DriverService, LeavesTheSystemAsItWasFound) {
    const ServiceCase& c = GetParam();
    auto windows = std::make_shared<FakeWindows>();
    const std::string image = std::string(c.fileHere ? kCurrent : kSystem) + "\\Ioport.sys";
    windows->files = {image};
    if (c.before != Before::Absent) {
        windows->services["Ioport"] = {image, c.before == Before::Running};
    }
    const Recorded run = OpenAndEnd(windows);
    EXPECT_TRUE(run.opened) << run.detail;
    EXPECT_THAT(run.open, ElementsAreArray(c.open));
    EXPECT_THAT(run.end, ElementsAreArray(c.end));
    EXPECT_EQ(windows->services.count("Ioport") > 0, c.existsAfter);
    EXPECT_EQ(c.existsAfter && windows->services["Ioport"].running, c.runsAfter);
    EXPECT_TRUE(windows->open.empty()) << "handles left open: " << windows->open.size();
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, DriverService,
    ::testing::Values(
        ServiceCase{"CreatedIsStoppedAndDeleted",
                    Before::Absent,
                    true,
                    {kManager, kCreateHere, "CloseServiceHandle S", kOpenService, "StartService S",
                     "CloseServiceHandle S", "CloseServiceHandle M", kDevice},
                    {"CloseHandle D", kManager, kOpenService, "ControlService S 1",
                     "CloseServiceHandle S", kOpenService, "ServiceState S", "DeleteService S",
                     "CloseServiceHandle S", "CloseServiceHandle M"},
                    false,
                    false},
        ServiceCase{"ImagePathFromTheSystemFolderWithoutAFileHere",
                    Before::Absent,
                    false,
                    {kManager, kCreateInSystem, "CloseServiceHandle S", kOpenService,
                     "StartService S", "CloseServiceHandle S", "CloseServiceHandle M", kDevice},
                    {"CloseHandle D", kManager, kOpenService, "ControlService S 1",
                     "CloseServiceHandle S", kOpenService, "ServiceState S", "DeleteService S",
                     "CloseServiceHandle S", "CloseServiceHandle M"},
                    false,
                    false},
        ServiceCase{"ExistingStoppedIsStartedAndStoppedNotDeleted",
                    Before::Stopped,
                    true,
                    {kManager, kCreateHere, kOpenService, "StartService S", "CloseServiceHandle S",
                     "CloseServiceHandle M", kDevice},
                    {"CloseHandle D", kManager, kOpenService, "ControlService S 1",
                     "CloseServiceHandle S", "CloseServiceHandle M"},
                    true,
                    false},
        ServiceCase{"ExistingRunningIsNeitherStoppedNorDeleted",
                    Before::Running,
                    true,
                    {kManager, kCreateHere, kOpenService, "StartService S", "CloseServiceHandle S",
                     "CloseServiceHandle M", kDevice},
                    {"CloseHandle D"},
                    true,
                    true}),
    [](const auto& row) { return std::string(row.param.name); });

struct StepFailure {
    const char* name;
    const char* call;
    std::uint32_t code;
    std::vector<std::string> open, end;
};
void PrintTo(const StepFailure& row, std::ostream* out) {
    *out << row.name;
}

class DriverOpenFailure : public ::testing::TestWithParam<StepFailure> {};

// A failure at each step leaves the port closed with that step's error, and what the run
// did before the step is undone at the end.
TEST_P(DriverOpenFailure, LeavesThePortClosedWithTheStepsError) {
    const StepFailure& c = GetParam();
    auto windows = std::make_shared<FakeWindows>();
    windows->files = {std::string(kCurrent) + "\\Ioport.sys"};
    windows->failures[c.call] = c.code;
    const Recorded run = OpenAndEnd(windows);
    EXPECT_FALSE(run.opened);
    EXPECT_EQ(run.lastError, c.code);
    EXPECT_THAT(run.detail, ::testing::HasSubstr("text" + std::to_string(c.code)));
    EXPECT_THAT(run.open, ElementsAreArray(c.open));
    EXPECT_THAT(run.end, ElementsAreArray(c.end));
    EXPECT_TRUE(windows->services.empty());
    EXPECT_TRUE(windows->open.empty());
}

// A service this run created is stopped, whether it started or not (then the stop fails with
// 1062), and deleted.
const std::vector<std::string> kUndoCreated = {kManager,
                                               kOpenService,
                                               "ControlService S 1",
                                               "CloseServiceHandle S",
                                               kOpenService,
                                               "ServiceState S",
                                               "DeleteService S",
                                               "CloseServiceHandle S",
                                               "CloseServiceHandle M"};

INSTANTIATE_TEST_SUITE_P(
    EachStep, DriverOpenFailure,
    ::testing::Values(
        StepFailure{"OpenSCManager", "OpenSCManager", 5, {kManager}, {}},
        StepFailure{"CreateService",
                    "CreateService",
                    1078,
                    {kManager, kCreateHere, "CloseServiceHandle M"},
                    {}},
        StepFailure{
            "OpenService",
            "OpenService",
            1060,
            {kManager, kCreateHere, "CloseServiceHandle S", kOpenService, "CloseServiceHandle M"},
            kUndoCreated},
        StepFailure{"StartService",
                    "StartService",
                    577,
                    {kManager, kCreateHere, "CloseServiceHandle S", kOpenService, "StartService S",
                     "CloseServiceHandle S", "CloseServiceHandle M"},
                    kUndoCreated},
        StepFailure{"CreateFile",
                    "CreateFile",
                    5,
                    {kManager, kCreateHere, "CloseServiceHandle S", kOpenService, "StartService S",
                     "CloseServiceHandle S", "CloseServiceHandle M", kDevice},
                    kUndoCreated}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DriverOpenFailure, AStepOfTheReleaseFailingDoesNotStopTheRest) {
    auto windows = std::make_shared<FakeWindows>();
    windows->files = {std::string(kCurrent) + "\\Ioport.sys"};
    auto port = std::make_unique<TIoPort>(MakeDriverBackend(windows));
    port->SetOpened(true);
    ASSERT_TRUE(port->Opened());
    windows->log.clear();
    windows->failures["OpenService"] = 5;  // the stop cannot reach the service
    port.reset();
    EXPECT_THAT(windows->log,
                ElementsAreArray(std::vector<std::string>{
                    "CloseHandle D", kManager, kOpenService, kOpenService, "ServiceState S",
                    "DeleteService S", "CloseServiceHandle S", "CloseServiceHandle M"}));
    EXPECT_TRUE(windows->services.empty());
    EXPECT_TRUE(windows->open.empty());
}

TEST(DriverService, ACreatedServiceStillStartingIsDeletedOnceStoppedOrAfterTenSeconds) {
    for (const int pending : {3, 1000}) {
        auto windows = std::make_shared<FakeWindows>();
        windows->failures["StartService"] = 1053;  // the start timed out
        {
            TIoPort port(MakeDriverBackend(windows));
            port.SetOpened(true);
            windows->log.clear();
            windows->pendingPolls = pending;
        }
        const auto naps = std::count(windows->log.begin(), windows->log.end(), "Sleep 100");
        EXPECT_EQ(naps, pending == 3 ? 3 : 100);
        EXPECT_EQ(windows->log.end()[-3], "DeleteService S");
        EXPECT_TRUE(windows->services.empty());
    }
}

TEST(DriverService, NeverOpenedTouchesNoService) {
    // A service another program installed and runs must survive a run that never opened.
    auto windows = std::make_shared<FakeWindows>();
    windows->services["Ioport"] = {"X:\\Ioport.sys", true};
    MakeDriverBackend(windows).reset();
    EXPECT_TRUE(windows->log.empty());
    EXPECT_TRUE(windows->services["Ioport"].running);
}

TEST(DriverService, ReopenedAfterCloseStillRemovesWhatThisRunCreated) {
    auto windows = std::make_shared<FakeWindows>();
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

struct VersionCase {
    const char* name;
    std::uint32_t platform, major, minor;
    OSKind kind;
    bool service;
};
void PrintTo(const VersionCase& row, std::ostream* out) {
    *out << row.name;
}

class DriverVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DriverVersion, KindAndPath) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(OSKindOf(c.platform, c.major, c.minor), c.kind);
    EXPECT_EQ(TakesServicePath(c.kind), c.service);
    auto windows = std::make_shared<FakeWindows>();
    windows->platform = c.platform, windows->major = c.major, windows->minor = c.minor;
    OpenFailure failure;
    MakeDriverBackend(windows)->Open(failure);
    ASSERT_FALSE(windows->log.empty());
    EXPECT_EQ(windows->log.front().rfind("OpenSCManager", 0) == 0, c.service);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriverVersion,
    ::testing::Values(VersionCase{"Win32s", 0, 3, 11, OSKind::osWin32s, false},
                      VersionCase{"Win95", 1, 4, 0, OSKind::osWin95, false},
                      VersionCase{"Win98", 1, 4, 10, OSKind::osWin98, false},
                      VersionCase{"WinME", 1, 4, 90, OSKind::osWinME, false},
                      VersionCase{"NT351", 2, 3, 51, OSKind::osUnknown, false},
                      VersionCase{"NT4", 2, 4, 0, OSKind::osWinNT4, true},
                      VersionCase{"Windows2000", 2, 5, 0, OSKind::osWinNT5, true},
                      VersionCase{"Vista", 2, 6, 0, OSKind::osWinNT6, true},
                      VersionCase{"Windows11", 2, 10, 0, OSKind::osWinNT6, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DriverPort, ServicePathCodesAndBuffersAndClosedPortReadsZeroWithError6) {
    auto windows = std::make_shared<FakeWindows>();
    windows->services["Ioport"] = {"", true};
    windows->ports[0x379] = 0x78;
    TIoPort port(MakeDriverBackend(windows));
    EXPECT_EQ(port.ReadPort(0x379), 0);
    EXPECT_EQ(port.LastError(), 6u);
    port.SetOpened(true);
    windows->log.clear();
    port.WritePort(0x378, 0x55);
    EXPECT_EQ(port.ReadPort(0x379), 0x78);
    EXPECT_EQ(windows->ports[0x378], 0x55);
    windows->failures["DeviceIoControl"] = 31;
    EXPECT_EQ(port.ReadPort(0x379), 0);
    EXPECT_EQ(port.LastError(), 31u);
    EXPECT_THAT(windows->log, ElementsAreArray({"DeviceIoControl D F100A408 78 03 55 00 out 2",
                                                "DeviceIoControl D F1006404 79 03 out 2",
                                                "DeviceIoControl D F1006404 79 03 out 2"}));
    port.SetOpened(false);
    windows->log.clear();
    port.WritePort(0x378, 0x01);
    EXPECT_EQ(port.LastError(), 6u);
    EXPECT_TRUE(windows->log.empty());
}

struct VxdCase {
    const char* name;
    bool loaded, inSystem, opens;
    std::vector<std::string> open;
};
void PrintTo(const VxdCase& row, std::ostream* out) {
    *out << row.name;
}

class DriverVxd : public ::testing::TestWithParam<VxdCase> {};

TEST_P(DriverVxd, TriesTheSystemFolderSecondAndUsesTheVxdCodes) {
    const VxdCase& c = GetParam();
    auto windows = std::make_shared<FakeWindows>();
    windows->platform = 1, windows->major = 4, windows->minor = 10;
    windows->vxdLoaded = c.loaded;
    windows->vxdInSystem = c.inSystem;
    TIoPort port(MakeDriverBackend(windows));
    port.SetOpened(true);
    EXPECT_EQ(port.Opened(), c.opens);
    EXPECT_THAT(windows->log, ElementsAreArray(c.open));
    if (c.opens) {
        windows->log.clear();
        port.WritePort(0x278, 0xA5);
        EXPECT_EQ(port.ReadPort(0x278), 0xA5);
        EXPECT_THAT(windows->log, ElementsAreArray({"DeviceIoControl D 3 78 02 A5 00 out 2",
                                                    "DeviceIoControl D 2 78 02 out 2"}));
    } else {
        EXPECT_EQ(port.LastError(), 2u);
        EXPECT_THAT(port.FailureMessage(), ::testing::EndsWith(kDriverFailureHint));
    }
}

const std::string kVxd = "CreateFile \\\\.\\ioport.vxd 0 00 0";
const std::string kVxdInSystem =
    "CreateFile \\\\.\\" + std::string(kSystem) + "\\ioport.vxd 0 00 0";

INSTANTIATE_TEST_SUITE_P(
    Paths, DriverVxd,
    ::testing::Values(VxdCase{"Loaded", true, false, true, {kVxd}},
                      VxdCase{"InTheSystemFolder", false, true, true, {kVxd, kVxdInSystem}},
                      VxdCase{"Nowhere", false, false, false, {kVxd, kVxdInSystem}}),
    [](const auto& row) { return std::string(row.param.name); });

struct InpoutCase {
    const char* name;
    bool present, driverOpen, dlPort;
    std::uint32_t error;  // 0: opens
    const char* detail;
    std::vector<std::string> log;
};
void PrintTo(const InpoutCase& row, std::ostream* out) {
    *out << row.name;
}

class Inpout : public ::testing::TestWithParam<InpoutCase> {};

TEST_P(Inpout, LoadsTheDllAndGoesThroughItsExports) {
    const InpoutCase& c = GetParam();
    auto windows = std::make_shared<FakeWindows>();
    windows->dllPresent = c.present;
    windows->dllDriverOpen = c.driverOpen;
    windows->dllHasDlPort = c.dlPort;
    windows->ports[0x379] = 0x87;
    {
        TIoPort port(MakeInpoutBackend(windows, "inpoutx64.dll"));
        port.SetOpened(true);
        EXPECT_EQ(port.Opened(), c.error == 0);
        EXPECT_EQ(port.LastError(), c.error);
        EXPECT_THAT(port.OpenErrorDetail(), ::testing::HasSubstr(c.detail));
        port.WritePort(0x378, 0x5A);
        EXPECT_EQ(port.ReadPort(0x379), c.error == 0 ? 0x87 : 0);
        port.SetOpened(false);
        port.SetOpened(false);
    }
    EXPECT_THAT(windows->log, ElementsAreArray(c.log));
    EXPECT_TRUE(windows->open.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Inpout,
    ::testing::Values(
        InpoutCase{"DlPortExports",
                   true,
                   true,
                   true,
                   0,
                   "",
                   {"LoadLibrary inpoutx64.dll", "GetProcAddress DlPortReadPortUchar",
                    "GetProcAddress DlPortWritePortUchar", "GetProcAddress IsInpOutDriverOpen",
                    "DlPortWritePortUchar 0378 5A", "DlPortReadPortUchar 0379", "FreeLibrary L"}},
        InpoutCase{
            "OnlyInp32AndOut32",
            true,
            true,
            false,
            0,
            "",
            {"LoadLibrary inpoutx64.dll", "GetProcAddress DlPortReadPortUchar",
             "GetProcAddress DlPortWritePortUchar", "GetProcAddress Inp32", "GetProcAddress Out32",
             "GetProcAddress IsInpOutDriverOpen", "Out32 0378 5A", "Inp32 0379", "FreeLibrary L"}},
        InpoutCase{"MissingDll",
                   false,
                   true,
                   true,
                   126,
                   "cannot load inpoutx64.dll: text126",
                   {"LoadLibrary inpoutx64.dll"}},
        InpoutCase{"DriverDidNotOpen",
                   true,
                   false,
                   true,
                   31,
                   "inpoutx64.dll loaded, but its driver did not open",
                   {"LoadLibrary inpoutx64.dll", "GetProcAddress DlPortReadPortUchar",
                    "GetProcAddress DlPortWritePortUchar", "GetProcAddress IsInpOutDriverOpen",
                    "FreeLibrary L"}}),
    [](const auto& row) { return std::string(row.param.name); });

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
