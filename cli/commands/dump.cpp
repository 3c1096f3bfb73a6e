// tarvex dump: the image page by page, as the window's Options view shows it.
#include <cerrno>
#include <charconv>
#include <cstring>

#include "cli/Dump.h"
#include "cli/Toolkit.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"
#include "image/BufferPage.h"
#include "image/HexText.h"

namespace tarvex::cli {
namespace {

// dump prints a FILE or the emulator's memory, never both.
void CheckSource(CommandLineParts& p) {
    CLI::App& options = *p.app.get_subcommand("dump");
    if (!p.invocation.emulator) {
        if (options.count("FILE") == 0) {
            throw UsageError("dump: FILE or --emulator is required", "dump");
        }
        if (options.count("--leave") > 0) {
            throw UsageError("option --leave applies to dump --emulator only", "dump");
        }
        return;
    }
    if (options.count("FILE") > 0) {
        throw UsageError("dump --emulator takes no FILE, but got '" + p.invocation.file + "'",
                         "dump");
    }
    for (const char* option :
         {"--format", "--start", "--end", "--allow-empty", "--hex-base", "--crop"}) {
        if (options.count(option) > 0) {
            throw UsageError(std::string("option ") + option + " does not apply to dump --emulator",
                             "dump");
        }
    }
}

// Pages are counted in decimal, as the window's scroll bar counts them.
std::uint32_t ParsePage(CommandLineParts& p, const std::string& text, const EpromTypeInfo& type) {
    const std::uint32_t last = LastPage(type.epromEnd);
    std::uint32_t page = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, page);
    if (text.empty() || error == std::errc::invalid_argument || stop != end) {
        throw UsageError(p.Where() + "--page '" + text + "' is not a page number (decimal, 0 to " +
                             std::to_string(last) + ")",
                         "dump");
    }
    if (error == std::errc::result_out_of_range || page > last) {
        throw UsageError(p.Where() + "--page '" + text + "' is beyond the last page " +
                             std::to_string(last) + " of the " + std::to_string(type.number),
                         "dump");
    }
    return page;
}

void Declare(CommandLineParts& p) {
    CLI::App& dump = p.LeaveOption(p.ImageCommand(
        "dump",
        "print the image page by page in hexadecimal, as\nthe window's Options view shows "
        "it; FILE is\nloaded as write loads it",
        "A page is 256 bytes: 16 lines of the address, the bytes in hex and the\n"
        "bytes as characters (ASCII digits and letters; anything else is '.').\n"
        "--emulator reads the emulator's whole memory first; --leave applies to it.\n" +
            std::string(kLeaveNote)));
    dump.get_option("FILE")->required(false);
    dump.add_flag("--emulator", p.invocation.emulator,
                  "print the emulator's memory instead of a FILE\n(no FILE, --format, "
                  "--start or --end then)");
    dump.add_option("--page", p.pageText,
                    "print only this page (decimal, 0 to the type's\nlast: 31 for a 2764, "
                    "511 for a 27010)")
        ->type_name("N");
    dump.add_flag("--allow-empty", p.invocation.allowEmpty, kAllowEmpty);
    dump.add_flag("--crop", p.invocation.crop, kCrop);
}

void Check(CommandLineParts& p) {
    p.TakeLeave("dump");
    CheckSource(p);
    p.CheckImageCommand("dump");
    if (p.pageText) {
        p.invocation.page = ParsePage(p, *p.pageText, *FindEpromType(p.invocation.type));
    }
}

class Dump final : public Toolkit {
  public:
    using Toolkit::Toolkit;

  private:
    int Work() override;
};

int Dump::Work() {
    const ImageModel* image = nullptr;
    if (invocation_.emulator) {
        if (const int status =
                Steps<Dump>({&Dump::CheckTrace, &Dump::OpenPort, &Dump::FindEmulator});
            status != kExitSuccess) {
            return status;
        }
        SelectType();
        Transfer("reading", RunRead);
        if (Stopped()) {
            return Interrupt("nothing was printed; the target is held in RESET");
        }
        if (const int status = StillAnswers("read"); status != kExitSuccess) {
            return status;
        }
        LeaveReset();
        host_.Note("read the " + TypeName() + " emulator at " + Where() + "; " + LeftState());
        image = model_.get();
    } else {
        if (const int status = Steps<Dump>({&Dump::LoadImage}); status != kExitSuccess) {
            return status;
        }
        image = image_.get();
    }
    int error = 0;
    if (JsonEvents* events = host_.Events()) {
        // The events own stdout: each page goes out as one, with the text it would print.
        const std::uint32_t last = LastPage(image->EpromEnd);
        for (std::uint32_t page = invocation_.page.value_or(0);
             page <= invocation_.page.value_or(last) && !events->Failed(); ++page) {
            events->Page(page, BufferPageText(image->DataBuffer, page) + '\n');
        }
        return kExitSuccess;
    }
    if (!PrintPages(stdout, image->DataBuffer, LastPage(image->EpromEnd), invocation_.page,
                    error)) {
        // A reader that has seen enough (head, a pager left early) is no failure to report;
        // the status is the one a process ended by SIGPIPE has.
        if (error == EPIPE) {
            return kExitSignal + kBrokenPipeSignal;
        }
        return Fail(kExitFileError, std::string("cannot write the dump: ") + std::strerror(error));
    }
    return kExitSuccess;
}

}  // namespace

CommandSpec DumpCommand() {
    return {"dump", Declare, Check, RunCommand<Dump>};
}

}  // namespace tarvex::cli
