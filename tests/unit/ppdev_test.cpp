#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "link/PpdevBackend.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Calls = std::vector<std::string>;

// Directory and file reads are real, over a proc tree in a temporary directory; device
// calls are recorded as "parport0 PPWDATA 55" and fail with `errors[request or path]`.
class FakeDevices : public LinuxSystemCalls {
  public:
    int Open(const std::string& path, int flags) override {
        std::lock_guard lock(mutex_);
        if (flags != (O_RDWR | O_CLOEXEC) || pathErrors.count(path)) {
            return -(pathErrors.count(path) ? pathErrors[path] : EINVAL);
        }
        devices_[next_] = path.substr(path.rfind('/') + 1);
        return next_++;
    }
    int Close(int descriptor) override {
        std::lock_guard lock(mutex_);
        calls_.push_back("close " + devices_[descriptor]);
        devices_.erase(descriptor);
        return 0;
    }
    // The kernel lists in no set order; name order puts parport10 before parport2.
    int ListDirectory(const std::string& path, std::vector<std::string>& names) override {
        const int result = LinuxSystemCalls::ListDirectory(path, names);
        std::sort(names.begin(), names.end());
        return result;
    }
    int Ioctl(int descriptor, unsigned long request, void* argument) override {
        static const std::map<unsigned long, std::string> names = {
            {PPCLAIM, "PPCLAIM"},      {PPRELEASE, "PPRELEASE"},   {PPRDATA, "PPRDATA"},
            {PPRSTATUS, "PPRSTATUS"},  {PPRCONTROL, "PPRCONTROL"}, {PPWDATA, "PPWDATA"},
            {PPWCONTROL, "PPWCONTROL"}};
        auto* byte = static_cast<unsigned char*>(argument);
        std::lock_guard lock(mutex_);
        std::string call = devices_[descriptor] + " " + names.at(request);
        if (request == PPWDATA || request == PPWCONTROL) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", *byte);
            call += std::string(" ") + hex;
        } else if (byte) {
            // A failed read leaves junk, so a result that is not checked shows.
            *byte = errors.count(request) ? 0xEE : static_cast<unsigned char>(request & 0x7F);
        }
        calls_.push_back(call);
        return errors.count(request) ? -errors[request] : 0;
    }
    Calls Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(calls_, {});
    }
    std::size_t OpenCount() {
        std::lock_guard lock(mutex_);
        return devices_.size();
    }

    std::map<std::string, int> pathErrors;
    std::map<unsigned long, int> errors;

  private:
    std::mutex mutex_;
    Calls calls_;
    std::map<int, std::string> devices_;
    int next_ = 100;
};

// The value the fake reads back for a request.
std::uint8_t Answer(unsigned long request) {
    return static_cast<std::uint8_t>(request & 0x7F);
}

struct Rig {
    // name -> base-addr content; null: no base-addr file
    explicit Rig(std::map<std::string, const char*> tree = {{"parport0", "888\t0\n"},
                                                            {"parport1", "632\t1656\n"},
                                                            {"parport10", "956\t0\n"},
                                                            {"parport2", nullptr},
                                                            {"parport3", "-\n"},
                                                            {"default", nullptr}}) {
        std::string pattern = ::testing::TempDir() + "parport-XXXXXX";
        root = ::mkdtemp(pattern.data());
        for (const auto& [name, baseAddr] : tree) {
            std::filesystem::create_directories(root + "/" + name);
            if (baseAddr) {
                std::ofstream(root + "/" + name + "/base-addr") << baseAddr;
            }
        }
        backend = MakePpdevBackend(devices, root);
    }
    ~Rig() { std::filesystem::remove_all(root); }
    void Open() {
        OpenFailure failure;
        ASSERT_TRUE(backend->Open(failure)) << failure.detail;
    }

    std::string root;
    std::shared_ptr<FakeDevices> devices = std::make_shared<FakeDevices>();
    std::unique_ptr<PortBackend> backend;
};

TEST(Ppdev, MapsPortsToTheParportWhoseRegistersHoldThem) {
    const struct {
        std::uint16_t port;
        Calls calls;  // of a read; empty: no parport, so writes are dropped too
    } rows[] = {
        {0x378, {"parport0 PPCLAIM", "parport0 PPRDATA"}},
        {0x379, {"parport0 PPRSTATUS"}},
        {0x27A, {"parport1 PPCLAIM", "parport1 PPRCONTROL"}},
        {0x3BD, {"parport10 PPCLAIM", "parport10 PPRSTATUS"}},
        {0x377, {}},
        {0x37B, {}},
        {0x3BF, {}},
        {0xFFFF, {}},
    };
    Rig rig;
    for (std::uint16_t base : {0x378, 0x278, 0x3BC, 0x379, 0x000}) {
        EXPECT_EQ(rig.backend->HasPort(base), base == 0x378 || base == 0x278 || base == 0x3BC);
    }
    rig.Open();
    EXPECT_EQ(rig.backend->HasPort(0x3BC), true);
    for (const auto& row : rows) {
        std::uint32_t error = 0;
        const std::uint8_t value = rig.backend->Read(row.port, error);
        if (row.calls.empty()) {
            EXPECT_EQ(value, 0);
            rig.backend->Write(row.port, 0x5A, error);
        }
        EXPECT_EQ(rig.devices->Take(), row.calls) << row.port;
        EXPECT_EQ(error, 0u);
    }
}

TEST(Ppdev, OpenFailureNamesObjectAndCause) {
    const struct {
        std::map<std::string, const char*> tree;
        std::map<std::string, int> pathErrors;
        std::uint32_t code;  // 0: opens
        const char* detail;
    } rows[] = {
        {{}, {}, ENODEV, " lists none — load the parport_pc and ppdev modules (sudo modprobe"},
        {{{"parport0", nullptr}}, {}, ENOENT, "parport0/base-addr: No such file or directory"},
        {{{"parport0", "x\n"}}, {}, EINVAL, "parport0/base-addr holds no I/O port base address"},
        {{{"parport0", "888\t0\n"}},
         {{"/dev/parport0", EACCES}},
         EACCES,
         "cannot open /dev/parport0: Permission denied — add yourself to group lp"},
        {{{"parport0", "888\t0\n"}},
         {{"/dev/parport0", ENOENT}},
         ENOENT,
         "cannot open /dev/parport0: No such file or directory — load the ppdev module (sudo "
         "modprobe ppdev)"},
        {{{"parport0", "888\t0\n"}, {"parport1", "632\t0\n"}}, {{"/dev/parport0", EACCES}}, 0, ""},
        {{{"parport0", nullptr}, {"parport1", "632\t0\n"}}, {}, 0, ""},
        {{{"parport10", "632\t0\n"}, {"parport2", "888\t0\n"}},
         {{"/dev/parport2", EBUSY}, {"/dev/parport10", EACCES}},
         EBUSY,
         "cannot open /dev/parport2: Device or resource busy"},
    };
    for (const auto& row : rows) {
        Rig rig(row.tree);
        rig.devices->pathErrors = row.pathErrors;
        OpenFailure failure;
        EXPECT_EQ(rig.backend->Open(failure), row.code == 0) << row.detail;
        EXPECT_EQ(failure.code, row.code);
        EXPECT_THAT(failure.detail, HasSubstr(row.detail));
        EXPECT_EQ(rig.devices->OpenCount(), row.code == 0 ? 1u : 0u);
    }
    Rig missing;
    OpenFailure failure;
    EXPECT_FALSE(MakePpdevBackend(missing.devices, missing.root + "/none")->Open(failure));
    EXPECT_THAT(failure.detail, HasSubstr("/none does not exist — load the parport_pc"));

    const std::string hint = missing.backend->FailureHint();
    EXPECT_EQ(hint.back(), '\r');
    for (const char* part : {"modprobe ppdev", "/dev/parport", "sudo usermod -aG lp $USER"}) {
        EXPECT_THAT(hint, HasSubstr(part));
    }
}

TEST(Ppdev, ClaimsOnFirstUseOnlyAndReleasesAtClose) {
    Rig rig;
    rig.devices->pathErrors["/dev/parport10"] = EACCES;
    rig.Open();
    std::uint32_t error = 0;
    rig.backend->Write(0x378, 0x55, error);
    EXPECT_EQ(rig.backend->Read(0x378, error), Answer(PPRDATA));
    rig.backend->Write(0x379, 0xFF, error);  // input lines: nothing to do
    EXPECT_EQ(rig.backend->Read(0x379, error), Answer(PPRSTATUS));
    rig.backend->Write(0x37A, 0x0B, error);
    EXPECT_EQ(rig.backend->Read(0x37A, error), Answer(PPRCONTROL));
    rig.backend->Write(0x278, 0x01, error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(rig.backend->Read(0x3BC, error), 0);  // its device file did not open
    EXPECT_EQ(error, static_cast<std::uint32_t>(EACCES));
    rig.backend->Close();
    rig.backend->Close();
    EXPECT_THAT(rig.devices->Take(),
                ElementsAre("parport0 PPCLAIM", "parport0 PPWDATA 55", "parport0 PPRDATA",
                            "parport0 PPRSTATUS", "parport0 PPWCONTROL 0B", "parport0 PPRCONTROL",
                            "parport1 PPCLAIM", "parport1 PPWDATA 01", "parport0 PPRELEASE",
                            "close parport0", "parport1 PPRELEASE", "close parport1"));
}

TEST(Ppdev, FailedIoctlSetsErrorReadsZeroAndIsRetried) {
    const struct {
        unsigned long failing;
        int error;
        std::uint16_t port;
    } rows[] = {{PPCLAIM, EINTR, 0x378},     {PPRDATA, EIO, 0x378},   {PPRSTATUS, EIO, 0x379},
                {PPRCONTROL, ENODEV, 0x37A}, {PPWDATA, ENXIO, 0x378}, {PPWCONTROL, EINVAL, 0x37A}};
    for (const auto& row : rows) {
        Rig rig;
        rig.Open();
        rig.devices->errors[row.failing] = row.error;
        std::uint32_t readError = 0;
        std::uint32_t writeError = 0;
        const std::uint8_t value = rig.backend->Read(row.port, readError);
        rig.backend->Write(row.port, 0x33, writeError);
        const bool failsRead = row.failing != PPWDATA && row.failing != PPWCONTROL;
        const bool failsWrite = row.failing == PPCLAIM || !failsRead;
        EXPECT_EQ(value, failsRead ? 0 : Answer(row.failing == PPWDATA ? PPRDATA : PPRCONTROL));
        EXPECT_EQ(readError, failsRead ? static_cast<std::uint32_t>(row.error) : 0u);
        EXPECT_EQ(writeError, failsWrite ? static_cast<std::uint32_t>(row.error) : 0u);
        rig.devices->errors.clear();
        rig.devices->Take();
        rig.backend->Read(row.port, readError);
        EXPECT_EQ(rig.devices->Take().size(), row.failing == PPCLAIM ? 2u : 1u);
    }
}

TEST(PpdevThreads, StatusReadsBesideWritesClaimOnce) {
    Rig rig;
    rig.Open();
    std::thread worker([&] {
        std::uint32_t error = 0;
        for (int k = 0; k < 1000; ++k) {
            rig.backend->Write(0x378, static_cast<std::uint8_t>(k), error);
        }
    });
    std::uint32_t error = 0;
    for (int k = 0; k < 1000; ++k) {
        rig.backend->Read(0x379, error);
    }
    worker.join();
    const Calls calls = rig.devices->Take();
    EXPECT_EQ(calls.size(), 2001u);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "parport0 PPCLAIM"), 1);
}

}  // namespace
}  // namespace tarvex
