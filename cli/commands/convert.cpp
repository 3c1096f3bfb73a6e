// tarvex convert: between image file formats, loaded and saved as the window does, no port.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/Files.h"
#include "cli/ImageLoad.h"
#include "cli/Signals.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"
#include "host/Host.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/ImageModel.h"
#include "image/RangeEdit.h"
#include "image/SafeOutputFile.h"
#include "image/TextFormat.h"
#include "link/Emulator.h"

namespace tarvex::cli {
namespace {

constexpr int kSuccess = 0;
constexpr int kUsage = 2;
constexpr int kFailed = 4;

// Shows every message box as "Caption: text" on stderr, the way a terminal can; quiet, only
// the errors and warnings.
class CaptionHost : public Host {
  public:
    CaptionHost(JsonEvents* events, bool quiet) : events_(events), quiet_(quiet) {}

    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        if (events_) {
            events_->Message(MessageCaption(kind), DisplayText(text));
        }
        if (!quiet_ || kind == MessageKind::Error || kind == MessageKind::Warning) {
            std::cerr << MessageCaption(kind) << ": " << DisplayText(text) << '\n';
        }
        return buttons == MessageButtons::YesNo ? MessageAnswer::No
               : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                : MessageAnswer::Cancel;
    }

  private:
    JsonEvents* events_;
    bool quiet_;
};

// One range value through the Options window's check; shows its message when refused.
bool ApplyField(ImageModel& model, Host& host, RangeField field,
                const std::optional<std::string>& text) {
    if (!text || ApplyRangeField(model, field, *text)) {
        return true;
    }
    host.ShowMessage(MessageKind::Error, RangeFieldMessage(field), MessageButtons::Cancel);
    return false;
}

void Declare(CommandLineParts& p) {
    CLI::App& convert = p.Command("convert", "convert between image file formats");
    convert.fallthrough(false);  // it opens no port: --io and --port mean nothing here
    ConvertInvocation& options = p.invocation.convert;
    convert.add_option("INPUT", options.input, "the file to read; - is standard input")
        ->required()
        ->type_name("")
        ->check(kNotEmpty);
    convert.add_option("OUTPUT", options.output, "the file to write; - is standard output")
        ->required()
        ->type_name("")
        ->check(kNotEmpty);
    convert.add_option("--type", options.type, std::string("EPROM type: ") + kTypes)
        ->required()
        ->type_name("T")
        ->transform(kEpromType);
    convert
        .add_option("--from", options.from,
                    "format of INPUT: bin, hex, xhex or srec; default:\nby INPUT's name as "
                    "FILE's in write, else by its\nfirst line")
        ->type_name("F")
        ->transform(kFormat);
    convert
        .add_option("--to", options.to,
                    "format of OUTPUT; default: by OUTPUT's name, else\nthat of INPUT")
        ->type_name("F")
        ->transform(kFormat);
    convert.add_flag("--crop", options.crop, kCrop);
    convert.add_flag("--sparse", options.sparse,
                     "HEX and S-record OUTPUT: records only for the\nbytes that are not the "
                     "fill value (default: every\nbyte)");
    convert.add_flag("-q,--quiet", p.invocation.quiet, "print errors and warnings only");
    convert.add_flag("--json", p.invocation.json, "print events as JSON lines on stdout");
    convert.add_option("--start", options.start, "first address (hexadecimal; default 0)")
        ->type_name("A");
    convert
        .add_option("--end", options.end,
                    "last address (hexadecimal; default: the type's last\naddress)")
        ->type_name("A");
    convert.add_option("--fill", options.fill, "byte of the image outside INPUT (default FF)")
        ->type_name("BYTE");
    convert
        .add_option("--hex-base", p.hexBaseText,
                    "HEX or S-record file address of the EPROM's first\nbyte (default 0)")
        ->type_name("A")
        ->check(kHexAddress);
    convert.footer(
        "A and BYTE are hexadecimal without prefix.\n"
        "Formats: --from and --to when given; else each file's name (as in write);\n"
        "else INPUT's first line (HEX or S-record text, else bin) and, for OUTPUT,\n"
        "INPUT's format. Text in an INPUT taken as bin by its name is refused unless\n"
        "--from bin is given. Between text formats the start address record (Intel\n"
        "HEX 03 or 05, S-record S7, S8 or S9) is kept; plain hex has none.");
}

void Check(CommandLineParts& p) {
    const std::string command = "convert";
    if (p.invocation.io || p.invocation.port) {
        throw UsageError("--io and --port do not apply to convert", command);
    }
    const ConvertInvocation& convert = p.invocation.convert;
    if (p.invocation.json && convert.output == "-") {
        throw UsageError(
            "convert: --json puts its events on standard output; OUTPUT "
            "cannot be - (standard output) too",
            command);
    }
    ConvertInvocation& options = p.invocation.convert;
    const std::optional<std::uint8_t> from =
        convert.from ? convert.from : FileTypeForName(convert.input);
    std::optional<std::uint8_t> to = convert.to;
    if (!to) {
        to = FileTypeForName(convert.output);
    }
    if (!to) {
        to = from;  // undecided too while INPUT's format is
    }
    // Undecided formats are settled by INPUT's first line; the rest is known now.
    const bool maybeText = !from || *from != 0 || !to || *to != 0;
    options.hexBaseGiven = p.app.get_subcommand(command)->count("--hex-base") > 0;
    options.hexBase = p.HexBase(command, maybeText, FindEpromType(convert.type)->epromEnd);
    if (options.crop && from && *from == 0) {
        throw UsageError(
            "convert: --crop applies to HEX and S-record INPUT (--from hex, "
            "xhex or srec)",
            command);
    }
    if (options.sparse && to && *to == 0) {
        throw UsageError(
            "convert: --sparse applies to HEX and S-record OUTPUT (--to hex, "
            "xhex or srec)",
            command);
    }
}

int Convert(const ConvertInvocation& arguments, JsonEvents* events, std::uint64_t* bytes,
            bool quiet) {
    const EpromTypeInfo* type = FindEpromType(arguments.type);

    CaptionHost host(events, quiet);
    const auto say = [events](const std::string& text) {
        std::cerr << "tarvex: " << text << '\n';
        if (events) {
            events->Error(text);
        }
    };
    // Commentary, like progress: what a first line made of INPUT, what --crop left out.
    const auto note = [events, quiet](const std::string& text) {
        if (!quiet) {
            std::cerr << "tarvex: " << text << '\n';
        }
        if (events) {
            events->Message(MessageCaption(MessageKind::Information), text);
        }
    };
    // The model is 128 KiB: keep it off the stack.
    const auto model = std::make_unique<ImageModel>();
    // The fill value takes effect at the type selection, as in the window.
    if (!ApplyField(*model, host, RangeField::FillValue, arguments.fill)) {
        return kUsage;
    }
    model->SelectType(type->number, type->epromEnd);
    model->HexBase = arguments.hexBase;
    // Start first: with the whole type selected, any valid pair passes in this order.
    if (!ApplyField(*model, host, RangeField::BufferStart, arguments.start) ||
        !ApplyField(*model, host, RangeField::BufferEnd, arguments.end)) {
        return kUsage;
    }
    if (bytes) {
        *bytes = model->BufferEnd - model->BufferStart + 1;
    }

    const std::string& input = arguments.input;
    const std::string& output = arguments.output;
    const std::string name = PrintableName(input);
    // The window would say "Input file not found!" for any file it cannot open; a command
    // line says what is wrong with it.
    if (const std::string cause = InputFileProblem(input); !cause.empty()) {
        say("cannot open " + name + ": " + cause);
        return kFailed;
    }
    // The first line settles an undecided format and catches text about to be taken as bytes;
    // the loader then reads on from there, so a pipe is read once.
    CommandFiles files;
    const std::optional<std::string> head = files.Peek(input, kTextFormatProbe);
    if (!head) {
        const std::string cause = InputFileProblem(input);
        say("cannot read " + name + ": " + (cause.empty() ? "read error" : cause));
        return kFailed;
    }
    const auto text =
        TextFormatOf(reinterpret_cast<const std::uint8_t*>(head->data()), head->size());
    const std::optional<std::uint8_t> byName = FileTypeForName(input);
    std::uint8_t from = 0;
    if (arguments.from) {
        from = *arguments.from;
    } else if (byName) {
        from = *byName;
        if (from == 0 && text) {
            say(TextAsBinaryComplaint(name, *text, "--from"));
            return kUsage;
        }
    } else {
        from = text.value_or(0);
        note(name + ": " + PickedFormatNote(text));
    }
    const std::uint8_t to = arguments.to ? *arguments.to : FileTypeForName(output).value_or(from);
    if (from == 0 && to == 0 && arguments.hexBaseGiven) {
        say("--hex-base applies to HEX and S-record files, and both " + name + " and " +
            PrintableName(output) + " are binary images");
        return kUsage;
    }
    if (from == 0 && arguments.crop) {
        say("--crop applies to HEX and S-record INPUT, and " + name + " is a binary image");
        return kUsage;
    }
    if (to == 0 && arguments.sparse) {
        say("--sparse applies to HEX and S-record OUTPUT, and " + PrintableName(output) +
            " is a binary image");
        return kUsage;
    }

    model->FileType = from;
    FileLoader loader(*model, host, files);
    loader.SetOptions({arguments.crop, true});
    loader.LoadFileToBuffer(input);
    if (model->ReadError) {
        if (const std::string hint =
                LoadFailureHint(loader.Report(), *model, type->number, "--from");
            !hint.empty()) {
            say(name + ": " + hint);
        }
        return kFailed;
    }
    if (const std::string left = LeftOutNote(loader.Report(), *model); !left.empty()) {
        note(name + ": " + left);
    }
    model->FileType = to;
    // The output is prepared as late as this, so that a failed load leaves no trace of it;
    // a file the writer refuses by name or range is left to the writer's own message.
    SafeOutputFile file;
    const bool accepted =
        to == 0 || (FileLoader::IsValidFileName(output) &&
                    !(to == 1 && std::uint64_t{model->HexBase} + model->BufferEnd > 0xFFFF));
    if (accepted && !file.Open(OutputName(output))) {
        say(file.Error());
        return kFailed;
    }
    CommandFiles outputs(&file, output);
    FileWriter writer(*model, host, outputs);
    writer.SetSparse(arguments.sparse);
    // The entry point goes from text to text; a binary image has none to give or take.
    const std::optional<StartAddress>& start = loader.Report().start;
    if (from != 0 && start) {
        if (to == 2 || to == 3) {
            writer.SetStartAddress(start);
        } else if (to == 1) {
            char address[16];
            std::snprintf(address, sizeof address, "%04X", static_cast<unsigned>(start->Linear()));
            note(name + ": the start address " + address +
                 " is not kept: plain Intel HEX has no record for it (--to xhex keeps it)");
        }
    }
    writer.SaveBufferToFile(output);
    if (writer.SaveFailed() && !file.Error().empty()) {
        say(file.Error());
    }
    return writer.SaveFailed() ? kFailed : kSuccess;
}

int Run(const Invocation& invocation, TerminalHost& host, const PortFactory& /*makePort*/,
        std::uint64_t& bytes) {
    const int status = Convert(invocation.convert, host.Events(), &bytes, invocation.quiet);
    return Stopped() ? kExitSignal + StopSignal() : status;
}

}  // namespace

CommandSpec ConvertCommand() {
    return {"convert", Declare, Check, Run};
}

}  // namespace tarvex::cli
