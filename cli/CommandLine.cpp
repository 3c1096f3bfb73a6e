#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>

#include "batch/CommandNumber.h"
#include "cli/Test.h"
#include "diag/MemoryTest.h"
#include "image/BufferPage.h"
#include "image/HexText.h"
#include "link/Emulator.h"
#include "link/PortBackends.h"

namespace tarvex::cli {
namespace {

#ifdef __linux__
constexpr const char* kIoHelp =
    "port access method: ppdev (the default), direct, sim,\nsim:none, sim:0x278,... (overrides "
    "TARVEX_IO)";
#elif defined(_WIN32)
constexpr const char* kIoHelp =
    "port access method: driver (the ioport driver),\ninpout (inpoutx64.dll), sim, sim:none, "
    "sim:0x278,...;\ndefault: driver, else inpout (overrides TARVEX_IO)";
#else
constexpr const char* kIoHelp =
    "port access method: sim (the default), sim:none,\nsim:0x278,... (overrides TARVEX_IO)";
#endif

constexpr const char* kTypes = "2764, 27128, 27256, 27512 or 27010";

// A value check reads the word and says why it is refused; as a transformer it also leaves
// the number in decimal for CLI11 to store. The help shows the option's type name alone.
using Reader = std::function<std::string(const std::string& text, std::int64_t& value)>;

CLI::Validator Number(Reader read) {
    return CLI::Validator(
        [read = std::move(read)](std::string& text) {
            std::int64_t value = 0;
            std::string complaint = read(text, value);
            if (complaint.empty()) {
                text = std::to_string(value);
            }
            return complaint;
        },
        "");
}

// A word from a fixed list, stored as its index in the list.
CLI::Validator Choice(const std::string& what, std::initializer_list<const char*> words) {
    std::vector<std::string> names(words.begin(), words.end());
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return CLI::Validator(
        [names, list, what](std::string& text) -> std::string {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (text == names[i]) {
                    text = std::to_string(i);
                    return {};
                }
            }
            return "'" + text + "' is not " + what + " (use " + list + ")";
        },
        "");
}

const CLI::Validator kNotEmpty(
    [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "");

const CLI::Validator kPortAccessMethod(
    [](std::string& text) {
        return IsPortAccessMethod(text)
                   ? std::string()
                   : "'" + text + "' is not a port access method (use " + kIoValues + ")";
    },
    "");

bool EndsWith(const std::string& text, const char* end) {
    const std::size_t size = std::char_traits<char>::length(end);
    if (text.size() < size) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[text.size() - size + i];
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (c != end[i]) {
            return false;
        }
    }
    return true;
}

// ADDR, T, N and MS take the forms of the program's own command line: 888, $378, x378, 0x378.
const CLI::Validator kPortAddress = Number([](const std::string& text, std::int64_t& value) {
    std::uint16_t base = 0;
    if (!ParsePortAddress(text, base)) {
        return "'" + text +
               "' is not a port base address (write it as 0x378, $378, x378 or 888; the base + 2 "
               "must stay within 0xFFFF)";
    }
    value = base;
    return std::string();
});

const CLI::Validator kMilliseconds = Number([](const std::string& text, std::int64_t& value) {
    if (!ParseCommandNumber(text, value)) {
        return "'" + text + "' is not a number of milliseconds";
    }
    if (value < 0) {
        return "'" + text + "' is negative";
    }
    if (value > kMaxResetMs) {
        return "'" + text + "' is longer than 10 s (10000 ms)";
    }
    return std::string();
});

const CLI::Validator kEpromType = Number([](const std::string& text, std::int64_t& value) {
    if (!ParseCommandNumber(text, value) || value <= 0 || value > 0xFFFF ||
        !FindEpromType(static_cast<std::uint32_t>(value))) {
        return "'" + text + "' is not an EPROM type (use " + kTypes + ")";
    }
    return std::string();
});

const CLI::Validator kFormat = Choice("a file format", {"bin", "hex", "xhex", "srec"});
const CLI::Validator kResetState = Choice("a RESET state", {"hold", "release"});

constexpr const char* kLeave =
    "leave the target held in RESET (hold) or running\n(release); default: as found with "
    "direct and sim,\nrunning with ppdev";
constexpr const char* kLeaveNote =
    "With direct and sim the state found is kept unless --leave says otherwise. With\n"
    "ppdev taking the port holds the target in RESET (the kernel's claim), so there\n"
    "is no state to keep: the target is left running unless --leave hold is given.\n"
    "The summary line says which.";

// --start and --end are hexadecimal as everywhere the image's addresses are shown;
// a 0x or $ prefix is allowed but not needed.
std::optional<std::uint32_t> ParseHexAddress(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    } else if (text.starts_with('$')) {
        text.remove_prefix(1);
    }
    std::uint32_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

const CLI::Validator kHexAddress = Number([](const std::string& text, std::int64_t& value) {
    const auto address = ParseHexAddress(text);
    if (!address) {
        return "'" + text + "' is not a hexadecimal address (e.g. 1FFF or 0x1FFF)";
    }
    value = *address;
    return std::string();
});

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

constexpr const char* kHelpFooter = R"(A command's own options: tarvex COMMAND --help.
ADDR, T, N and MS are decimal, or hexadecimal after $, x or 0x, as in the
program's own command line.

Exit status:
  0      success
  1      the emulator does not hold the image (verify found a difference),
         a pass of the memory test was bad, or no pass completed
  2      usage error
  3      port access could not be opened, no emulator answered, another
         program holds the port, the emulator stopped answering during a
         transfer, or it did not confirm the RESET state asked for
  4      file error: not found, unreadable, empty or unwritable, a FILE that
         does not load or save, a trace or simulator state that could not
         be written, or --json events that could not be written
  128+N  stopped by signal N: 130 Ctrl-C, 143 SIGTERM, 129 SIGHUP; the target
         is left in RESET; 141 (SIGPIPE) when the reader of dump's output
         stops early, as in tarvex dump ... | head

Environment:
  TARVEX_IO         port access method when --io is not given
  TARVEX_SIM_STATE  file keeping the simulated emulator's memory between runs
  TARVEX_TRACE      file recording every port access

Examples:
  tarvex write rom.bin --type 27256             write, verify, reset the target
  tarvex --port 0x278 verify rom.hex --type 2764 --format hex
  tarvex read dump.bin --type 27010 --start 10000
  tarvex reset pulse 250
  tarvex convert rom.bin rom.hex --type 27512 --to xhex
  tarvex test memory --passes 10                hammer the emulator's RAM
  tarvex test signals --lines data,strobe       lines for an oscilloscope
)";

constexpr const char* kFormatByName =
    "xhex for a name\nending in .hex, .ihx or .ihex, srec for .s19, .s28,\n.s37, .srec or .mot, "
    "bin for .bin, .rom, .img or\n.raw";

constexpr const char* kFormatRule =
    "\nThe format: --format when given; else FILE's name; else (for - and other\n"
    "names) the first line: Intel HEX text loads as xhex, S-record text as srec,\n"
    "anything else as bin, and the choice is said like progress.";

constexpr const char* kAllowEmpty = "accept an empty FILE (the range is then all FF)";

constexpr const char* kRangeFooter =
    R"(The range holds end - start + 1 bytes; they go to the emulator from address 0.
A binary FILE holds them from its first byte and may be shorter (the rest of the
range is FF); bytes beyond the range are ignored. A HEX or S-record FILE puts
each record at its own address less the HEX base (0 is the type's first byte):
a record outside the range fails the load, and the bytes it does not supply
are FF.)";

constexpr const char* kCrop =
    "leave out the records, and the parts of records,\nthat lie outside the range instead of "
    "failing\n(say how many bytes and where)";

// A command's description is broken for the command list's narrow column; its own help
// gives it the whole width.
std::string Reflowed(const std::string& text) {
    constexpr std::size_t kWidth = 79;
    std::string out;
    std::size_t lineStart = 0;
    std::size_t start = text.find_first_not_of(" \n");
    while (start != std::string::npos) {
        const std::size_t end = std::min(text.find_first_of(" \n", start), text.size());
        if (out.size() > lineStart && out.size() - lineStart + 1 + (end - start) > kWidth) {
            out += '\n';
            lineStart = out.size();
        } else if (out.size() > lineStart) {
            out += ' ';
        }
        out.append(text, start, end - start);
        start = text.find_first_not_of(" \n", end);
    }
    return out;
}

// The top-level usage names the command instead of CLI11's generic SUBCOMMAND.
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App* app, std::string name) const override {
        if (app->get_parent() == nullptr) {
            return "Usage: tarvex [--io BACKEND] [--port ADDR] [--quiet] [--json] COMMAND "
                   "[ARGUMENTS]\n";
        }
        std::string usage = CLI::Formatter::make_usage(app, std::move(name));
        if (app->get_fallthrough()) {  // the program's options may follow the command
            usage.insert(usage.find(' ', 7), " [--io BACKEND] [--port ADDR] [--quiet] [--json]");
        }
        return usage;
    }
    // The descriptions say which options exclude each other, in words.
    std::string make_option_opts(const CLI::Option* option) const override {
        std::string opts = CLI::Formatter::make_option_opts(option);
        const std::size_t excludes = opts.find(" " + get_label("Excludes") + ":");
        return excludes == std::string::npos ? opts : opts.substr(0, excludes);
    }
    // Usage first, then what the command does, as most tools show it.
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) {
            return CLI::Formatter::make_help(app, std::move(name), mode);
        }
        return make_usage(app, name) + "\n" + Reflowed(app->get_description()) + "\n" +
               make_positionals(app) + make_groups(app, mode) + make_subcommands(app, mode) + "\n" +
               make_footer(app);
    }
};

class Parser {
  public:
    Parser() {
        app_.formatter(std::make_shared<HelpFormatter>());
        app_.get_formatter()->column_width(24);
        app_.get_formatter()->label("OPTIONS", "OPTION...");
        app_.set_help_flag("-h,--help", "show this text; COMMAND --help shows a command's options");
        // As before CLI11: an option given twice counts with its last value.
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app_.allow_extras();  // words no command takes are reported below, with their reason
        app_.require_subcommand(0, 1);
        app_.fallthrough();  // the options above may also follow the command

        app_.add_option("--io", invocation_.io, kIoHelp)
            ->type_name("BACKEND")
            ->check(kPortAccessMethod);
        app_.add_option("--port", invocation_.portText,
                        "use the emulator at this base address instead of\nsearching 0x278, 0x378 "
                        "and 0x3BC; 888, $378, x378\nand 0x378 are the same")
            ->type_name("ADDR")
            ->check(kPortAddress);
        app_.add_flag("-q,--quiet", invocation_.quiet, "print errors only");
        app_.add_flag("--json", invocation_.json,
                      "print events as JSON, one object per line, on\nstdout; the rest goes to "
                      "stderr");
        app_.add_flag("--version", invocation_.version, "show the version");

        LeaveOption(Command("detect",
                            "say at which address the emulator answered; when\nnone did, say for "
                            "each address tried what was found\nthere"))
            .footer(kLeaveNote);

        CLI::App& write = ImageCommand(
            "write",
            "load FILE into the range, write it into the\nemulator, verify it, hold the target in "
            "RESET, then\nrelease it",
            "write releases the target after the RESET time, except when verify fails.");
        write.add_flag("--no-verify", noVerify_, "write without verifying");
        write.add_flag("--allow-empty", invocation_.allowEmpty, kAllowEmpty);
        write.add_flag("--crop", invocation_.crop, kCrop);
        write
            .add_option(
                "--reset-ms", invocation_.resetMs,
                "RESET time after the write, in milliseconds (default\n1000, at most 10000)")
            ->type_name("N")
            ->transform(kMilliseconds);
        CLI::Option* watch = write.add_flag(
            "--watch", invocation_.watch,
            "after the write, watch FILE and write what changed\neach time it changes (Ctrl-C "
            "ends); not with\n--changed-only");
        CLI::Option* changedOnly =
            write
                .add_option("--changed-only", invocation_.previousFile,
                            "write only the bytes where FILE differs from\nPREVIOUS, which the "
                            "emulator holds already;\nnot with --watch")
                ->type_name("PREVIOUS")
                ->check(kNotEmpty)
                ->excludes(watch);
        write
            .add_option("--previous-format", invocation_.previousFileType,
                        "PREVIOUS's format (bin, hex, xhex or srec);\ndefault: by PREVIOUS's "
                        "name, else its first\nline, as for FILE")
            ->type_name("F")
            ->transform(kFormat);
        write
            .add_option("--verify", verifyWhat_,
                        "with --watch or --changed-only: verify all of the\nrange (the default) "
                        "or only the bytes written")
            ->type_name("all|changed")
            ->transform(Choice("a verify mode", {"all", "changed"}));
        static_cast<void>(changedOnly);
        CLI::App& read = LeaveOption(ImageCommand(
            "read", "save the emulator's memory in FILE",
            "read never leaves a half-written FILE behind: a regular FILE is replaced\n"
            "only once complete, keeping its permissions (never setuid/setgid) and owner;\n"
            "links are followed, a write-protected FILE is refused, devices and\n"
            "/dev/stdout are written in place.\n" +
                std::string(kLeaveNote)));
        read.add_flag("--sparse", invocation_.sparse,
                      "HEX and S-record FILE: records only for the bytes\nthat are not FF "
                      "(default: every byte)");
        CLI::App& verify = LeaveOption(
            ImageCommand("verify",
                         "compare the emulator's memory with FILE and list\nthe first differing "
                         "addresses",
                         kLeaveNote));
        verify.add_flag("--allow-empty", invocation_.allowEmpty, kAllowEmpty);
        verify.add_flag("--crop", invocation_.crop, kCrop);

        CLI::App& dump = LeaveOption(ImageCommand(
            "dump",
            "print the image page by page in hexadecimal, as\nthe window's Options view shows "
            "it; FILE is\nloaded as write loads it",
            "A page is 256 bytes: 16 lines of the address, the bytes in hex and the\n"
            "bytes as characters (ASCII digits and letters; anything else is '.').\n"
            "--emulator reads the emulator's whole memory first; --leave applies to it.\n" +
                std::string(kLeaveNote)));
        dump.get_option("FILE")->required(false);
        dump.add_flag("--emulator", invocation_.emulator,
                      "print the emulator's memory instead of a FILE\n(no FILE, --format, "
                      "--start or --end then)");
        dump.add_option("--page", pageText_,
                        "print only this page (decimal, 0 to the type's\nlast: 31 for a 2764, "
                        "511 for a 27010)")
            ->type_name("N");
        dump.add_flag("--allow-empty", invocation_.allowEmpty, kAllowEmpty);
        dump.add_flag("--crop", invocation_.crop, kCrop);

        CLI::App& reset = Command("reset", "drive the target's RESET line");
        reset
            .add_option(
                "ACTION", resetAction_,
                "hold, release, toggle (the state found) or pulse\n(hold for MS, then release)")
            ->required()
            ->type_name("")
            ->transform(Choice("a RESET action", {"hold", "release", "toggle", "pulse"}));
        reset
            .add_option("MS", pulseMs_, "pulse time in milliseconds (default 1000, at most 10000)")
            ->type_name("")
            ->transform(kMilliseconds);
        reset
            .add_option("--from", from_,
                        "toggle only: the state to toggle from, hold or\nrelease (needed with "
                        "ppdev, which cannot read it)")
            ->type_name("S")
            ->transform(kResetState);

        CLI::App& test = Command(
            "test",
            "memory: write and verify random data in all of\nthe emulator's 128 KiB, pass after "
            "pass; signals:\ndrive single port lines for an oscilloscope");
        test.add_option("WHAT", testWhat_, "memory or signals")
            ->required()
            ->type_name("")
            ->transform(Choice("a test", {"memory", "signals"}));
        test.add_option("--type", invocation_.type,
                        std::string("EPROM type to select again at the end:\n") + kTypes)
            ->type_name("T")
            ->transform(kEpromType);
        test.add_option("--passes", invocation_.test.passes,
                        "memory: stop after N passes (at most 1000000;\ndefault: until Ctrl-C)")
            ->type_name("N")
            ->transform(kPasses);
        test.add_option("--lines", invocation_.test.lines,
                        "signals: the lines to drive, from data, autofeed,\ninit, select and "
                        "strobe, separated by commas")
            ->type_name("LIST")
            ->transform(kLines);
        CLI::Option* count =
            test.add_option("--count", invocation_.test.count,
                            "signals: stop after N iterations (default: until\nCtrl-C); not "
                            "with --seconds")
                ->type_name("N")
                ->transform(kIterations);
        test.add_option("--seconds", invocation_.test.seconds,
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

        CLI::App& convert = Command("convert", "convert between image file formats");
        convert.fallthrough(false);  // it opens no port: --io and --port mean nothing here
        ConvertInvocation& options = invocation_.convert;
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
        convert.add_flag("-q,--quiet", invocation_.quiet, "print errors and warnings only");
        convert.add_flag("--json", invocation_.json, "print events as JSON lines on stdout");
        convert.add_option("--start", options.start, "first address (hexadecimal; default 0)")
            ->type_name("A");
        convert
            .add_option("--end", options.end,
                        "last address (hexadecimal; default: the type's last\naddress)")
            ->type_name("A");
        convert.add_option("--fill", options.fill, "byte of the image outside INPUT (default FF)")
            ->type_name("BYTE");
        convert
            .add_option("--hex-base", hexBaseText_,
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

        // `tarvex help [COMMAND]` shows the same texts as --help.
        help_ = app_.add_subcommand("help", "")->group("");
        help_->add_option("COMMAND", helpTopic_);
        app_.footer(kHelpFooter);  // after the commands, which would inherit it
    }

    Invocation Parse(const std::vector<std::string>& args) {
        // CLI11 takes the words last to first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            app_.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            invocation_.help = app_.help();
            return invocation_;
        } catch (const CLI::ParseError& error) {
            // A word no command takes shifts the words after it: name that word first.
            CheckLeftOver();
            throw UsageError(Where() + error.what(), CommandName());
        }
        if (help_->parsed()) {
            CLI::App* topic = helpTopic_.empty() ? &app_ : Find(helpTopic_);
            if (!topic) {
                throw UsageError("help: unknown command '" + helpTopic_ + "'");
            }
            // App::help() would describe the selected command, which is help itself.
            invocation_.help = app_.get_formatter()->make_help(
                topic, topic == &app_ ? "tarvex" : "tarvex " + helpTopic_,
                CLI::AppFormatMode::Normal);
            return invocation_;
        }
        if (invocation_.version) {
            return invocation_;
        }
        CheckLeftOver();
        if (CommandName().empty()) {
            throw UsageError("no command given");
        }
        invocation_.command = CommandName();
        if (invocation_.portText) {
            std::uint16_t base = 0;
            ParsePortAddress(*invocation_.portText, base);
            invocation_.port = base;
        }
        CheckCommand();
        return invocation_;
    }

  private:
    CLI::App& Command(const char* name, const char* description) {
        CLI::App& command = *app_.add_subcommand(name, description)->group("Commands");
        command.set_help_flag("-h,--help", "show this text");
        return command;
    }

    CLI::App& LeaveOption(CLI::App& command) {
        command.add_option("--leave", leave_, kLeave)->type_name("S")->transform(kResetState);
        return command;
    }

    // read, write and verify: a FILE, its format and a range within an EPROM type.
    CLI::App& ImageCommand(const char* name, const char* description, const std::string& note) {
        CLI::App& command = Command(name, description);
        command
            .add_option("FILE", invocation_.file, "the image file; - is standard input or output")
            ->required()
            ->type_name("")
            ->check(kNotEmpty);
        command.add_option("--type", invocation_.type, std::string("EPROM type: ") + kTypes)
            ->required()
            ->type_name("T")
            ->transform(kEpromType);
        const bool loads = std::string_view(name) != "read";
        command
            .add_option("--format", invocation_.fileType,
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
            .add_option("--start", startText_,
                        "first address of the range (hexadecimal, within\nthe type; default 0)")
            ->type_name("A")
            ->check(kHexAddress);
        command
            .add_option("--end", endText_,
                        "last address of the range (hexadecimal, within the type;\ndefault: the "
                        "type's last address)")
            ->type_name("A")
            ->check(kHexAddress);
        command
            .add_option(
                "--hex-base", hexBaseText_,
                "HEX or S-record file address of the EPROM's first\nbyte (hexadecimal; default 0): "
                "--hex-base E000 puts\nrecords E000-FFFF at 0000-1FFF")
            ->type_name("A")
            ->check(kHexAddress);
        command.footer(kRangeFooter + ("\n" + note) + kFormatRule);
        return command;
    }

    CLI::App* Find(const std::string& name) {
        for (CLI::App* command : app_.get_subcommands([](const CLI::App*) { return true; })) {
            if (command->get_name() == name && command != help_) {
                return command;
            }
        }
        return nullptr;
    }

    std::string CommandName() const {
        const auto parsed = app_.get_subcommands();
        return parsed.empty() ? std::string() : parsed.front()->get_name();
    }

    std::string Where() const {
        const std::string name = CommandName();
        return name.empty() ? "" : name + ": ";
    }

    // Names the first word that no command took, and why it was not taken.
    void CheckLeftOver() {
        const std::vector<std::string> left = app_.remaining(true);
        if (left.empty()) {
            return;
        }
        const std::string& word = left.front();
        const std::string name = CommandName();
        std::int64_t number = 0;
        if (word.size() > 1 && word[0] == '-' && !ParseCommandNumber(word, number)) {
            const std::string option = word.substr(0, word.find('='));
            bool known = !name.empty() &&
                         app_.get_option_no_throw(option);  // one of the program's, after convert
            for (CLI::App* command : app_.get_subcommands([](const CLI::App*) { return true; })) {
                known = known || command->get_option_no_throw(option);
            }
            if (!known) {
                throw UsageError("unknown option '" + word + "'", name);
            }
            throw UsageError("option " + option + " does not apply to " +
                                 (name.empty() ? "the program; give it after its command" : name),
                             name);
        }
        if (name.empty()) {
            throw UsageError("unknown command '" + word + "'");
        }
        throw UsageError(name + " does not take '" + word + "'", name);
    }

    // What single options cannot check: values that depend on each other.
    void CheckCommand() {
        const std::string& command = invocation_.command;
        if (command == "convert") {
            if (invocation_.io || invocation_.port) {
                throw UsageError("--io and --port do not apply to convert", command);
            }
            const ConvertInvocation& convert = invocation_.convert;
            if (invocation_.json && convert.output == "-") {
                throw UsageError(
                    "convert: --json puts its events on standard output; OUTPUT "
                    "cannot be - (standard output) too",
                    command);
            }
            ConvertInvocation& options = invocation_.convert;
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
            options.hexBaseGiven = app_.get_subcommand(command)->count("--hex-base") > 0;
            options.hexBase = HexBase(command, maybeText, FindEpromType(convert.type)->epromEnd);
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
            return;
        }
        if (command == "reset") {
            invocation_.resetAction = static_cast<ResetAction>(resetAction_);
            if (app_.get_subcommand(command)->count("--from") > 0) {
                if (invocation_.resetAction != ResetAction::Toggle) {
                    const char* const actions[] = {"hold", "release", "toggle", "pulse"};
                    throw UsageError(std::string("option --from does not apply to reset ") +
                                         actions[resetAction_],
                                     command);
                }
                invocation_.from = static_cast<ResetState>(from_);
            }
            if (pulseMs_) {
                if (invocation_.resetAction != ResetAction::Pulse) {
                    const char* const actions[] = {"hold", "release", "toggle", "pulse"};
                    throw UsageError(std::string("reset ") + actions[resetAction_] +
                                         " does not take '" + std::to_string(*pulseMs_) + "'",
                                     command);
                }
                invocation_.resetMs = *pulseMs_;
            }
            return;
        }
        if (command == "test") {
            CheckTest();
            return;
        }
        if (command != "write" && app_.get_subcommand(command)->count("--leave") > 0) {
            invocation_.leave = static_cast<ResetState>(leave_);
        }
        if (command == "detect") {
            return;
        }
        if (command == "dump") {
            CheckDump();
        }
        invocation_.verify = !noVerify_;
        if (invocation_.json && command == "read" && invocation_.file == "-") {
            throw UsageError(Where() +
                                 "--json puts its events on standard output; FILE cannot "
                                 "be - (standard output) too",
                             command);
        }
        CLI::App& options = *app_.get_subcommand(command);
        if (options.count("--format") > 0) {
            invocation_.formatFrom = FormatFrom::Option;
        } else if (const auto byName = FileTypeForName(invocation_.file)) {
            invocation_.fileType = *byName;
        } else {
            // A file read back has no first line to go by.
            invocation_.fileType = 0;
            invocation_.formatFrom = command == "read" ? FormatFrom::Name : FormatFrom::Content;
        }
        const EpromTypeInfo* type = FindEpromType(invocation_.type);
        invocation_.end = type->epromEnd;
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
        address("--start", startText_, invocation_.start);
        address("--end", endText_, invocation_.end);
        if (invocation_.start > invocation_.end) {
            throw UsageError(Where() + "--start " + HexAddress(invocation_.start) +
                                 " is after --end " + HexAddress(invocation_.end),
                             command);
        }
        const bool maybeText =
            invocation_.fileType != 0 || invocation_.formatFrom == FormatFrom::Content;
        invocation_.hexBaseGiven = options.count("--hex-base") > 0;
        invocation_.hexBase = HexBase(command, maybeText, type->epromEnd);
        if (invocation_.crop && !maybeText) {
            throw UsageError(Where() +
                                 "--crop applies to HEX and S-record files (--format hex, xhex "
                                 "or srec)",
                             command);
        }
        if (invocation_.sparse && invocation_.fileType == 0) {
            throw UsageError(Where() +
                                 "--sparse applies to HEX and S-record files (--format hex, "
                                 "xhex or srec)",
                             command);
        }
        if (command == "read" && invocation_.fileType == 2 &&
            std::uint64_t{invocation_.hexBase} + invocation_.end > 0xFFFFF) {
            throw UsageError(Where() + "--hex-base " + hexBaseText_ +
                                 ": addresses above FFFFF do not fit Intel HEX extended "
                                 "segment records",
                             command);
        }
        if (command == "write") {
            if (invocation_.watch && invocation_.file == "-") {
                throw UsageError(Where() + "--watch needs a FILE to watch, not standard input",
                                 command);
            }
            if (invocation_.previousFile) {
                if (*invocation_.previousFile == "-" && invocation_.file == "-") {
                    throw UsageError(Where() +
                                         "FILE and --changed-only PREVIOUS cannot both be - "
                                         "(standard input)",
                                     command);
                }
                if (options.count("--previous-format") > 0) {
                    invocation_.previousFormatFrom = FormatFrom::Option;
                } else if (const auto byName = FileTypeForName(*invocation_.previousFile)) {
                    invocation_.previousFileType = *byName;
                } else {
                    invocation_.previousFormatFrom = FormatFrom::Content;
                }
            } else if (options.count("--previous-format") > 0) {
                throw UsageError(Where() + "--previous-format applies with --changed-only",
                                 command);
            }
            if (options.count("--verify") > 0 && !invocation_.watch && !invocation_.previousFile) {
                throw UsageError(Where() + "--verify applies with --watch or --changed-only",
                                 command);
            }
            invocation_.verifyChangedOnly = verifyWhat_ == 1;
        }
        if (pageText_) {
            invocation_.page = ParsePage(*pageText_, *type);
        }
    }

    // Each test takes its own options only.
    void CheckTest() {
        CLI::App& options = *app_.get_subcommand("test");
        invocation_.test.signals = testWhat_ == 1;
        const char* const what = invocation_.test.signals ? "test signals" : "test memory";
        // Options of the other test.
        static const std::vector<std::string> kMemoryOnly{"--passes"};
        static const std::vector<std::string> kSignalsOnly{"--lines", "--count", "--seconds"};
        for (const std::string& option : invocation_.test.signals ? kMemoryOnly : kSignalsOnly) {
            if (options.count(option) > 0) {
                throw UsageError(std::string(what) + " does not take " + option, "test");
            }
        }
        if (invocation_.test.signals && options.count("--lines") == 0) {
            throw UsageError("test signals needs --lines LIST", "test");
        }
    }

    // --hex-base: only for HEX files, and the type's last byte must keep a 32-bit address.
    std::uint32_t HexBase(const std::string& command, bool hexFiles, std::uint32_t epromEnd) {
        CLI::App& options = *app_.get_subcommand(command);
        if (options.count("--hex-base") == 0) {
            return 0;
        }
        if (!hexFiles) {
            throw UsageError(
                Where() +
                    "--hex-base applies to HEX and S-record files (--format hex, xhex or srec)",
                command);
        }
        const std::uint32_t base = ParseHexAddress(hexBaseText_).value_or(0);
        if (std::uint64_t{base} + epromEnd > 0xFFFFFFFF) {
            throw UsageError(Where() + "--hex-base '" + hexBaseText_ +
                                 "' puts the type's last byte beyond address FFFFFFFF",
                             command);
        }
        return base;
    }

    // dump prints a FILE or the emulator's memory, never both.
    void CheckDump() {
        CLI::App& options = *app_.get_subcommand("dump");
        if (!invocation_.emulator) {
            if (options.count("FILE") == 0) {
                throw UsageError("dump: FILE or --emulator is required", "dump");
            }
            if (options.count("--leave") > 0) {
                throw UsageError("option --leave applies to dump --emulator only", "dump");
            }
            return;
        }
        if (options.count("FILE") > 0) {
            throw UsageError("dump --emulator takes no FILE, but got '" + invocation_.file + "'",
                             "dump");
        }
        for (const char* option :
             {"--format", "--start", "--end", "--allow-empty", "--hex-base", "--crop"}) {
            if (options.count(option) > 0) {
                throw UsageError(
                    std::string("option ") + option + " does not apply to dump --emulator", "dump");
            }
        }
    }

    // Pages are counted in decimal, as the window's scroll bar counts them.
    std::uint32_t ParsePage(const std::string& text, const EpromTypeInfo& type) const {
        const std::uint32_t last = LastPage(type.epromEnd);
        std::uint32_t page = 0;
        const char* const end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, page);
        if (text.empty() || error == std::errc::invalid_argument || stop != end) {
            throw UsageError(Where() + "--page '" + text +
                                 "' is not a page number (decimal, 0 to " + std::to_string(last) +
                                 ")",
                             "dump");
        }
        if (error == std::errc::result_out_of_range || page > last) {
            throw UsageError(Where() + "--page '" + text + "' is beyond the last page " +
                                 std::to_string(last) + " of the " + std::to_string(type.number),
                             "dump");
        }
        return page;
    }

    CLI::App app_{
        "Puts an image into the Tarvex II EPROM emulator on a parallel port, reads it\nback, "
        "verifies it and drives the target's RESET line.",
        "tarvex"};
    CLI::App* help_ = nullptr;
    Invocation invocation_;
    std::string startText_, endText_, hexBaseText_, helpTopic_;
    std::optional<std::string> pageText_;
    int verifyWhat_ = 0;
    int testWhat_ = 0;
    int resetAction_ = 0;
    int leave_ = 0;
    int from_ = 0;
    bool noVerify_ = false;
    std::optional<std::uint32_t> pulseMs_;
};

}  // namespace

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

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    return Parser().Parse(args);
}

}  // namespace tarvex::cli
