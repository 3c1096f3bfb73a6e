// tarvex test memory and test signals: the emulator's RAM pass after pass, single port lines for an
// oscilloscope.
#include <cstdio>

#include "cli/Test.h"
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"
#include "diag/MemoryTest.h"

namespace tarvex::cli {
namespace {

const CLI::Validator kPasses = Number([](const std::string& text, std::int64_t& value) {
    if (!ParseCommandNumber(text, value) || value < 1 || value > kMemoryTestPassLimit) {
        return "'" + text + "' is not a number of passes from 1 to 1000000";
    }
    return std::string();
});

const CLI::Validator kIterations = Number([](const std::string& text, std::int64_t& value) {
    if (!ParseCommandNumber(text, value) || value < 1) {
        return "'" + text + "' is not a number of iterations (1 or more)";
    }
    return std::string();
});

const CLI::Validator kLines = Number([](const std::string& text, std::int64_t& value) {
    std::string complaint;
    const auto lines = ParseSignalLines(text, complaint);
    value = lines.value_or(0);
    return complaint;
});

const CLI::Validator kSeconds(
    [](std::string& text) {
        char* end = nullptr;
        const double seconds = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
            seconds > 1e6) {
            return "'" + text + "' is not a number of seconds (more than 0, at most 1000000)";
        }
        return std::string();
    },
    "");

void Declare(CommandLineParts& p) {
    CLI::App& test = p.Command(
        "test",
        "memory: write and verify random data in all of\nthe emulator's 128 KiB, pass after "
        "pass; signals:\ndrive single port lines for an oscilloscope");
    test.add_option("WHAT", p.testWhat, "memory or signals")
        ->required()
        ->type_name("")
        ->transform(Choice("a test", {"memory", "signals"}));
    test.add_option("--type", p.invocation.type,
                    std::string("EPROM type to select again at the end:\n") + kTypes)
        ->type_name("T")
        ->transform(kEpromType);
    test.add_option("--passes", p.invocation.test.passes,
                    "memory: stop after N passes (at most 1000000;\ndefault: until Ctrl-C)")
        ->type_name("N")
        ->transform(kPasses);
    test.add_option("--lines", p.invocation.test.lines,
                    "signals: the lines to drive, from data, autofeed,\ninit, select and "
                    "strobe, separated by commas")
        ->type_name("LIST")
        ->transform(kLines);
    CLI::Option* count =
        test.add_option("--count", p.invocation.test.count,
                        "signals: stop after N iterations (default: until\nCtrl-C); not "
                        "with --seconds")
            ->type_name("N")
            ->transform(kIterations);
    test.add_option("--seconds", p.invocation.test.seconds,
                    "signals: stop after S seconds; not with --count")
        ->type_name("S")
        ->check(kSeconds)
        ->excludes(count);
    test.footer(
        "memory prints a line per pass on stderr; a bad pass also lists where the\n"
        "emulator differs from what was written. Ctrl-C ends the test normally: the\n"
        "totals follow and the exit status says whether any pass was bad. Without\n"
        "--type the emulator is left set for the 27010.\n"
        "signals needs no emulator (it finds a dead cable or port); it drives the port\n"
        "of the emulator found, the one --port names, or else 0x0278.");
}

void Check(CommandLineParts& p) {
    CLI::App& options = *p.app.get_subcommand("test");
    p.invocation.test.signals = p.testWhat == 1;
    const char* const what = p.invocation.test.signals ? "test signals" : "test memory";
    // Options of the other test.
    static const std::vector<std::string> kMemoryOnly{"--passes"};
    static const std::vector<std::string> kSignalsOnly{"--lines", "--count", "--seconds"};
    for (const std::string& option : p.invocation.test.signals ? kMemoryOnly : kSignalsOnly) {
        if (options.count(option) > 0) {
            throw UsageError(std::string(what) + " does not take " + option, "test");
        }
    }
    if (p.invocation.test.signals && options.count("--lines") == 0) {
        throw UsageError("test signals needs --lines LIST", "test");
    }
}

class Test final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
    int Memory();
    int Signals();
};

int Test::Work() {
    return invocation_.test.signals ? Signals() : Memory();
}

// Ctrl-C is the memory test's normal end: the totals and the type still follow.
int Test::Memory() {
    if (const int status = Steps<Test>({&Test::OpenPort, &Test::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    if (invocation_.type != 0) {
        model_->FillValue = 0xFF;
        link_->SetEpromType(invocation_.type);  // the type the test gives back at its end
    }
    const std::uint32_t passes = invocation_.test.passes;
    host_.Note("memory test of the emulator at " + Where() + ", " +
               (passes ? std::to_string(passes) + (passes == 1 ? " pass" : " passes")
                       : std::string("until Ctrl-C")));
    MemoryTestReport report(*link_, invocation_.quiet);
    report.SetEvents(host_.Events());
    TestRandom random;  // seed 0 at the start of every run of the program
    const MemoryTestCounts counts =
        RunMemoryTest(*link_, random, report, passes ? passes : kMemoryTestPassLimit);
    if (report.LinkLost()) {
        return kExitNoEmulator;
    }
    LeaveReset();
    Say("memory test of the emulator at " + Where() + ": " + std::to_string(counts.executed) +
        (counts.executed == 1 ? " pass, " : " passes, ") + std::to_string(counts.passed) +
        " O.K., " + std::to_string(counts.failed) + " bad" + (Stopped() ? ", stopped" : "") + " (" +
        Elapsed() + ")");
    // Ctrl-C is the test's normal end; SIGTERM and SIGHUP end it as signals do.
    if (Stopped() && StopSignal() != SIGINT) {
        return Interrupt(LeftState());
    }
    if (counts.executed == 0) {
        return Fail(kExitMismatch, "memory test: no pass completed, nothing was checked");
    }
    return counts.failed > 0 ? kExitMismatch : kExitSuccess;
}

// No emulator needed: a dead cable or port is what this test is for.
int Test::Signals() {
    if (const int status = Steps<Test>({&Test::OpenPort}); status != kExitSuccess) {
        return status;
    }
    if (invocation_.port) {
        link_->SetPortAddress(*invocation_.port);
        link_->CheckEmulatorPort(*invocation_.port);
    } else {
        link_->DetectEmulator();  // else the first standard address, as the window does
    }
    const TestInvocation& test = invocation_.test;
    std::string length = "until Ctrl-C";
    if (test.count) {
        length = std::to_string(*test.count) + (*test.count == 1 ? " iteration" : " iterations");
    } else if (test.seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "for %g s", *test.seconds);
        length = text;
    }
    std::string plan = SignalsPlan(test.lines);
    plan.pop_back();  // its last line break
    Say("driving the port at " + Where() + " (" +
        (link_->EmulatorPresent() ? "emulator found" : "no emulator answered") +
        ") with no delay, " + length + ":\n" + plan);
    const SignalsRun run = DriveSignals(*port_, link_->PortAddress(), test.lines, test.count,
                                        test.seconds, link_->StopRequest);
    if (invocation_.type != 0) {
        model_->FillValue = 0xFF;
        link_->SetEpromType(invocation_.type);  // the lines driven may have changed it
    }
    char rate[96];
    std::snprintf(rate, sizeof rate, "%llu iterations in %.2f s: %.0f iterations per second",
                  static_cast<unsigned long long>(run.iterations), run.seconds,
                  run.seconds > 0 ? static_cast<double>(run.iterations) / run.seconds : 0.0);
    Say(std::string(rate) + (Stopped() ? ", stopped" : ""));
    // Ctrl-C is the test's normal end; SIGTERM and SIGHUP end it as signals do.
    return Stopped() && StopSignal() != SIGINT ? Interrupt("the port's lines are left as driven")
                                               : kExitSuccess;
}

}  // namespace

CommandSpec TestCommand() {
    return {"test", Declare, Check, RunCommand<Test>};
}

}  // namespace tarvex::cli
