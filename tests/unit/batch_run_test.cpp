#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <thread>

#include "batch/BatchRun.h"
#include "support/SimRig.h"

namespace tarvex {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::SimRig;

const std::string kTitle = "  Tarvex II Loader               V1.5";

// A batch run wired to the simulator, with image files in a scratch folder.
class BatchFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tarvex_batch_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string File(const std::string& name, std::size_t size, std::uint8_t seed = 1) {
        const auto path = (folder_ / name).string();
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>((i * 31 + seed) & 0xFF));
        }
        return path;
    }

    bool Run(const std::string& devices, std::vector<std::string> arguments) {
        rig = std::make_unique<SimRig>(devices);
        loader = std::make_unique<FileLoader>(rig->model, rig->host);
        batchRequested = true;
        exitRequested = false;
        BatchRun run(*rig->link, *loader, std::move(arguments), {batchRequested, exitRequested},
                     kTitle);
        const bool outcome = run.Run();
        resetTime = run.ResetTime();
        return outcome;
    }

    std::vector<std::uint8_t> EmulatorMemory(std::uint16_t base = 0x378) {
        return rig->bus->WithDevice(base, [](sim::SimEmulator* device) {
            return std::vector<std::uint8_t>(device->Memory().begin(), device->Memory().end());
        });
    }

    std::filesystem::path folder_;
    std::unique_ptr<SimRig> rig;
    std::unique_ptr<FileLoader> loader;
    std::atomic<bool> batchRequested{false};
    std::atomic<bool> exitRequested{false};
    std::uint32_t resetTime = 0;
};

TEST_F(BatchFixture, TwoArgumentsWriteVerifyHoldAndReport) {
    const auto image = File("image.bin", 0x20000);
    ASSERT_TRUE(Run("", {image, "27010"}));
    EXPECT_TRUE(exitRequested);
    EXPECT_FALSE(batchRequested);
    const auto& captions = rig->host.captions;
    ASSERT_GE(captions.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(captions.begin(), captions.begin() + 4),
                ElementsAre("   Reading file ...", "   Writing data to emulator ...",
                            "   Verifying data ...", "   131072 bytes OK ..."));
    EXPECT_EQ(captions[4], "   RESET time left: 1.0s");
    EXPECT_THAT(captions, Contains("   RESET time left: 0.5s"));
    EXPECT_EQ(captions[captions.size() - 2], "   RESET time left: 0.0s");
    EXPECT_EQ(captions.back(), kTitle);
    EXPECT_EQ(rig->host.lastResult, Lamp::Green);
    EXPECT_THAT(rig->host.Texts(), ElementsAre(BatchRun::kSuccessText));
    EXPECT_EQ(rig->host.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(rig->host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_THAT(rig->host.windowEnabled, ElementsAre(false, true));
    EXPECT_EQ(rig->host.inFileText, image);
    EXPECT_EQ(rig->host.portSelectText, "  0x0378");
    rig->bus->WithDevice(0x378,
                         [](sim::SimEmulator* device) { EXPECT_FALSE(device->TargetInReset()); });
    const auto memory = EmulatorMemory();
    EXPECT_EQ(memory[0x1FFFF], static_cast<std::uint8_t>(0x1FFFF * 31 + 1));
}

TEST_F(BatchFixture, PortArgumentIsProbedAndShown) {
    ASSERT_TRUE(Run("0x278,0x378", {File("a.bin", 0x2000), "2764", "$378", "0"}));
    EXPECT_EQ(rig->host.portSelectText, "  0x0378");
    EXPECT_EQ(rig->link->PortAddress(), 0x378);
    EXPECT_THAT(rig->host.captions, Contains("   8192 bytes OK ..."));
    EXPECT_THAT(rig->host.captions, Contains("   RESET time left: 0.0s"));
    EXPECT_EQ(EmulatorMemory(0x278)[0], 0x00);  // the other emulator was left alone
    EXPECT_EQ(resetTime, 0u);
}

TEST_F(BatchFixture, NonStandardPortWorksWithFourArguments) {
    ASSERT_TRUE(Run("0xD010", {File("a.bin", 0x100), "27512", "0xD010", "0"}));
    EXPECT_EQ(rig->host.portSelectText, "  0xD010");
}

TEST_F(BatchFixture, ShortFileLeavesFillAndLongFileIsCut) {
    ASSERT_TRUE(Run("", {File("short.bin", 0x1000), "27128", "888", "0"}));
    auto memory = EmulatorMemory();
    EXPECT_EQ(memory[0xFFF], static_cast<std::uint8_t>(0xFFF * 31 + 1));
    EXPECT_EQ(memory[0x1000], 0xFF);
    EXPECT_EQ(memory[0x3FFF], 0xFF);

    ASSERT_TRUE(Run("", {File("long.bin", 0x5000, 9), "27128", "x378", "0"}));
    memory = EmulatorMemory();
    EXPECT_EQ(memory[0x3FFF], static_cast<std::uint8_t>(0x3FFF * 31 + 9));
    EXPECT_EQ(memory[0x4000], 0x00);  // never written
}

TEST_F(BatchFixture, HexFileIsReadAsRawBytes) {
    const auto path = (folder_ / "image.hex").string();
    std::ofstream(path, std::ios::binary) << ":00000001FF\r\n";
    ASSERT_TRUE(Run("", {path, "2764", "$378", "0"}));
    EXPECT_EQ(EmulatorMemory()[0], ':');
}

struct FailureCase {
    const char* name;
    const char* devices;
    std::vector<std::string> arguments;  // "@" stands for an existing 128 KiB image
    std::string message;
    Lamp lamp;
};

class BatchFailureTest : public BatchFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BatchFailureTest, ReportsOnceAndLeavesTheWindowUsable) {
    const FailureCase& row = GetParam();
    const auto image = File("image.bin", 0x20000);
    std::vector<std::string> arguments = row.arguments;
    for (auto& argument : arguments) {
        if (argument == "@") {
            argument = image;
        }
    }
    std::string expected = row.message;
    if (const auto at = expected.find('@'); at != std::string::npos) {
        expected.replace(at, 1, image);
    }
    EXPECT_FALSE(Run(row.devices, arguments));
    EXPECT_THAT(rig->host.Texts(), ElementsAre(expected));
    EXPECT_EQ(rig->host.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(rig->host.messages[0].buttons, MessageButtons::Cancel);
    EXPECT_FALSE(exitRequested);
    EXPECT_FALSE(batchRequested);
    EXPECT_EQ(rig->host.windowEnabled.back(), true);
    EXPECT_EQ(rig->host.lastResult, row.lamp);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BatchFailureTest,
    ::testing::Values(FailureCase{"TypeNotKnown",
                                  "",
                                  {"@", "2816"},
                                  "Incorrect EPROM type   \" 2816 \"",
                                  Lamp::ButtonFace},
                      FailureCase{"TypeNotANumber",
                                  "",
                                  {"@", "abc"},
                                  "Incorrect EPROM type   \" abc \"",
                                  Lamp::ButtonFace},
                      FailureCase{"TypeOnlyAfterCutTo16Bits",
                                  "",
                                  {"@", "68300"},
                                  "Incorrect EPROM type   \" 68300 \"",
                                  Lamp::ButtonFace},
                      FailureCase{"PortNotANumber",
                                  "",
                                  {"@", "27010", "12G"},
                                  "Incorrect Centronics port address   \" 12G \"",
                                  Lamp::ButtonFace},
                      FailureCase{"PortControlPastFFFF",
                                  "",
                                  {"@", "27010", "$FFFE"},
                                  "Incorrect Centronics port address   \" $FFFE \"",
                                  Lamp::ButtonFace},
                      FailureCase{"NegativePort",
                                  "",
                                  {"@", "27010", "-1", "0"},
                                  "Incorrect Centronics port address   \" -1 \"",
                                  Lamp::ButtonFace},
                      FailureCase{"NoEmulatorAtPort",
                                  "",
                                  {"@", "27010", "0x278"},
                                  "Emulator port not detected",
                                  Lamp::ButtonFace},
                      FailureCase{"NoEmulatorAnywhere",
                                  "none",
                                  {"@", "27010"},
                                  "Emulator port not detected",
                                  Lamp::ButtonFace},
                      FailureCase{"EchoWithoutResetFeedback",
                                  "0x378/noreset",
                                  {"@", "27010", "$378"},
                                  "Emulator port not detected",
                                  Lamp::ButtonFace},
                      FailureCase{"MissingFile",
                                  "",
                                  {"no such.bin", "27010"},
                                  "File not found   \" no such.bin \"",
                                  Lamp::ButtonFace},
                      FailureCase{"ResetTooLong",
                                  "",
                                  {"@", "27010", "$378", "10001"},
                                  "Reset time longer than 10s!",
                                  Lamp::ButtonFace},
                      FailureCase{"ResetNegative",
                                  "",
                                  {"@", "27010", "$378", "-5"},
                                  "Incorrect reset time   \" -5 \"",
                                  Lamp::ButtonFace},
                      FailureCase{"ResetWithTrailingBlank",
                                  "",
                                  {"@", "27010", "$378", "100 "},
                                  "Incorrect reset time   \" 100  \"",
                                  Lamp::ButtonFace},
                      FailureCase{"ResetBeyond32Bits",
                                  "",
                                  {"@", "27010", "$378", "3000000000"},
                                  "Reset time longer than 10s!",
                                  Lamp::ButtonFace},
                      FailureCase{"ResetHexAllOnes",
                                  "",
                                  {"@", "27010", "$378", "$FFFFFFFF"},
                                  "Incorrect reset time   \" $FFFFFFFF \"",
                                  Lamp::ButtonFace},
                      FailureCase{"VerificationError",
                                  "0x378/bad=0x1234",
                                  {"@", "27010"},
                                  "Verification error",
                                  Lamp::Red}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(BatchFixture, UnreadableFileIsAReadError) {
    EXPECT_FALSE(Run("", {folder_.string(), "27010"}));
    EXPECT_THAT(rig->host.Texts(), ElementsAre("File read error"));
    EXPECT_EQ(rig->host.captions.back(), "   Reading file ...");
}

TEST(BatchRunText, CountdownShowsTenths) {
    // A locale with a decimal comma must not change the caption.
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"}) {
        if (std::setlocale(LC_ALL, name)) {
            break;
        }
    }
    EXPECT_EQ(BatchRun::CountdownCaption(10000), "   RESET time left: 10.0s");
    EXPECT_EQ(BatchRun::CountdownCaption(1000), "   RESET time left: 1.0s");
    EXPECT_EQ(BatchRun::CountdownCaption(909), "   RESET time left: 0.9s");
    EXPECT_EQ(BatchRun::CountdownCaption(0), "   RESET time left: 0.0s");
    std::setlocale(LC_ALL, "C");
}

// The window's timer reads the status register while the worker transfers.
TEST_F(BatchFixture, TimerReadsInterleaveWithTheWorker) {
    rig = std::make_unique<SimRig>("");
    loader = std::make_unique<FileLoader>(rig->model, rig->host);
    const auto image = File("image.bin", 0x8000);
    std::atomic<bool> done{false};
    bool outcome = false;
    std::thread worker([&] {
        BatchRun run(*rig->link, *loader, {image, "27256", "$378", "0"},
                     {batchRequested, exitRequested}, kTitle);
        outcome = run.Run();
        done = true;
    });
    int reads = 0;
    while (!done) {
        if (rig->link->EmulatorPresent()) {
            rig->port->ReadPort(rig->link->StatusAddress());
        }
        ++reads;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    EXPECT_TRUE(outcome);
    EXPECT_TRUE(exitRequested);
    EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace tarvex
