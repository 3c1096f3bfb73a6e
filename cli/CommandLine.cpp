#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <utility>

#include "batch/CommandNumber.h"
#include "cli/commands/Commands.h"
#include "cli/commands/Options.h"
#include "link/PortBackends.h"

namespace tarvex::cli {

// The registry: one line a command, in the order of the help.
CommandSpec DetectCommand();
CommandSpec WriteCommand();
CommandSpec ReadCommand();
CommandSpec VerifyCommand();
CommandSpec DumpCommand();
CommandSpec ResetCommand();
CommandSpec TestCommand();
CommandSpec ConvertCommand();

const std::vector<CommandSpec>& Registry() {
    static const std::vector<CommandSpec> commands{DetectCommand(), WriteCommand(),  ReadCommand(),
                                                   VerifyCommand(), DumpCommand(),   ResetCommand(),
                                                   TestCommand(),   ConvertCommand()};
    return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& command : Registry()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

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

const CLI::Validator kPortAccessMethod(
    [](std::string& text) {
        return IsPortAccessMethod(text)
                   ? std::string()
                   : "'" + text + "' is not a port access method (use " + kIoValues + ")";
    },
    "");

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

// The program's own options, then each command's declaration from its file.
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

        for (const CommandSpec& command : Registry()) {
            command.declare(parts_);
        }

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
        if (const CommandSpec* command = FindCommand(invocation_.command);
            command && command->check) {
            command->check(parts_);
        }
    }

    CLI::App app_{
        "Puts an image into the Tarvex II EPROM emulator on a parallel port, reads it\nback, "
        "verifies it and drives the target's RESET line.",
        "tarvex"};
    CLI::App* help_ = nullptr;
    Invocation invocation_;
    CommandLineParts parts_{app_, invocation_};
    std::string helpTopic_;
};

}  // namespace

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    return Parser().Parse(args);
}

}  // namespace tarvex::cli
