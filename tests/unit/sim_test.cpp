#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/SimBackend.h"

namespace tarvex::sim {
namespace {

namespace fs = std::filesystem;

class SimStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tarvex_sim_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::unique_ptr<SimBackend> Backend(const std::string& devices, const std::string& state) {
        std::string error;
        auto backend = SimBackend::Create(devices, state, error);
        EXPECT_TRUE(backend) << error;
        return backend;
    }

    fs::path folder_;
};

TEST_F(SimStateTest, MemoryOutlivesTheRunPerBase) {
    const std::string state = (folder_ / "sim.state").string();
    {
        auto backend = Backend("0x278,0x378", state);
        OpenFailure failure;
        ASSERT_TRUE(backend->Open(failure)) << failure.detail;
        backend->Bus().WithDevice(0x278, [](SimEmulator* device) { device->Memory()[1] = 0x27; });
        backend->Bus().WithDevice(0x378,
                                  [](SimEmulator* device) { device->Memory()[0x1FFFF] = 0x37; });
        backend->Close();
        EXPECT_EQ(backend->SaveError(), "");
    }
    // A later run with the devices in another order, plus one the file does not know.
    auto backend = Backend("0x378,0x3BC,0x278", state);
    OpenFailure failure;
    ASSERT_TRUE(backend->Open(failure)) << failure.detail;
    EXPECT_EQ(backend->Bus().WithDevice(0x278, [](SimEmulator* d) { return d->Memory()[1]; }),
              0x27);
    EXPECT_EQ(backend->Bus().WithDevice(0x378, [](SimEmulator* d) { return d->Memory()[0x1FFFF]; }),
              0x37);
    EXPECT_EQ(backend->Bus().WithDevice(0x3BC, [](SimEmulator* d) { return d->Memory()[1]; }),
              0x00);
}

TEST_F(SimStateTest, BadOrUnwritableStateIsAClearErrorAndKeepsTheFile) {
    struct Row {
        const char* name;
        std::string contents;  // written first, unless empty
        std::string path;
        const char* message;
    };
    const std::string garbage = (folder_ / "garbage.state").string();
    const std::string truncated = (folder_ / "truncated.state").string();
    const Row rows[] = {
        {"garbage", "not a state file at all", garbage,
         "is not a state file written by this program"},
        {"truncated", std::string("TARVEX-SIM-STATE 1\n") + "\x78\x03" + std::string(100, 'x'),
         truncated, "is not a state file written by this program"},
        {"missing folder", "", (folder_ / "no" / "such" / "sim.state").string(),
         "cannot write simulator state file"},
        {"a folder", "", folder_.string(), "is not a state file written by this program"},
        {"a device that never ends", "", "/dev/zero",
         "is not a state file written by this program"},
    };
    for (const Row& row : rows) {
        if (!row.contents.empty()) {
            std::ofstream(row.path, std::ios::binary) << row.contents;
        }
        auto backend = Backend("", row.path);
        OpenFailure failure;
        EXPECT_FALSE(backend->Open(failure)) << row.name;
        EXPECT_THAT(failure.detail, ::testing::HasSubstr(row.message)) << row.name;
        EXPECT_THAT(failure.detail, ::testing::HasSubstr(row.path)) << row.name;
        EXPECT_NE(failure.code, 0u) << row.name;
        if (!row.contents.empty()) {
            std::ifstream in(row.path, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), row.contents)
                << row.name;
        }
    }
}

TEST(SimBus, WhatThePortsReadWithoutAnEmulator) {
    struct Row {
        const char* name;
        const char* devices;
        std::uint8_t status;   // status register at 0x379
        std::uint8_t control;  // control register at 0x37A after writing 0x2A
    };
    const Row rows[] = {
        {"no port: nothing drives the bus", "none", 0xFF, 0xFF},
        {"bare port: lines float high, Busy reads 0", "0x378/nodevice", 0x7F, 0x2A},
        {"cable pulled at once", "0x378/pull=1", 0x7F, 0x2A},
        {"emulator holding RESET, select 01", "0x378", 0x87, 0x2A},
        {"emulator without RESET feedback", "0x378/noreset", 0x07, 0x2A},
    };
    for (const Row& row : rows) {
        std::string error;
        auto backend = SimBackend::Create(row.devices, "", error);
        ASSERT_TRUE(backend) << error;
        SimBus& bus = backend->Bus();
        bus.Write(0x37A, 0x2A);
        EXPECT_EQ(bus.Read(0x379), row.status) << row.name;
        EXPECT_EQ(bus.Read(0x37A), row.control) << row.name;
    }
}

TEST(SimBus, LatchesStoreOnTheRisingStrobeOnly) {
    SimBus bus;
    SimEmulator& device = bus.AddDevice(0x378);
    bus.Write(0x378, 0x12);
    bus.Write(0x37A, 0x02);  // select high address
    bus.Write(0x37A, 0x0A);  // strobe: stores 0x12
    bus.Write(0x378, 0x34);
    bus.Write(0x37A, 0x0A);  // no edge: nothing stored
    bus.Write(0x37A, 0x04);
    bus.Write(0x37A, 0x0C);  // low address: 0x34
    bus.Write(0x378, 0x08);
    bus.Write(0x37A, 0x00);
    bus.Write(0x37A, 0x08);  // configuration: bit 3 is address bit 16
    EXPECT_EQ(device.LatchedAddress(), 0x11234u);
    bus.Write(0x378, 0x5A);
    bus.Write(0x37A, 0x06);
    bus.Write(0x37A, 0x0E);  // memory write
    EXPECT_EQ(device.Memory()[0x11234], 0x5A);
    // The nibbles come back on status bits 3-6: high with select 01, low with select 10.
    bus.Write(0x37A, 0x02);
    EXPECT_EQ((bus.Read(0x379) >> 3) & 0x0F, 0x5);
    bus.Write(0x37A, 0x04);
    EXPECT_EQ((bus.Read(0x379) >> 3) & 0x0F, 0xA);
}

TEST(SimOptions, RejectsWhatItDoesNotKnow) {
    for (const char* devices : {"0x378,0x379", "0x378,0x376", "0x378,888", "0x10000", "0x378/x"}) {
        std::string error;
        EXPECT_FALSE(SimBackend::Create(devices, "", error)) << devices;
        EXPECT_THAT(error, ::testing::StartsWith("TARVEX_IO: ")) << devices;
    }
    for (const char* text : {"stuck1=8", "flip=x", "bad=0x20000", "flaky=1001", "pull=0",
                             "frobnicate", "noreset=1", "seed=-1"}) {
        DeviceOptions options;
        EXPECT_TRUE(ParseDeviceOptions(text, options).has_value()) << text;
    }
    DeviceOptions options;
    EXPECT_FALSE(ParseDeviceOptions("noreset/stuck0=1/stuck1=0x7/bad=0x1FFFF/pull=10", options));
    EXPECT_FALSE(options.resetFeedback);
    EXPECT_EQ(options.stuckLow, 0x02);
    EXPECT_EQ(options.stuckHigh, 0x80);
    EXPECT_THAT(options.badCells, ::testing::ElementsAre(0x1FFFFu));
    EXPECT_EQ(options.pullAfter, 10u);
}

}  // namespace
}  // namespace tarvex::sim
