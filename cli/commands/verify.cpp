// tarvex verify: the emulator against FILE, with the first differing addresses.
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"

namespace tarvex::cli {
namespace {

void Declare(CommandLineParts& p) {
    CLI::App& verify = p.LeaveOption(
        p.ImageCommand("verify",
                       "compare the emulator's memory with FILE and list\nthe first differing "
                       "addresses",
                       kLeaveNote));
    verify.add_flag("--allow-empty", p.invocation.allowEmpty, kAllowEmpty);
    verify.add_flag("--crop", p.invocation.crop, kCrop);
}

void Check(CommandLineParts& p) {
    p.TakeLeave("verify");
    p.CheckImageCommand("verify");
}

class Verify final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
};

int Verify::Work() {
    if (const int status = Steps<Verify>(
            {&Verify::CheckTrace, &Verify::LoadImage, &Verify::OpenPort, &Verify::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    const bool passed = Transfer("verifying", RunVerify);
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    int status = passed ? StillAnswers("verify") : ReportMismatch();
    if (Stopped()) {
        return Interrupt("not verified; the target is held in RESET");
    }
    if (status == kExitNoEmulator) {
        return status;
    }
    LeaveReset();
    if (status == kExitSuccess) {
        Say("the " + TypeName() + " emulator at " + Where() + " holds the " +
            std::to_string(Size()) + " bytes of " + File() + " (" + Elapsed() + "); " +
            LeftState());
    }
    return status;
}

}  // namespace

CommandSpec VerifyCommand() {
    return {"verify", Declare, Check, RunCommand<Verify>};
}

}  // namespace tarvex::cli
