// tarvex read: the emulator's memory into FILE, which is replaced only when complete.
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"

namespace tarvex::cli {
namespace {

void Declare(CommandLineParts& p) {
    CLI::App& read = p.LeaveOption(p.ImageCommand(
        "read", "save the emulator's memory in FILE",
        "read never leaves a half-written FILE behind: a regular FILE is replaced\n"
        "only once complete, keeping its permissions (never setuid/setgid) and owner;\n"
        "links are followed, a write-protected FILE is refused, devices and\n"
        "/dev/stdout are written in place.\n" +
            std::string(kLeaveNote)));
    read.add_flag("--sparse", p.invocation.sparse,
                  "HEX and S-record FILE: records only for the bytes\nthat are not FF "
                  "(default: every byte)");
}

void Check(CommandLineParts& p) {
    p.TakeLeave("read");
    p.CheckImageCommand("read");
}

class Read final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
};

int Read::Work() {
    if (!WriterAccepts()) {
        return SaveImage();  // fails with the writer's message; nothing is touched
    }
    if (const int status = Steps<Read>(
            {&Read::CheckTrace, &Read::PrepareOutput, &Read::OpenPort, &Read::FindEmulator});
        status != kExitSuccess) {
        return status;
    }
    SelectType();
    Transfer("reading", RunRead);
    if (Stopped()) {
        return Interrupt(File() + " is left as it was; the target is held in RESET");
    }
    if (const int status = StillAnswers("read"); status != kExitSuccess) {
        return status;  // the file is left as it was
    }
    LeaveReset();
    if (const int status = SaveImage(); status != kExitSuccess) {
        return status;
    }
    Say("read " + std::to_string(Size()) + " bytes from the " + TypeName() + " emulator at " +
        Where() + " into " + File() + " (" + Elapsed() + "); " + LeftState());
    return kExitSuccess;
}

}  // namespace

CommandSpec ReadCommand() {
    return {"read", Declare, Check, RunCommand<Read>};
}

}  // namespace tarvex::cli
