// tarvex reset: the target's RESET line held, released, toggled or pulsed.
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"

namespace tarvex::cli {
namespace {

void Declare(CommandLineParts& p) {
    CLI::App& reset = p.Command("reset", "drive the target's RESET line");
    reset
        .add_option("ACTION", p.resetAction,
                    "hold, release, toggle (the state found) or pulse\n(hold for MS, then release)")
        ->required()
        ->type_name("")
        ->transform(Choice("a RESET action", {"hold", "release", "toggle", "pulse"}));
    reset.add_option("MS", p.pulseMs, "pulse time in milliseconds (default 1000, at most 10000)")
        ->type_name("")
        ->transform(kMilliseconds);
    reset
        .add_option("--from", p.from,
                    "toggle only: the state to toggle from, hold or\nrelease (needed with "
                    "ppdev, which cannot read it)")
        ->type_name("S")
        ->transform(kResetState);
}

void Check(CommandLineParts& p) {
    const std::string command = "reset";
    p.invocation.resetAction = static_cast<ResetAction>(p.resetAction);
    if (p.app.get_subcommand(command)->count("--from") > 0) {
        if (p.invocation.resetAction != ResetAction::Toggle) {
            const char* const actions[] = {"hold", "release", "toggle", "pulse"};
            throw UsageError(
                std::string("option --from does not apply to reset ") + actions[p.resetAction],
                command);
        }
        p.invocation.from = static_cast<ResetState>(p.from);
    }
    if (p.pulseMs) {
        if (p.invocation.resetAction != ResetAction::Pulse) {
            const char* const actions[] = {"hold", "release", "toggle", "pulse"};
            throw UsageError(std::string("reset ") + actions[p.resetAction] + " does not take '" +
                                 std::to_string(*p.pulseMs) + "'",
                             command);
        }
        p.invocation.resetMs = *p.pulseMs;
    }
}

class Reset final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
};

int Reset::Work() {
    port_ = makePort_(invocation_.io ? invocation_.io->c_str() : nullptr);
    if (invocation_.resetAction == ResetAction::Toggle && !invocation_.from &&
        !port_->KeepsControlState()) {
        return Fail(kExitUsage, "reset toggle: with port access " + port_->Backend()->Name() +
                                    " the RESET state from before cannot be read (taking the "
                                    "port holds the target in RESET); give --from hold or "
                                    "--from release");
    }
    if (const int status = Steps<Reset>({&Reset::OpenPort, &Reset::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    bool hold = false;
    bool release = false;
    switch (invocation_.resetAction) {
        case ResetAction::Hold:
            hold = true;
            break;
        case ResetAction::Release:
            release = true;
            break;
        case ResetAction::Toggle:
            // Finding the emulator held RESET already; toggle what the target had before.
            if (invocation_.from) {
                (*invocation_.from == ResetState::Release ? hold : release) = true;
            } else {
                (WasRunningBefore() ? hold : release) = true;
            }
            break;
        case ResetAction::Pulse:
            hold = release = true;
            break;
    }
    if (hold) {
        HoldReset();
        if (!ResetFeedbackIs(true)) {
            return Fail(kExitNoEmulator, "the emulator at " + Where() +
                                             " does not confirm the target held in RESET "
                                             "(no RESET feedback on status bit 7)");
        }
        if (release) {
            host_.Note("holding RESET for " + std::to_string(invocation_.resetMs) + " ms");
            if (!WaitUnlessStopped(invocation_.resetMs)) {
                return Interrupt("the target is held in RESET");
            }
        }
    }
    if (release) {
        link_->ReleaseEmulator();
        if (!ResetFeedbackIs(false)) {
            return Fail(kExitNoEmulator, "the emulator at " + Where() +
                                             " still reports the target held in RESET after "
                                             "releasing it");
        }
    }
    Say(std::string(release ? (hold ? "target reset and released" : "target released")
                            : "target held in RESET") +
        " by the emulator at " + Where());
    return kExitSuccess;
}

}  // namespace

CommandSpec ResetCommand() {
    return {"reset", Declare, Check, RunCommand<Reset>};
}

}  // namespace tarvex::cli
