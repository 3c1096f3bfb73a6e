#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "link/DirectBackend.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Records, per thread, the permission calls and the instructions issued. An instruction
// from a thread without permission counts as a fault: the real one kills the process.
class FakeInstructions : public PortInstructions {
  public:
    int Ioperm(unsigned long from, unsigned long count, bool on) override {
        return Grant(
            "ioperm " + std::to_string(from) + " " + std::to_string(count) + (on ? " on" : " off"),
            iopermError, true);
    }
    int Iopl(int level) override {
        return Grant("iopl " + std::to_string(level), ioplError, false);
    }
    std::uint8_t In(std::uint16_t) override {
        Issue();
        return 0x87;
    }
    void Out(std::uint16_t, std::uint8_t) override { Issue(); }

    struct Thread {
        std::vector<std::string> calls;
        bool allowed = false;
        int instructions = 0;
    };
    Thread Of(std::thread::id thread) {
        std::lock_guard lock(mutex);
        return threads[thread];
    }

    std::mutex mutex;
    std::map<std::thread::id, Thread> threads;
    std::map<std::thread::id, bool> refused;
    int iopermError = 0;
    int ioplError = 0;
    int faults = 0;

  private:
    int Grant(std::string call, int error, bool refusable) {
        std::lock_guard lock(mutex);
        if (refusable && refused.count(std::this_thread::get_id())) {
            error = EPERM;
        }
        auto& thread = threads[std::this_thread::get_id()];
        thread.calls.push_back(std::move(call));
        thread.allowed = error == 0;
        return -error;
    }
    void Issue() {
        std::lock_guard lock(mutex);
        auto& thread = threads[std::this_thread::get_id()];
        ++thread.instructions;
        faults += thread.allowed ? 0 : 1;
    }
};

TEST(DirectThreads, EachThreadAsksForPermissionOnceBeforeItsFirstAccess) {
    auto fake = std::make_shared<FakeInstructions>();
    auto backend = MakeDirectBackend(fake);
    OpenFailure failure;
    ASSERT_TRUE(backend->Open(failure));
    std::thread::id workerId, refusedId;
    std::uint32_t workerError = 0, refusedError = 0;
    std::uint8_t refusedRead = 0xFF;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        for (int k = 0; k < 500; ++k) {
            backend->Write(0x378, static_cast<std::uint8_t>(k), workerError);
        }
    });
    std::uint32_t error = 0;
    for (int k = 0; k < 500; ++k) {
        EXPECT_EQ(backend->Read(0x379, error), 0x87);
    }
    // Joined only after both ran: a joined thread's id can be handed out again.
    std::thread refused([&] {
        refusedId = std::this_thread::get_id();
        {
            std::lock_guard lock(fake->mutex);
            fake->refused[refusedId] = true;
        }
        refusedRead = backend->Read(0x379, refusedError);
        backend->Write(0x378, 0x01, refusedError);
    });
    worker.join();
    refused.join();

    EXPECT_EQ(error | workerError, 0u);
    const auto main = std::this_thread::get_id();
    EXPECT_THAT(fake->Of(main).calls, ElementsAre("ioperm 0 65536 on"));
    EXPECT_THAT(fake->Of(workerId).calls, ElementsAre("ioperm 0 65536 on"));
    EXPECT_EQ(fake->Of(main).instructions + fake->Of(workerId).instructions, 1000);
    EXPECT_EQ(refusedError, static_cast<std::uint32_t>(EPERM));
    EXPECT_EQ(refusedRead, 0);
    EXPECT_EQ(fake->Of(refusedId).calls.size(), 1u);  // a refusal is not asked again
    EXPECT_EQ(fake->faults, 0);
}

TEST(DirectThreads, GrantIsNeitherKeptAfterCloseNorTakenForAnotherBackend) {
    auto first = std::make_shared<FakeInstructions>();
    auto second = std::make_shared<FakeInstructions>();
    auto firstBackend = MakeDirectBackend(first);
    auto secondBackend = MakeDirectBackend(second);
    std::uint32_t error = 0;
    EXPECT_EQ(firstBackend->Read(0x379, error), 0);  // never opened
    EXPECT_NE(error, 0u);
    OpenFailure failure;
    ASSERT_TRUE(firstBackend->Open(failure));
    ASSERT_TRUE(secondBackend->Open(failure));
    secondBackend->Close();
    error = 0;
    secondBackend->Write(0x378, 0x01, error);
    EXPECT_NE(error, 0u);
    ASSERT_TRUE(secondBackend->Open(failure));
    error = 0;
    std::thread worker([&] {
        firstBackend->Read(0x379, error);
        secondBackend->Read(0x379, error);
    });
    worker.join();
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(first->faults + second->faults, 0);
    EXPECT_EQ(second->Of(std::this_thread::get_id()).calls.size(), 2u);
}

TEST(DirectOpen, AsksInTheOpeningThreadAndExplainsARefusal) {
    const struct {
        int iopermError, ioplError;
        std::vector<std::string> calls;
        const char* detail;  // empty: opens
    } rows[] = {
        {0, 0, {"ioperm 0 65536 on"}, ""},
        {EPERM,
         0,
         {"ioperm 0 65536 on"},
         "ioperm: Operation not permitted — direct I/O needs root or CAP_SYS_RAWIO, and fails "
         "under Secure Boot kernel lockdown even as root; use TARVEX_IO=ppdev instead"},
        {EINVAL, 0, {"ioperm 0 65536 on", "iopl 3"}, ""},
        {EINVAL, EPERM, {"ioperm 0 65536 on", "iopl 3"}, "iopl: Operation not permitted — "},
        {ENOSYS, 0, {"ioperm 0 65536 on"}, "ioperm: Function not implemented — this kernel"},
    };
    for (const auto& row : rows) {
        auto fake = std::make_shared<FakeInstructions>();
        fake->iopermError = row.iopermError;
        fake->ioplError = row.ioplError;
        auto backend = MakeDirectBackend(fake);
        OpenFailure failure;
        EXPECT_EQ(backend->Open(failure), *row.detail == 0);
        const int refusal = row.ioplError ? row.ioplError : row.iopermError;
        EXPECT_EQ(failure.code, *row.detail ? static_cast<std::uint32_t>(refusal) : 0u);
        EXPECT_THAT(failure.detail, ::testing::StartsWith(row.detail));
        EXPECT_EQ(fake->Of(std::this_thread::get_id()).calls, row.calls);
    }
    OpenFailure failure;
    EXPECT_FALSE(MakeDirectBackend(nullptr)->Open(failure));
    EXPECT_THAT(failure.detail, HasSubstr("x86 only"));
    const std::string hint = MakeDirectBackend(nullptr)->FailureHint();
    EXPECT_EQ(hint.back(), '\r');
    for (const char* part : {"root", "CAP_SYS_RAWIO", "Secure Boot"}) {
        EXPECT_THAT(hint, HasSubstr(part));
    }
}

}  // namespace
}  // namespace tarvex
