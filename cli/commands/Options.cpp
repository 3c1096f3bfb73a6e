#include "cli/commands/Options.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "batch/CommandNumber.h"
#include "image/HexText.h"
#include "link/Emulator.h"

namespace tarvex::cli {

std::optional<std::uint8_t> FileTypeForName(const std::string& file) {
    if (EndsWith(file, ".hex") || EndsWith(file, ".ihx") || EndsWith(file, ".ihex")) {
        return 2;
    }
    for (const char* suffix : {".s19", ".s28", ".s37", ".srec", ".mot"}) {
        if (EndsWith(file, suffix)) {
            return 3;
        }
    }
    for (const char* suffix : {".bin", ".rom", ".img", ".raw"}) {
        if (EndsWith(file, suffix)) {
            return 0;
        }
    }
    return std::nullopt;
}

const char* FormatWord(std::uint8_t fileType) {
    constexpr const char* kWords[] = {"bin", "hex", "xhex", "srec"};
    return fileType < 4 ? kWords[fileType] : "?";
}

CLI::App& CommandLineParts::Command(const char* name, const char* description) {
    CLI::App& command = *app.add_subcommand(name, description)->group("Commands");
    command.set_help_flag("-h,--help", "show this text");
    return command;
}

CLI::App& CommandLineParts::LeaveOption(CLI::App& command) {
    command.add_option("--leave", leave, kLeave)->type_name("S")->transform(kResetState);
    return command;
}

// read, write and verify: a FILE, its format and a range within an EPROM type.
CLI::App& CommandLineParts::ImageCommand(const char* name, const char* description,
                                         const std::string& note) {
    CLI::App& command = Command(name, description);
    command.add_option("FILE", invocation.file, "the image file; - is standard input or output")
        ->required()
        ->type_name("")
        ->check(kNotEmpty);
    command.add_option("--type", invocation.type, std::string("EPROM type: ") + kTypes)
        ->required()
        ->type_name("T")
        ->transform(kEpromType);
    const bool loads = std::string_view(name) != "read";
    command
        .add_option("--format", invocation.fileType,
                    std::string("FILE's format: bin (binary image), hex (Intel HEX,\n"
                                "addresses up to FFFF), xhex (Intel HEX extended) or\n"
                                "srec (Motorola S-records); default: ") +
                        kFormatByName +
                        (loads ? ";\nfor - and other names the first line decides (HEX\n"
                                 "or S-record text, else bin); text in a FILE taken\n"
                                 "as bin by its name is refused unless --format bin\n"
                                 "is given"
                               : ", else\nbin"))
        ->type_name("F")
        ->transform(kFormat);
    command
        .add_option("--start", startText,
                    "first address of the range (hexadecimal, within\nthe type; default 0)")
        ->type_name("A")
        ->check(kHexAddress);
    command
        .add_option("--end", endText,
                    "last address of the range (hexadecimal, within the type;\ndefault: the "
                    "type's last address)")
        ->type_name("A")
        ->check(kHexAddress);
    command
        .add_option(
            "--hex-base", hexBaseText,
            "HEX or S-record file address of the EPROM's first\nbyte (hexadecimal; default 0): "
            "--hex-base E000 puts\nrecords E000-FFFF at 0000-1FFF")
        ->type_name("A")
        ->check(kHexAddress);
    command.footer(kRangeFooter + ("\n" + note) + kFormatRule);
    return command;
}

// --hex-base: only for HEX files, and the type's last byte must keep a 32-bit address.
std::uint32_t CommandLineParts::HexBase(const std::string& command, bool hexFiles,
                                        std::uint32_t epromEnd) {
    CLI::App& options = *app.get_subcommand(command);
    if (options.count("--hex-base") == 0) {
        return 0;
    }
    if (!hexFiles) {
        throw UsageError(
            Where() + "--hex-base applies to HEX and S-record files (--format hex, xhex or srec)",
            command);
    }
    const std::uint32_t base = ParseHexAddress(hexBaseText).value_or(0);
    if (std::uint64_t{base} + epromEnd > 0xFFFFFFFF) {
        throw UsageError(Where() + "--hex-base '" + hexBaseText +
                             "' puts the type's last byte beyond address FFFFFFFF",
                         command);
    }
    return base;
}

std::string CommandLineParts::CommandName() const {
    const auto parsed = app.get_subcommands();
    return parsed.empty() ? std::string() : parsed.front()->get_name();
}

std::string CommandLineParts::Where() const {
    const std::string name = CommandName();
    return name.empty() ? "" : name + ": ";
}

void CommandLineParts::TakeLeave(const std::string& command) {
    if (app.get_subcommand(command)->count("--leave") > 0) {
        invocation.leave = static_cast<ResetState>(leave);
    }
}

void CommandLineParts::CheckImageCommand(const std::string& command) {
    if (invocation.json && command == "read" && invocation.file == "-") {
        throw UsageError(Where() +
                             "--json puts its events on standard output; FILE cannot "
                             "be - (standard output) too",
                         command);
    }
    CLI::App& options = *app.get_subcommand(command);
    if (options.count("--format") > 0) {
        invocation.formatFrom = FormatFrom::Option;
    } else if (const auto byName = FileTypeForName(invocation.file)) {
        invocation.fileType = *byName;
    } else {
        // A file read back has no first line to go by.
        invocation.fileType = 0;
        invocation.formatFrom = command == "read" ? FormatFrom::Name : FormatFrom::Content;
    }
    const EpromTypeInfo* type = FindEpromType(invocation.type);
    invocation.end = type->epromEnd;
    const std::string typeName = std::to_string(type->number);
    auto address = [&](const char* option, const std::string& text, std::uint32_t& value) {
        if (options.count(option) == 0) {
            return;
        }
        value = ParseHexAddress(text).value_or(0);
        if (value > type->epromEnd) {
            throw UsageError(Where() + option + " '" + text + "' is beyond the last address " +
                                 HexAddress(type->epromEnd) + " of the " + typeName,
                             command);
        }
    };
    address("--start", startText, invocation.start);
    address("--end", endText, invocation.end);
    if (invocation.start > invocation.end) {
        throw UsageError(Where() + "--start " + HexAddress(invocation.start) + " is after --end " +
                             HexAddress(invocation.end),
                         command);
    }
    const bool maybeText = invocation.fileType != 0 || invocation.formatFrom == FormatFrom::Content;
    invocation.hexBaseGiven = options.count("--hex-base") > 0;
    invocation.hexBase = HexBase(command, maybeText, type->epromEnd);
    if (invocation.crop && !maybeText) {
        throw UsageError(Where() +
                             "--crop applies to HEX and S-record files (--format hex, xhex "
                             "or srec)",
                         command);
    }
    if (invocation.sparse && invocation.fileType == 0) {
        throw UsageError(Where() +
                             "--sparse applies to HEX and S-record files (--format hex, "
                             "xhex or srec)",
                         command);
    }
    if (command == "read" && invocation.fileType == 2 &&
        std::uint64_t{invocation.hexBase} + invocation.end > 0xFFFFF) {
        throw UsageError(Where() + "--hex-base " + hexBaseText +
                             ": addresses above FFFFF do not fit Intel HEX extended "
                             "segment records",
                         command);
    }
}

}  // namespace tarvex::cli
