#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "link/IoPort.h"
#include "link/PortBackends.h"

namespace tarvex {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Counts what reaches it; reads answer 0xCC, so one that should not arrive shows.
struct CountingBackend : PortBackend {
    explicit CountingBackend(int* tally) : counts(tally) {}
    bool Open(OpenFailure&) override { return ++counts[0] > 0; }
    void Close() override { ++counts[1]; }
    std::uint8_t Read(std::uint16_t, std::uint32_t&) override {
        ++counts[2];
        return 0xCC;
    }
    void Write(std::uint16_t, std::uint8_t, std::uint32_t&) override { ++counts[2]; }
    std::string FailureHint() const override { return {}; }
    std::string Name() const override { return "counting"; }
    int* counts;  // opens, closes, accesses
};

TEST(PortAccess, ClosedPortReadsZeroDropsWritesAndAssignmentsChangeStateOnce) {
    int counts[3] = {};
    TIoPort port(std::make_unique<CountingBackend>(counts));
    for (int stage = 0; stage < 2; ++stage) {  // never opened, then closed again
        EXPECT_EQ(port.ReadPort(0x379), 0);
        EXPECT_EQ(port.LastError(), TIoPort::kErrorInvalidHandle);
        port.WritePort(0x378, 0x55);
        EXPECT_EQ(port.LastError(), TIoPort::kErrorInvalidHandle);
        EXPECT_EQ(counts[2], 0);
        port.SetOpened(true);
        port.SetOpened(true);
        EXPECT_EQ(port.ReadPort(0x379), 0xCC);
        counts[2] = 0;
        // Main-window close, then its destruction: one close, no reopening.
        port.SetOpened(false);
        port.SetOpened(false);
        EXPECT_FALSE(port.Opened());
    }
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[1], 2);
}

// Keeps the variables CreatePortAccess reads, and puts them back afterwards.
class PortEnvironment : public ::testing::Test {
  protected:
    void SetUp() override {
        for (auto& [name, value] : saved_) {
            const char* current = std::getenv(name);
            value = current ? current : "";
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (auto& [name, value] : saved_) {
            value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
        }
    }
    std::pair<const char*, std::string> saved_[3] = {
        {"TARVEX_IO", ""}, {"TARVEX_TRACE", ""}, {"TARVEX_SIM_STATE", ""}};
};

TEST_F(PortEnvironment, TarvexIoChoosesTheBackend) {
    const struct {
        const char* io;           // null: TARVEX_IO=environment
        const char* environment;  // null: unset
        const char* backend;      // null: none; the port never opens
        const char* message;
    } rows[] = {
        {nullptr, nullptr, "ppdev", ""},
        {"direct", nullptr, "direct", ""},
        {"sim", nullptr, "sim", ""},
        {"sim:none", nullptr, "sim", ""},
        {"sim:0x278,0x3BC", nullptr, "sim", ""},
        {nullptr, "sim:none", "sim", ""},
        {"bogus", nullptr, nullptr, "TARVEX_IO=bogus is not a port access method"},
        {nullptr, "simulator", nullptr, "TARVEX_IO=simulator is not"},
        {"sim:zzz", nullptr, nullptr, "'zzz' is not a port base address"},
        {"sim:0x378,888", nullptr, nullptr, "overlaps another device"},
        {"sim:0x378,", nullptr, nullptr, "'' is not"},
        {"sim:0x378/stuck1=9", nullptr, nullptr, "give a data bit from 0 to 7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.io ? row.io : row.environment ? row.environment : "unset");
        row.environment ? ::setenv("TARVEX_IO", row.environment, 1) : ::unsetenv("TARVEX_IO");
        auto port = CreatePortAccess(row.io);
        if (!row.backend) {
            port->SetOpened(true);
            EXPECT_FALSE(port->Opened());
            EXPECT_THAT(port->FailureMessage(),
                        StartsWith(std::string(kPortAccessFailure) + "\r\rTARVEX_IO"));
            EXPECT_THAT(port->FailureMessage(), HasSubstr(row.message));
            EXPECT_THAT(port->FailureMessage(), HasSubstr(kIoValues));
            continue;
        }
        ASSERT_NE(port->Backend(), nullptr);
        EXPECT_EQ(port->Backend()->Name(), row.backend);
        if (port->Backend()->Name() == "sim") {  // the others depend on this machine
            port->SetOpened(true);
            EXPECT_TRUE(port->Opened());
        }
    }
}

TEST_F(PortEnvironment, TraceRecordsEveryAccessWhileOpen) {
    const std::string path = ::testing::TempDir() + "port_access_trace.txt";
    ::setenv("TARVEX_TRACE", path.c_str(), 1);
    auto port = CreatePortAccess("sim");
    port->ReadPort(0x379);  // closed: never on the cable
    port->SetOpened(true);
    port->WritePort(0x37A, 0x0C);  // the emulator echoes data bits 0-3 on status bits 3-6
    port->WritePort(0x378, 0x00);
    EXPECT_EQ(port->ReadPort(0x379), 0x87);
    port->WritePort(0x378, 0x0A);
    EXPECT_EQ(port->ReadPort(0x379), 0xD7);
    port->WritePort(0x2FB, 0xFF);
    port->SetOpened(false);
    port->WritePort(0x378, 0x01);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::remove(path.c_str());
    EXPECT_EQ(text.str(), "W 037A 0C\nW 0378 00\nR 0379 87\nW 0378 0A\nR 0379 D7\nW 02FB FF\n");

    ::setenv("TARVEX_TRACE", (::testing::TempDir() + "missing/trace.txt").c_str(), 1);
    port = CreatePortAccess("sim");
    port->SetOpened(true);
    EXPECT_FALSE(port->Opened());
    EXPECT_THAT(port->FailureMessage(), HasSubstr("cannot write trace file "));
    EXPECT_THAT(port->FailureMessage(), HasSubstr("TARVEX_TRACE must be writable"));
}

}  // namespace
}  // namespace tarvex
