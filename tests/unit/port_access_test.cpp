#include <linux/ppdev.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "link/PortBackends.h"
#include "port/DirectBackend.h"
#include "port/PpdevBackend.h"
#include "support/FakeParport.h"
#include "support/Files.h"

namespace tarvex {
namespace {

// Counts opens, closes and accesses; reads answer 0xCC, so one that should not arrive shows.
struct CountingBackend : PortBackend {
    explicit CountingBackend(int* tally) : counts(tally) {}
    bool Open(OpenFailure&) override { return ++counts[0] > 0; }
    void Close() override { ++counts[1]; }
    std::uint8_t Read(std::uint16_t, std::uint32_t&) override { return ++counts[2], 0xCC; }
    void Write(std::uint16_t, std::uint8_t, std::uint32_t&) override { ++counts[2]; }
    std::string FailureHint() const override { return {}; }
    std::string Name() const override { return "counting"; }
    int* counts;
};

TEST(PortAccess, ClosedPortReadsZeroDropsWritesAndOpensOrClosesOnce) {
    int counts[3] = {};
    TIoPort port(std::make_unique<CountingBackend>(counts));
    EXPECT_EQ(port.ReadPort(0x379), 0);  // never opened
    EXPECT_EQ(port.LastError(), 6u);
    port.SetOpened(true);
    port.SetOpened(true);
    EXPECT_EQ(port.ReadPort(0x379), 0xCC);
    port.SetOpened(false);  // main-window close, then its destruction
    port.SetOpened(false);
    port.WritePort(0x378, 0x55);
    EXPECT_THAT(counts, ::testing::ElementsAre(1, 1, 1));  // opens, closes, accesses
}

TEST(PortAccess, TarvexTraceRecordsAccessesWhileOpen) {
    const std::string path = ::testing::TempDir() + "tarvex_trace_" + std::to_string(::getpid());
    ::setenv("TARVEX_TRACE", path.c_str(), 1);
    auto port = CreatePortAccess("sim");
    port->ReadPort(0x379);  // closed: never on the cable
    port->SetOpened(true);
    port->WritePort(0x37A, 0x0C);  // the emulator echoes data bits 0-3 on status bits 3-6
    port->WritePort(0x378, 0x0A);
    EXPECT_EQ(port->ReadPort(0x379), 0xD7);
    port->SetOpened(false);
    port->WritePort(0x378, 0x01);
    EXPECT_EQ(testing::ReadText(path), "W 037A 0C\nW 0378 0A\nR 0379 D7\n");
    std::remove(path.c_str());
}

using testing::FakeParport;

// Ports at 0x378 (parport0), 0x278 (parport1, with ECP registers) and 0x3BC (parport10, listed
// before parport2, which has no base); parport3's base is junk. The kernel refuses a register
// access before the claim, so each value read right also says the claim came first.
TEST(PortThreads, PpdevMapsPortsClaimsOnceOnFirstUseFailsIoctlsAndReleasesAtClose) {
    const auto kernel =
        std::make_shared<FakeParport>(std::vector<std::uint16_t>{0x378, 0x278, 0x3BC});
    kernel->At(0x378).baseAddr = "888";
    kernel->At(0x278).baseAddr = "632\t1656\n";
    kernel->At(0x3BC).name = "parport10";
    kernel->otherProc = {{"parport2", nullptr}, {"parport3", "-\n"}, {"default", nullptr}};
    const auto backend = MakePpdevBackend(kernel, "/proc");
    OpenFailure failure;
    ASSERT_TRUE(backend->Open(failure)) << failure.detail;
    EXPECT_EQ(kernel->At(0x378).claims, 0);    // not before the first use
    std::uint32_t error = 0, workerError = 0;  // the batch worker writes beside the timer's reads
    std::thread worker([&] { backend->Write(0x378, 0x55, workerError); });
    EXPECT_EQ(backend->Read(0x379, error), 0x7F);
    worker.join();
    EXPECT_EQ(backend->Read(0x378, error), 0x55);
    backend->Write(0x37A, 0x0B, error);
    backend->Write(0x379, 0xFF, error);  // status lines are input: the write goes nowhere
    EXPECT_EQ(backend->Read(0x37A, error), 0x0B);
    EXPECT_EQ(backend->Read(0x27A, error), 0x0C);
    EXPECT_EQ(error | workerError, 0u);
    EXPECT_EQ(kernel->At(0x378).claims + kernel->At(0x278).claims, 2);  // kept between accesses
    for (std::uint16_t port : {0x377, 0x37B, 0x3BF, 0xFFFF}) {  // no parport: a floating bus
        EXPECT_EQ(backend->Read(port, error), 0xFF);
        EXPECT_EQ(std::exchange(error, 0), std::uint32_t{ENXIO});
        backend->Write(port, 0x01, error);
        EXPECT_EQ(std::exchange(error, 0), std::uint32_t{ENXIO});
    }
    kernel->ioctlErrors = {{PPRDATA, EIO}};
    kernel->At(0x3BC).heldElsewhere = true;
    EXPECT_EQ(backend->Read(0x378, error), 0);  // a failed ioctl reads 0
    EXPECT_EQ(std::exchange(error, 0), std::uint32_t{EIO});
    EXPECT_EQ(backend->Read(0x3BC, error), 0);
    EXPECT_EQ(std::exchange(error, 0), std::uint32_t{EBUSY});
    kernel->ioctlErrors.clear();
    kernel->At(0x3BC).heldElsewhere = false;
    backend->Write(0x3BC, 0x02, error);  // a failed claim is not tried at every access
    EXPECT_EQ(std::exchange(error, 0), std::uint32_t{EBUSY});
    EXPECT_EQ(kernel->busyClaims, 1);
    backend->LetGo(0x3BC);  // free for another program, and claimed afresh at the next use
    EXPECT_EQ(kernel->At(0x3BC).claimedBy, -1);
    EXPECT_EQ(kernel->OpenFiles(), 2);
    backend->Write(0x3BC, 0x02, error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(kernel->At(0x3BC).data, 0x02);
    backend->Close();
    backend->Close();
    EXPECT_EQ(kernel->OpenFiles(), 0);
}

// Without a parallel port the box says one thing under its headline, whether the kernel has
// no parport folder or lists none in it; a port that cannot be opened names its cause and
// remedy. Opened, the first use claims the port, which sets the kernel's control state.
TEST(Ppdev, OpenFailureNamesCauseAndRemedyAndTheFirstClaimSetsTheKernelsState) {
    const std::string hint =
        "\r\rCheck the Linux parallel port access (TARVEX_IO=ppdev):\r"
        "- the modules are loaded: sudo modprobe -a parport_pc ppdev\r"
        "- the device files /dev/parport0, /dev/parport1, ... exist\r"
        "- you are a member of group lp: sudo usermod -aG lp $USER, then log in again\r";
    const char* const none =
        "no parallel port found in /proc — load the parport_pc and ppdev modules (sudo modprobe "
        "-a parport_pc ppdev)";
    const char* const refused =
        "cannot open /dev/parport0: Permission denied — add yourself to group lp (sudo usermod "
        "-aG lp $USER, then log in again)";
    // ports, no parport folder, /dev/parport0 refused, interrupt; opened, the error after the
    // open or else after two reads of 0x37A; control on the lines and read back; the problem
    struct Row {
        std::vector<std::uint16_t> bases;
        bool noProc, refuses, interrupt, opens;
        std::uint32_t error;
        std::uint8_t lines, control;
        const char* problem;
    };
    const Row rows[] = {{{}, true, false, false, false, ENOENT, 0, 0, none},
                        {{}, false, false, false, false, ENODEV, 0, 0, none},
                        {{0x378}, false, true, false, false, EACCES, 0, 0, refused},
                        {{0x378, 0x278}, false, true, false, true, EACCES, 0x00, 0x00, refused},
                        {{0x378, 0x278}, false, false, false, true, 0, 0x0C, 0x0C, ""},
                        {{0x378, 0x278}, false, false, true, true, 0, 0x1C, 0x0C, ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        auto kernel = std::make_shared<FakeParport>(row.bases);
        kernel->noProc = row.noProc;
        if (row.refuses) {
            kernel->openErrors["/dev/parport0"] = EACCES;
        }
        if (row.interrupt) {
            kernel->At(0x378).interrupt = true;
        }
        auto port = testing::FakePpdevPort(kernel);
        EXPECT_EQ(port->Opened(), row.opens);
        EXPECT_EQ(port->LastError(), row.opens ? 0u : row.error);
        if (!row.opens) {
            EXPECT_EQ(port->FailureMessage(),
                      std::string(kPortAccessFailure) + "\r\r" + row.problem + hint);
            continue;
        }
        EXPECT_EQ(port->ReadPort(0x37A), row.control);
        EXPECT_EQ(port->ReadPort(0x37A), row.control);
        EXPECT_EQ(kernel->Control(0x378), row.lines);
        EXPECT_EQ(port->LastError(), row.error);
        EXPECT_EQ(kernel->At(0x378).claims, row.refuses ? 0 : 1);  // claimed once
        EXPECT_EQ(port->PortProblem(0x378), row.problem);
        EXPECT_FALSE(port->KeepsControlState());
    }
}

// Grants port access per thread, refusing threads that set `refused`; logs each thread's calls
// and counts instructions from threads without a grant (the real ones kill the process).
struct FakeInstructions : PortInstructions {
    int Ioperm(unsigned long from, unsigned long count, bool on) override {
        asked += std::to_string(from) + "+" + std::to_string(count) + (on ? " on;" : " off;");
        granted = !refused;
        return granted ? 0 : -EPERM;
    }
    int Iopl(int) override { return Ioperm(0, 0, false); }  // shows as "0+0 off;"
    std::uint8_t In(std::uint16_t) override { return faults += granted ? 0 : 1, 0x87; }
    void Out(std::uint16_t, std::uint8_t) override { faults += granted ? 0 : 1; }

    static inline thread_local bool refused = false, granted = false;
    static inline thread_local std::string asked;
    std::atomic<int> faults{0};
};

TEST(PortThreads, DirectAsksOncePerThreadBeforeItsFirstAccessAndARefusedThreadReadsZero) {
    auto fake = std::make_shared<FakeInstructions>();
    auto backend = MakeDirectBackend(fake), other = MakeDirectBackend(fake);
    OpenFailure failure;
    ASSERT_TRUE(other->Open(failure) && backend->Open(failure));  // each asks for this thread
    std::string asked[3];
    std::uint32_t errors[3] = {};
    int reads[3] = {};
    auto run = [&](int k) {  // thread 0 is this one, 1 works beside it, 2 is refused
        FakeInstructions::refused = k == 2;
        for (int n = 0; n < 2; ++n) {
            reads[k] |= backend->Read(0x379, errors[k]);
            backend->Write(0x378, 0x01, errors[k]);
        }
        if (k > 0) {  // a grant for one open does not count for another
            reads[k] |= other->Read(0x379, errors[k]);
        }
        asked[k] = FakeInstructions::asked;
    };
    std::thread worker(run, 1), refused(run, 2);
    run(0);
    worker.join();
    refused.join();
    for (int k = 0; k < 3; ++k) {  // a refusal is not asked again either
        EXPECT_EQ(asked[k], "0+65536 on;0+65536 on;") << k;
        EXPECT_EQ(errors[k], k == 2 ? std::uint32_t{EPERM} : 0u) << k;
        EXPECT_EQ(reads[k], k == 2 ? 0 : 0x87) << k;
    }
    EXPECT_EQ(fake->faults, 0);
}

}  // namespace
}  // namespace tarvex
