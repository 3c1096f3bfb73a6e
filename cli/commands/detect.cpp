// tarvex detect: where the emulator answers, or what each address shows.
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"

namespace tarvex::cli {
namespace {

void Declare(CommandLineParts& p) {
    p.LeaveOption(p.Command("detect",
                            "say at which address the emulator answered; when\nnone did, say for "
                            "each address tried what was found\nthere"))
        .footer(kLeaveNote);
}

void Check(CommandLineParts& p) {
    p.TakeLeave("detect");
}

class Detect final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
};

int Detect::Work() {
    if (const int status = Steps<Detect>({&Detect::OpenPort, &Detect::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    LeaveReset();
    Say("emulator at " + Where() + " (port access: " + port_->Backend()->Name() + "); " +
        LeftState());
    return kExitSuccess;
}

}  // namespace

CommandSpec DetectCommand() {
    return {"detect", Declare, Check, RunCommand<Detect>};
}

}  // namespace tarvex::cli
