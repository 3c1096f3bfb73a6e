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
        return open.count(handle) ? open.at(handle).substr(0, 1) : "?";
    }
    Service* Of(Handle service) {
        const bool named = open.count(service) && open[service].rfind("S ", 0) == 0;
        const auto found = named ? services.find(open[service].substr(2)) : services.end();
        return found == services.end() ? nullptr : &found->second;
    }
    bool Close(const std::string& call, Handle handle) {
        Fails(call + " " + Name(handle));
        return open.erase(handle) ? true : Fail(6);
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
        if (Name(device) != "D" || (!read && !write) || outSize != 2 ||
            inSize != (read ? 2u : 4u)) {
            return Fail(Name(device) != "D" ? 6 : 87);
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
        Fails("LoadLibrary " + name);
        return dllPresent ? Give("L") : Fail(126);
    }
    // The DLL's exports: a read without a value, a write with one.
    static std::uint8_t Use(const std::string& call, std::uint16_t at, int value = -1) {
        current->Fails(call + " " + Hex(at, 4) + (value < 0 ? "" : " " + Hex(value, 2)));
        return value < 0 ? current->ports[at] : current->ports[at] = std::uint8_t(value);
    }
    static int DriverOpen() { return current->dllDriverOpen; }
    static std::uint8_t DlRead(std::uint16_t at) { return Use("DlPortReadPortUchar", at); }
    static void DlWrite(std::uint16_t at, std::uint8_t v) { Use("DlPortWritePortUchar", at, v); }
    static short Inp32(short at) { return Use("Inp32", std::uint16_t(at)); }
    static void Out32(short at, short v) { Use("Out32", std::uint16_t(at), std::uint8_t(v)); }
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

// Each backend on its own, not only behind TIoPort: closed, before its open or after its close,
// an access reaches nothing and reports 6 (invalid handle), as the driver does.
std::tuple<int, std::uint32_t, std::uint32_t> ClosedAccess(PortBackend& backend) {
    std::uint32_t readError = 0, writeError = 0;
    const int value = backend.Read(0x379, readError);
    backend.Write(0x378, 0x01, writeError);
    return {value, readError, writeError};
}
const std::tuple<int, std::uint32_t, std::uint32_t> kClosed = {0, 6, 6};

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
                    ::testing::HasSubstr(c.code ? "text" + std::to_string(c.code) : ""));
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
     kManager + ", " + kCreate + kSystem + "\\Ioport.sys, CloseServiceHandle S, " + kStart + ", " +
     kDevice, kEnd},
    {"ExistingStoppedIsStartedAndStoppedNotDeleted", Before::Stopped, true, "", 0, kOpenExisting,
     "CloseHandle D, " + kStop + ", CloseServiceHandle M"},
    {"ExistingRunningIsNeitherStoppedNorDeleted", Before::Running, true, "", 0, kOpenExisting,
     "CloseHandle D"},
    {"OpenSCManagerFails", Before::Absent, true, "OpenSCManager", 5, kManager, ""},
    {"CreateServiceFails", Before::Absent, true, "CreateService", 1078,
     kManager + ", " + kCreateHere + ", CloseServiceHandle M", ""},
    {"OpenServiceFails", Before::Absent, true, "OpenService", 1060,
     kManager + ", " + kCreateHere + ", CloseServiceHandle S, " + kOpenService +
     ", CloseServiceHandle M", kUndoCreated},
    {"StartServiceFails", Before::Absent, true, "StartService", 577, kOpenCreated, kUndoCreated},
    {"CreateFileFails", Before::Absent, true, "CreateFile", 5, kOpened, kUndoCreated},
    // The stop cannot reach the service: the delete still runs.
    {"AStepOfTheReleaseFailingDoesNotStopTheRest", Before::Absent, true, "", 0, kOpened,
     "CloseHandle D, " + kManager + ", " + kOpenService + ", " + kDelete + ", CloseServiceHandle M",
     "OpenService"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Cases, DriverService, ::testing::ValuesIn(kServiceCases),
                         [](const auto& row) { return std::string(row.param.name); });

// What this run created goes, even while still starting (once stopped, or after ten seconds)
// or after a reopen found it; what it did not create stays.
TEST(DriverService, RemovesWhatThisRunCreatedAndOnlyThat) {
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
    const std::tuple<const char*, unsigned, unsigned, unsigned, OSKind, bool> rows[] = {
        {"Win32s", 0, 3, 11, OSKind::osWin32s, false}, {"Win95", 1, 4, 0, OSKind::osWin95, false},
        {"Win98", 1, 4, 10, OSKind::osWin98, false}, {"WinME", 1, 4, 90, OSKind::osWinME, false},
        {"NT351", 2, 3, 51, OSKind::osUnknown, false}, {"NT4", 2, 4, 0, OSKind::osWinNT4, true},
        {"Windows2000", 2, 5, 0, OSKind::osWinNT5, true},
        {"Vista", 2, 6, 0, OSKind::osWinNT6, true},
        {"Windows11", 2, 10, 0, OSKind::osWinNT6, true}};
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

// Each backend, and the first of them that opens, on 9x and NT: the open, a write of 0x378,
// two reads of 0x379 (the second failing where the device is the driver's) and the close, as
// the calls show them; closed, before the open and after the close, it reaches nothing.
TEST(WindowsBackends, OpenAccessAndCloseThroughTheDriverOrTheInpoutDll) {
    const std::string vxd = "CreateFile \\\\.\\ioport.vxd 0 00 0";
    const std::string inSystem = vxd + ", CreateFile \\\\.\\" + kSystem + "\\ioport.vxd 0 00 0";
    const auto device = [](const std::string& write, const std::string& read) {
        const std::string reads = ", DeviceIoControl D " + read + " 79 03 out 2";
        return ", DeviceIoControl D " + write + " 78 03 55 00 out 2" + reads + reads +
               ", CloseHandle D";
    };
    const std::string load =
        "LoadLibrary inpoutx64.dll, GetProcAddress DlPortReadPortUchar, "
        "GetProcAddress DlPortWritePortUchar, ";
    const std::string dlPort = load +
                               "GetProcAddress IsInpOutDriverOpen, DlPortWritePortUchar "
                               "0378 55, DlPortReadPortUchar 0379, DlPortReadPortUchar 0379";
    const std::string neither =
        "Could not initialize direct port access !\r\rTARVEX_IO=driver: cannot open the service "
        "manager (administrator rights needed): text5 (error 5)\rTARVEX_IO=inpout: cannot load "
        "inpoutx64.dll: text126 (error 126)\r\rCheck location of the following files:\r- "
        "Ioport.VXD for Windows 95/98/ME\r- Ioport.SYS for Windows  NT/2000\rCheck that "
        "inpoutx64.dll (InpOut, installed separately) lies beside the program or on the PATH\r";
    struct Row {
        const char* name;
        char backend;    // 'd' driver, 'i' inpout, 'f' the first of them that opens
        bool nt, admin;  // else 9x (4.10); without rights the service manager refuses
        bool vxd, vxdInSystem, dll, dllDriverOpen, dlPort;
        std::uint32_t error;       // of the open (0: opens); then 31 for the driver's failed read
        std::string message, log;  // message: in FailureMessage()
    };
    // clang-format off
    const Row rows[] = {
        {"NT service", 'd', true, true, false, false, false, true, true, 0, "",
         kOpenExisting + device("F100A408", "F1006404")},
        {"VxD loaded", 'd', false, true, true, false, false, true, true, 0, "",
         vxd + device("3", "2")},
        {"VxD in the system folder", 'd', false, true, false, true, false, true, true, 0, "",
         inSystem + device("3", "2")},
        {"VxD nowhere", 'd', false, true, false, false, false, true, true, 2, kDriverFailureHint,
         inSystem},
        {"DlPort exports", 'i', true, true, false, false, true, true, true, 0, "",
         dlPort + ", FreeLibrary L"},
        {"only Inp32 and Out32", 'i', true, true, false, false, true, true, false, 0, "",
         load + "GetProcAddress Inp32, GetProcAddress Out32, GetProcAddress IsInpOutDriverOpen, "
                "Out32 0378 55, Inp32 0379, Inp32 0379, FreeLibrary L"},
        {"missing DLL", 'i', true, true, false, false, false, true, true, 126,
         "cannot load inpoutx64.dll: text126", "LoadLibrary inpoutx64.dll"},
        {"DLL's driver did not open", 'i', true, true, false, false, true, false, true, 31,
         "inpoutx64.dll loaded, but its driver did not open",
         load + "GetProcAddress IsInpOutDriverOpen, FreeLibrary L"},
        {"no rights: the DLL", 'f', true, false, false, false, true, true, true, 0, "",
         "OpenSCManager F003F, " + dlPort + ", FreeLibrary L"},
        {"no rights and no DLL", 'f', true, false, false, false, false, true, true, 126, neither,
         "OpenSCManager F003F, LoadLibrary inpoutx64.dll"}};
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto windows = std::make_shared<FakeWindows>();
        windows->platform = row.nt ? 2 : 1, windows->major = row.nt ? 10 : 4;
        windows->minor = row.nt ? 0 : 10;
        windows->files = {std::string(kCurrent) + "\\Ioport.sys"};
        windows->services["Ioport"] = {*windows->files.begin(), row.admin};
        windows->failures[row.admin ? "" : "OpenSCManager"] = 5;
        windows->vxdLoaded = row.vxd, windows->vxdInSystem = row.vxdInSystem;
        windows->dllPresent = row.dll, windows->dllDriverOpen = row.dllDriverOpen;
        windows->dllHasDlPort = row.dlPort, windows->ports[0x379] = 0x87;
        std::vector<std::unique_ptr<PortBackend>> tries;
        tries.push_back(MakeDriverBackend(windows));
        tries.push_back(MakeInpoutBackend(windows, "inpoutx64.dll"));
        {
            TIoPort port(row.backend == 'f'   ? MakeFirstThatOpens(std::move(tries))
                         : row.backend == 'd' ? std::move(tries[0])
                                              : std::move(tries[1]));
            EXPECT_EQ(ClosedAccess(*port.Backend()), kClosed);
            port.SetOpened(true);
            EXPECT_EQ(port.Opened(), row.error == 0);
            EXPECT_EQ(port.LastError(), row.error);
            EXPECT_THAT(port.FailureMessage(), ::testing::HasSubstr(row.message));
            if (port.Opened()) {
                port.WritePort(0x378, 0x55);
                EXPECT_EQ(port.ReadPort(0x379), 0x87);
                EXPECT_EQ(windows->ports[0x378], 0x55);
                windows->failures["DeviceIoControl"] = 31;
                EXPECT_EQ(port.ReadPort(0x379), row.backend == 'd' ? 0 : 0x87);
                EXPECT_EQ(port.LastError(), row.backend == 'd' ? 31u : 0u);
                EXPECT_EQ(port.Backend()->Name(), row.backend == 'd' ? "driver" : "inpout");
            }
            port.SetOpened(false);  // the main window's close, then its destruction
            port.SetOpened(false);
            EXPECT_EQ(ClosedAccess(*port.Backend()), kClosed);
        }
        EXPECT_EQ(windows->log, row.log);
        EXPECT_TRUE(windows->open.empty());
    }
}

}  // namespace
}  // namespace tarvex
