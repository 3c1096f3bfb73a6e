#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "link/Emulator.h"
#include "link/IoPort.h"
#include "sim/SimBackend.h"

// Counts every allocation through operator new while `counting` is set.
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}
// Not inlined: g++ would then see free() on a pointer from operator new and warn.
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace tarvex {
namespace {

enum class Transfer { Write, Read, Verify };

class TransferAllocationTest : public ::testing::TestWithParam<Transfer> {};

// The per-byte loops must not allocate: 1 M port accesses per 128 KiB leave no room for it.
TEST_P(TransferAllocationTest, FullImageAllocatesNothing) {
    std::string error;
    auto backend = sim::SimBackend::Create("", "", error);
    ASSERT_TRUE(backend);
    TIoPort port(std::move(backend));
    port.SetOpened(true);
    ImageModel model;
    SilentHost host;
    EmulatorLink link(port, model, host);
    link.DetectEmulator();
    ASSERT_TRUE(link.EmulatorPresent());
    link.SetEpromType(27010);
    if (GetParam() == Transfer::Verify) {
        link.WriteEmulator(0, model.EpromEnd, 0);
    }

    bool verified = true;
    allocations = 0;
    counting = true;
    switch (GetParam()) {
        case Transfer::Write:
            link.WriteEmulator(0, model.EpromEnd, 0);
            break;
        case Transfer::Read:
            link.ReadEmulator(0, model.EpromEnd, 0);
            break;
        case Transfer::Verify:
            verified = link.VerifyEmulator(0, model.EpromEnd, 0);
            break;
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_TRUE(verified);
}

INSTANTIATE_TEST_SUITE_P(Transfers, TransferAllocationTest,
                         ::testing::Values(Transfer::Write, Transfer::Read, Transfer::Verify),
                         [](const auto& row) {
                             return row.param == Transfer::Write  ? std::string("Write")
                                    : row.param == Transfer::Read ? std::string("Read")
                                                                  : std::string("Verify");
                         });

}  // namespace
}  // namespace tarvex
