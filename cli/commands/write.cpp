// tarvex write: FILE into the emulator, verified, the target reset; --watch goes on as the edit
// loop.
#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "cli/Toolkit.h"
#include "cli/Watch.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"
#include "link/Differential.h"

namespace tarvex::cli {
namespace {

void Declare(CommandLineParts& p) {
    CLI::App& write = p.ImageCommand(
        "write",
        "load FILE into the range, write it into the\nemulator, verify it, hold the target in "
        "RESET, then\nrelease it",
        "write releases the target after the RESET time, except when verify fails.");
    write.add_flag("--no-verify", p.noVerify, "write without verifying");
    write.add_flag("--allow-empty", p.invocation.allowEmpty, kAllowEmpty);
    write.add_flag("--crop", p.invocation.crop, kCrop);
    write
        .add_option("--reset-ms", p.invocation.resetMs,
                    "RESET time after the write, in milliseconds (default\n1000, at most 10000)")
        ->type_name("N")
        ->transform(kMilliseconds);
    CLI::Option* watch = write.add_flag(
        "--watch", p.invocation.watch,
        "after the write, watch FILE and write what changed\neach time it changes (Ctrl-C "
        "ends); not with\n--changed-only");
    CLI::Option* changedOnly =
        write
            .add_option("--changed-only", p.invocation.previousFile,
                        "write only the bytes where FILE differs from\nPREVIOUS, which the "
                        "emulator holds already;\nnot with --watch")
            ->type_name("PREVIOUS")
            ->check(kNotEmpty)
            ->excludes(watch);
    write
        .add_option("--previous-format", p.invocation.previousFileType,
                    "PREVIOUS's format (bin, hex, xhex or srec);\ndefault: by PREVIOUS's "
                    "name, else its first\nline, as for FILE")
        ->type_name("F")
        ->transform(kFormat);
    write
        .add_option("--verify", p.verifyWhat,
                    "with --watch or --changed-only: verify all of the\nrange (the default) "
                    "or only the bytes written")
        ->type_name("all|changed")
        ->transform(Choice("a verify mode", {"all", "changed"}));
    static_cast<void>(changedOnly);
}

void Check(CommandLineParts& p) {
    const std::string command = "write";
    CLI::App& options = *p.app.get_subcommand(command);
    p.invocation.verify = !p.noVerify;
    p.CheckImageCommand(command);
    if (p.invocation.watch && p.invocation.file == "-") {
        throw UsageError(p.Where() + "--watch needs a FILE to watch, not standard input", command);
    }
    if (p.invocation.previousFile) {
        if (*p.invocation.previousFile == "-" && p.invocation.file == "-") {
            throw UsageError(p.Where() +
                                 "FILE and --changed-only PREVIOUS cannot both be - "
                                 "(standard input)",
                             command);
        }
        if (options.count("--previous-format") > 0) {
            p.invocation.previousFormatFrom = FormatFrom::Option;
        } else if (const auto byName = FileTypeForName(*p.invocation.previousFile)) {
            p.invocation.previousFileType = *byName;
        } else {
            p.invocation.previousFormatFrom = FormatFrom::Content;
        }
    } else if (options.count("--previous-format") > 0) {
        throw UsageError(p.Where() + "--previous-format applies with --changed-only", command);
    }
    if (options.count("--verify") > 0 && !p.invocation.watch && !p.invocation.previousFile) {
        throw UsageError(p.Where() + "--verify applies with --watch or --changed-only", command);
    }
    p.invocation.verifyChangedOnly = p.verifyWhat == 1;
}

class Write final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    struct Cycle {
        std::uint64_t changed = 0;  // bytes written
        std::size_t runs = 0;
        bool rewritten = false;  // the whole range, after a failed verify
    };

    int Work() override;
    int LoadPrevious();
    int WriteImage(const ImageModel* before, Cycle& cycle);
    int HoldAndRelease();
    int Watch();

    std::unique_ptr<ImageModel> previous_;  // --changed-only: what the emulator holds already
    std::unique_ptr<ImageModel> written_;   // --watch: what the last cycle left in the emulator
    std::unique_ptr<FileWatch> watch_;      // --watch, from before the first load
};

int Write::Work() {
    if (invocation_.watch) {
        // Only a file can change under the watch; a device or a FIFO would be waited on for
        // ever. Links are followed.
        struct stat info {};
        if (stat(invocation_.file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return Fail(kExitUsage, "write --watch: " + File() +
                                        " is not a regular file; --watch follows a file that is "
                                        "written or replaced");
        }
        // Watched from before the first load: an edit made during the first write is seen.
        watch_ = std::make_unique<FileWatch>(invocation_.file);
    }
    if (const int status =
            Steps<Write>({&Write::CheckTrace, &Write::LoadImage, &Write::LoadPrevious,
                          &Write::OpenPort, &Write::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    Cycle cycle;
    if (const int status = WriteImage(previous_.get(), cycle); status != kExitSuccess) {
        return status;  // a bad image never runs: the target stays in RESET
    }
    if (const int status = HoldAndRelease(); status != kExitSuccess) {
        return status;
    }
    const std::string since =
        previous_ ? " since " + PrintableName(*invocation_.previousFile) : std::string();
    if (cycle.rewritten) {
        Say("wrote " + File() + " into the " + TypeName() + " emulator at " + Where() +
            ": rewrote the whole range (" + std::to_string(Size()) +
            " bytes) after a failed verify of the changes" + since +
            ", verified, target released (" + Elapsed() + ")");
    } else {
        Say("wrote " + std::to_string(cycle.changed) + " bytes of " + File() + " into the " +
            TypeName() + " emulator at " + Where() +
            (previous_ ? " (what changed" + since + ", " + Count(cycle.runs, "run") + ")" : "") +
            (invocation_.verify ? ", verified" : ", not verified") + ", target released (" +
            Elapsed() + ")");
    }
    return invocation_.watch ? Watch() : kExitSuccess;
}

int Write::LoadPrevious() {
    return invocation_.previousFile
               ? LoadFile(*invocation_.previousFile, invocation_.previousFileType,
                          invocation_.previousFormatFrom, "--previous-format", previous_)
               : kExitSuccess;
}

int Write::HoldAndRelease() {
    host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
    if (!WaitUnlessStopped(invocation_.resetMs)) {
        return Interrupt("the target is held in RESET");
    }
    link_->ReleaseEmulator();
    return kExitSuccess;
}

// Puts model_'s range into the emulator: all of it, or only what differs from `before` (what
// the emulator holds already). Verifies all of the range, or only what was written; when a
// verify after a partial write fails (the emulator may have lost power and its RAM), writes
// and verifies the whole range once more. The target is left in RESET.
int Write::WriteImage(const ImageModel* before, Cycle& cycle) {
    const std::uint32_t start = invocation_.start;
    std::vector<ByteRun> runs;
    if (before) {
        runs = ChangedRuns(before->DataBuffer.data(), model_->DataBuffer.data(), start,
                           invocation_.end);
        for (const ByteRun& run : runs) {
            cycle.changed += run.last - run.first + 1;
        }
        cycle.runs = runs.size();
        HoldReset();  // also when nothing changed: every cycle resets the target
        host_.BeginPhase("writing changes", cycle.changed);
        WriteRuns(*link_, runs, start, 0);
        host_.EndPhase(!Stopped());
    } else {
        cycle.changed = Size();
        cycle.runs = 1;
        Transfer("writing", RunWrite);
    }
    if (Stopped()) {
        return Interrupt("the emulator holds part of the image; the target is held in RESET");
    }
    if (const int status = StillAnswers("write"); status != kExitSuccess) {
        return status;
    }
    if (!invocation_.verify) {
        return kExitSuccess;
    }
    bool passed = false;
    if (before && invocation_.verifyChangedOnly) {
        host_.BeginPhase("verifying changes", cycle.changed);
        passed = VerifyRuns(*link_, runs, start, 0);
        host_.EndPhase(passed && !Stopped());
    } else {
        passed = Transfer("verifying", RunVerify);
    }
    if (!passed && before && !Stopped()) {
        host_.Note(
            "verify failed after writing the changes: writing and verifying the whole "
            "range once more (did the emulator lose power?)");
        cycle.rewritten = true;
        Transfer("writing", RunWrite);
        passed = !Stopped() && Transfer("verifying", RunVerify);
    }
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    return passed ? StillAnswers("verify") : ReportMismatch();
}

// The edit loop: each time FILE changes, load it afresh and put what changed into the
// emulator. A file that does not load leaves the emulator and the target alone.
int Write::Watch() {
    written_ = std::make_unique<ImageModel>(*model_);
    Say("watching " + File() + " for changes (Ctrl-C ends)");
    bool lastGood = true;
    FileWatch& watch = *watch_;
    // Ctrl-C is the loop's normal end; SIGTERM and SIGHUP end it as signals do.
    const auto stopped = [&]() -> int {
        if (StopSignal() == SIGINT) {
            return lastGood ? kExitSuccess : kExitMismatch;
        }
        return Interrupt(lastGood ? "the emulator holds the last image written"
                                  : "the last cycle failed; the target is held in RESET");
    };
    for (;;) {
        if (!watch.WaitForChange(&Stopped)) {
            return stopped();
        }
        const auto began = std::chrono::steady_clock::now();
        const int loaded = LoadImage();
        if (Stopped()) {
            return stopped();
        }
        if (watch.ChangedSinceLastLook()) {
            // Half of an old and half of a new file: wait for it to settle and load it again.
            Say(File() + " changed while it was loaded; waiting for it to settle");
            continue;
        }
        std::string outcome;
        Cycle cycle;
        int status = loaded;
        const bool contentsKnown = written_ != nullptr;
        const char* written = "nothing";
        int verified = -1;
        if (loaded != kExitSuccess) {
            outcome = "does not load; the emulator keeps the last image written";
        } else {
            std::copy_n(image_->DataBuffer.begin(), model_->EpromEnd + 1,
                        model_->DataBuffer.begin());
            status = WriteImage(written_.get(), cycle);
            if (status >= kExitSignal) {
                return status;
            }
            written = cycle.rewritten || !contentsKnown ? "whole range" : "changes";
            verified = invocation_.verify && status != kExitNoEmulator
                           ? (status == kExitSuccess ? 1 : 0)
                           : -1;
            if (status == kExitSuccess) {
                status = HoldAndRelease();
                if (status != kExitSuccess) {
                    return status;
                }
            }
            // What the emulator holds now: the new image, or what a failed verify read back.
            // After a dead link nothing is known, so the next cycle writes everything.
            written_ = status == kExitNoEmulator ? nullptr : std::make_unique<ImageModel>(*model_);
            outcome = status == kExitSuccess
                          ? (invocation_.verify ? "written and verified" : "written") +
                                std::string(cycle.rewritten ? " (the whole range, after a failed "
                                                              "verify)"
                                                            : "") +
                                ", target released"
                          : "failed; the target is held in RESET";
        }
        lastGood = status == kExitSuccess;
        char clock[16];
        const std::time_t now = std::time(nullptr);
        std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
        char took[32];
        std::snprintf(
            took, sizeof took, "%.2f s",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        std::string what;
        if (loaded == kExitSuccess) {
            what = contentsKnown
                       ? Count(cycle.changed, "byte") + " changed in " + Count(cycle.runs, "run")
                       : "whole range written (the emulator's contents were unknown)";
            what += std::string(", ") + took + ", ";
        }
        Say(std::string(clock) + " " + File() + ": " + what + outcome);
        if (JsonEvents* events = host_.Events()) {
            events->Cycle(File(), cycle.changed, cycle.runs, written, verified, status);
        }
    }
}

}  // namespace

CommandSpec WriteCommand() {
    return {"write", Declare, Check, RunCommand<Write>};
}

}  // namespace tarvex::cli
