#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "batch/BatchRun.h"
#include "support/SimRig.h"

namespace tarvex {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

const std::string kTitle = "  Tarvex II Loader               V1.5";

class BatchRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream out(image, std::ios::binary);
        for (std::size_t i = 0; i < 0x20000; ++i) {
            out.put(static_cast<char>((i * 31 + 1) & 0xFF));
        }
    }
    void TearDown() override { std::remove(image.c_str()); }

    void Make(const std::string& devices) {
        rig = std::make_unique<testing::SimRig>(devices);
        loader = std::make_unique<FileLoader>(rig->model, rig->host);
        batchRequested = true;
        exitRequested = false;
    }
    bool Run(std::vector<std::string> arguments) {
        return BatchRun(rig->link, *loader, std::move(arguments), {batchRequested, exitRequested},
                        kTitle)
            .Run();
    }

    const std::string image = ::testing::TempDir() + "tarvex_batch_" + std::to_string(::getpid());
    std::unique_ptr<testing::SimRig> rig;
    std::unique_ptr<FileLoader> loader;
    std::atomic<bool> batchRequested{false}, exitRequested{false};
};

// On the worker thread, as the window runs it, while the window's timer reads the status.
TEST_F(BatchRunTest, WritesVerifiesHoldsResetAndReportsBesideTheTimer) {
    Make("");
    std::atomic<bool> done{false};
    std::thread worker([&] {
        EXPECT_TRUE(Run({image, "27010"}));
        done = true;
    });
    while (!done) {
        rig->port->ReadPort(rig->link.StatusAddress());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    EXPECT_TRUE(exitRequested);
    EXPECT_FALSE(batchRequested);
    const auto& captions = rig->host.captions;
    ASSERT_GE(captions.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(captions.begin(), captions.begin() + 5),
              std::vector<std::string>({"   Reading file ...", "   Writing data to emulator ...",
                                        "   Verifying data ...", "   131072 bytes OK ...",
                                        "   RESET time left: 1.0s"}));
    EXPECT_THAT(captions, Contains("   RESET time left: 0.5s"));
    EXPECT_EQ(captions[captions.size() - 2], "   RESET time left: 0.0s");
    EXPECT_EQ(captions.back(), kTitle);
    EXPECT_EQ(rig->host.lastResult, Lamp::Green);
    EXPECT_THAT(rig->host.Texts(), ElementsAre(BatchRun::kSuccessText));
    EXPECT_EQ(rig->host.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(rig->host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_THAT(rig->host.windowEnabled, ElementsAre(false, true));
    EXPECT_FALSE(rig->Device()->TargetInReset());
    EXPECT_EQ(rig->Device()->Memory()[0x1FFFF], static_cast<std::uint8_t>(0x1FFFF * 31 + 1));
}

TEST_F(BatchRunTest, ReportsEachFailureOnceAndLeavesTheWindowUsable) {
    // devices, arguments with "@" for the image (a reset time of 10 s is allowed), message
    const std::tuple<const char*, std::vector<std::string>, std::string> rows[] = {
        {"", {"@", "68300"}, "Incorrect EPROM type   \" 68300 \""},  // 2764 when cut to 16 bits
        {"", {"@", "27010", "-1", "0"}, "Incorrect Centronics port address   \" -1 \""},
        {"none", {"@", "27010"}, "Emulator port not detected"},
        {"0x378/noreset", {"@", "27010", "$378"}, "Emulator port not detected"},
        {"", {"@", "27010", "$378", "10001"}, "Reset time longer than 10s!"},
        {"", {"@", "27010", "$378", "3000000000"}, "Reset time longer than 10s!"},
        {"", {"@", "27010", "$378", "-5"}, "Incorrect reset time   \" -5 \""},
        {"0x378/bad=0x1234", {"@", "27010", "$378", "10000"}, "Verification error"},
        {"", {::testing::TempDir(), "27010"}, "File read error"}};
    for (auto [devices, arguments, message] : rows) {
        SCOPED_TRACE(message);
        std::replace(arguments.begin(), arguments.end(), std::string("@"), image);
        Make(devices);
        EXPECT_FALSE(Run(arguments));
        EXPECT_THAT(rig->host.Texts(), ElementsAre(message));
        EXPECT_EQ(rig->host.messages[0].kind, MessageKind::Error);
        EXPECT_EQ(rig->host.messages[0].buttons, MessageButtons::Cancel);
        EXPECT_FALSE(exitRequested || batchRequested);
        EXPECT_EQ(rig->host.windowEnabled.back(), true);
        EXPECT_EQ(rig->host.lastResult, message[0] == 'V' ? Lamp::Red : Lamp::ButtonFace);
    }
    EXPECT_EQ(rig->host.captions.back(), "   Reading file ...");
}

}  // namespace
}  // namespace tarvex
