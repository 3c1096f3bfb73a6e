#include "cli/CommandLine.h"

#include <cstdint>

#include "batch/CommandNumber.h"
#include "image/HexText.h"
#include "link/Emulator.h"
#include "link/PortBackends.h"

namespace tarvex::cli {
namespace {

// --start and --end are hexadecimal as everywhere the image's addresses are shown;
// a 0x or $ prefix is allowed but not needed.
std::optional<std::uint32_t> ParseHexAddress(const std::string& text) {
    std::size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        at = 2;
    } else if (text.size() > 1 && text[0] == '$') {
        at = 1;
    }
    if (at == text.size()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
        if (value > 0xFFFFFFF) {
            return std::nullopt;  // far beyond any type; stops before the value could wrap
        }
    }
    return value;
}

std::uint32_t ParseMilliseconds(const std::string& what, const std::string& text) {
    std::int64_t value = 0;
    if (!ParseCommandNumber(text, value)) {
        throw UsageError(what + " '" + text + "' is not a number of milliseconds");
    }
    if (value < 0) {
        throw UsageError(what + " '" + text + "' is negative");
    }
    if (value > kMaxResetMs) {
        throw UsageError(what + " '" + text + "' is longer than 10 s (10000 ms)");
    }
    return static_cast<std::uint32_t>(value);
}

// The loader's and the writer's FileType.
std::optional<std::uint8_t> ParseFormat(const std::string& text) {
    if (text == "bin") {
        return 0;
    }
    if (text == "hex") {
        return 1;
    }
    if (text == "xhex") {
        return 2;
    }
    return std::nullopt;
}

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

bool IsTransfer(const std::string& command) {
    return command == "write" || command == "read" || command == "verify";
}

}  // namespace

std::uint8_t FileTypeForName(const std::string& file) {
    return EndsWith(file, ".hex") || EndsWith(file, ".ihx") || EndsWith(file, ".ihex") ? 2 : 0;
}

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    Invocation invocation;
    std::vector<std::string> words;
    std::optional<std::string> typeText, startText, endText, resetText, formatText;
    std::vector<std::string> commandOptions;  // given options that only some commands take
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (invocation.command == "convert") {
            invocation.convertArgs.push_back(word);
            continue;
        }
        std::int64_t number = 0;
        // "-" alone and negative numbers are words, so "reset pulse -5" gets a clear message.
        if (optionsEnded || word.size() < 2 || word[0] != '-' || ParseCommandNumber(word, number)) {
            if (invocation.command.empty()) {
                invocation.command = word;
            } else {
                words.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> attached;
        if (const auto equals = word.find('='); word.rfind("--", 0) == 0 && equals != word.npos) {
            name = word.substr(0, equals);
            attached = word.substr(equals + 1);
        }
        auto value = [&]() -> std::string {
            if (attached) {
                return *attached;
            }
            if (i + 1 >= args.size()) {
                throw UsageError("option " + name + " needs a value");
            }
            return args[++i];
        };
        auto flag = [&]() {
            if (attached) {
                throw UsageError("option " + name + " takes no value");
            }
        };
        if (name == "--help" || name == "-h") {
            flag();
            invocation.help = true;
        } else if (name == "--version") {
            flag();
            invocation.version = true;
        } else if (name == "--quiet" || name == "-q") {
            flag();
            invocation.quiet = true;
        } else if (name == "--io") {
            invocation.io = value();
            if (!IsPortAccessMethod(*invocation.io)) {
                throw UsageError("--io '" + *invocation.io + "' is not a port access method (use " +
                                 kIoValues + ")");
            }
        } else if (name == "--port") {
            invocation.portText = value();
            std::uint16_t base = 0;
            if (!ParsePortAddress(*invocation.portText, base)) {
                throw UsageError("--port '" + *invocation.portText +
                                 "' is not a port base address (write it as 0x378, $378, x378 "
                                 "or 888; the base + 2 must stay within 0xFFFF)");
            }
            invocation.port = base;
        } else if (name == "--type") {
            typeText = value();
            commandOptions.push_back(name);
        } else if (name == "--start") {
            startText = value();
            commandOptions.push_back(name);
        } else if (name == "--end") {
            endText = value();
            commandOptions.push_back(name);
        } else if (name == "--format") {
            formatText = value();
            commandOptions.push_back(name);
        } else if (name == "--allow-empty") {
            flag();
            invocation.allowEmpty = true;
            commandOptions.push_back(name);
        } else if (name == "--no-verify") {
            flag();
            invocation.verify = false;
            commandOptions.push_back(name);
        } else if (name == "--reset-ms") {
            resetText = value();
            commandOptions.push_back(name);
        } else {
            throw UsageError("unknown option '" + word + "'");
        }
    }

    if (invocation.help || invocation.version) {
        return invocation;
    }
    const std::string& command = invocation.command;
    if (command.empty()) {
        throw UsageError("no command given");
    }
    if (command == "help") {
        invocation.help = true;
        return invocation;
    }
    if (command == "convert") {
        if (invocation.io || invocation.port) {
            throw UsageError("--io and --port do not apply to convert");
        }
        return invocation;
    }
    if (command != "detect" && command != "reset" && !IsTransfer(command)) {
        throw UsageError("unknown command '" + command + "'");
    }
    for (const std::string& option : commandOptions) {
        const bool writeOnly = option == "--no-verify" || option == "--reset-ms";
        const bool loads = option == "--allow-empty";
        if (writeOnly ? command != "write"
            : loads   ? command != "write" && command != "verify"
                      : !IsTransfer(command)) {
            throw UsageError("option " + option + " does not apply to " + command);
        }
    }

    if (command == "detect") {
        if (!words.empty()) {
            throw UsageError("detect takes no argument, but got '" + words.front() + "'");
        }
        return invocation;
    }

    if (command == "reset") {
        if (words.empty()) {
            throw UsageError("reset needs hold, release, toggle or pulse");
        }
        const std::string& action = words.front();
        if (action == "hold") {
            invocation.resetAction = ResetAction::Hold;
        } else if (action == "release") {
            invocation.resetAction = ResetAction::Release;
        } else if (action == "toggle") {
            invocation.resetAction = ResetAction::Toggle;
        } else if (action == "pulse") {
            invocation.resetAction = ResetAction::Pulse;
        } else {
            throw UsageError("reset '" + action + "': use hold, release, toggle or pulse");
        }
        const std::size_t allowed = invocation.resetAction == ResetAction::Pulse ? 2 : 1;
        if (words.size() > allowed) {
            throw UsageError("reset " + action + " does not take '" + words[allowed] + "'");
        }
        if (words.size() == 2) {
            invocation.resetMs = ParseMilliseconds("reset pulse time", words[1]);
        }
        return invocation;
    }

    // write, read, verify
    if (words.empty()) {
        throw UsageError(command + " needs a FILE");
    }
    if (words.size() > 1) {
        throw UsageError(command + " takes one FILE, but got also '" + words[1] + "'");
    }
    if (words.front().empty()) {
        throw UsageError(command + ": the FILE name is empty");
    }
    invocation.file = words.front();
    if (!typeText) {
        throw UsageError(command + " needs --type (2764, 27128, 27256, 27512 or 27010)");
    }
    std::int64_t typeNumber = 0;
    const EpromTypeInfo* type =
        ParseCommandNumber(*typeText, typeNumber)
            ? FindEpromType(static_cast<std::uint32_t>(typeNumber < 0 ? 0 : typeNumber))
            : nullptr;
    if (!type) {
        throw UsageError("--type '" + *typeText +
                         "' is not an EPROM type (use 2764, 27128, 27256, 27512 or 27010)");
    }
    invocation.type = type->number;
    invocation.end = type->epromEnd;
    const std::string typeName = std::to_string(type->number);
    auto address = [&](const char* option, const std::string& text) {
        const auto value = ParseHexAddress(text);
        if (!value) {
            throw UsageError(std::string(option) + " '" + text +
                             "' is not a hexadecimal address (e.g. 1FFF or 0x1FFF)");
        }
        if (*value > type->epromEnd) {
            throw UsageError(std::string(option) + " '" + text + "' is beyond the last address " +
                             HexAddress(type->epromEnd) + " of the " + typeName);
        }
        return *value;
    };
    if (startText) {
        invocation.start = address("--start", *startText);
    }
    if (endText) {
        invocation.end = address("--end", *endText);
    }
    if (invocation.start > invocation.end) {
        throw UsageError("--start " + HexAddress(invocation.start) + " is after --end " +
                         HexAddress(invocation.end));
    }
    if (formatText) {
        const auto fileType = ParseFormat(*formatText);
        if (!fileType) {
            throw UsageError("--format '" + *formatText +
                             "' is not a file format (use bin, hex or xhex)");
        }
        invocation.fileType = *fileType;
        invocation.formatGiven = true;
    } else {
        invocation.fileType = FileTypeForName(invocation.file);
    }
    if (resetText) {
        invocation.resetMs = ParseMilliseconds("--reset-ms", *resetText);
    }
    return invocation;
}

const char* HelpText() {
    return R"(Usage: tarvex [--io BACKEND] [--port ADDR] [--quiet] COMMAND [ARGUMENTS]

Puts an image into the Tarvex II EPROM emulator on a parallel port, reads it
back, verifies it and drives the target's RESET line.

Commands:
  detect                 say at which address the emulator answered; when none
                         did, say for each address tried what was found there
  write FILE --type T [--format F] [--start A] [--end A] [--no-verify]
        [--reset-ms N] [--allow-empty]
                         load FILE into the range, write it into the emulator,
                         verify it, hold the target in RESET for N ms (default
                         1000, at most 10000), then release it
  read FILE --type T [--format F] [--start A] [--end A]
                         save the emulator's memory in FILE
  verify FILE --type T [--format F] [--start A] [--end A] [--allow-empty]
                         compare the emulator's memory with FILE and list the
                         first differing addresses
  reset hold|release|toggle|pulse [MS]
                         drive the target's RESET line; pulse holds it for MS
                         milliseconds (default 1000, at most 10000)
  convert INPUT OUTPUT --type T [...]
                         convert between image file formats; see
                         'tarvex convert --help'

Options:
  --io BACKEND    port access method: ppdev (the default), direct, sim,
                  sim:none, sim:0x278,... (overrides TARVEX_IO)
  --port ADDR     use the emulator at this base address instead of searching
                  0x278, 0x378 and 0x3BC; 888, $378, x378 and 0x378 are the same
  --quiet, -q     print errors only
  --type T        EPROM type: 2764, 27128, 27256, 27512 or 27010
  --format F      FILE's format: bin (binary image), hex (Intel HEX, addresses
                  up to FFFF) or xhex (Intel HEX extended). Default: xhex for a
                  FILE named *.hex, *.ihx or *.ihex, else bin; HEX text given as
                  bin is refused unless --format bin is given
  --start A       first and last address of the range (hexadecimal, within
  --end A         the type; default: the whole type). The range holds
                  end - start + 1 bytes; they go to the emulator from address
                  0. A binary FILE holds them from its first byte, a HEX FILE
                  at their own addresses
  --no-verify     write without verifying
  --reset-ms N    RESET time after a write, in milliseconds
  --allow-empty   accept an empty FILE (the range is then all FF)
  --help, -h      show this text
  --version       show the version

A binary FILE shorter than the range leaves the rest of the range at FF; bytes
beyond the range are ignored. A HEX FILE puts each record at its own address
(0 is the type's first byte): a record outside the range fails the load, and
the bytes it does not supply are FF. FILE - is standard input or output.
read never leaves a half-written FILE behind: a regular FILE is replaced only
once complete, keeping its permissions (never setuid/setgid) and owner; links
are followed, a write-protected FILE is refused, devices and /dev/stdout are
written in place.
detect, read and verify leave the target's RESET line as they found it; write
releases the target after the RESET time, except when verify fails.
ADDR, T, N and MS are decimal, or hexadecimal after $, x or 0x, as in the
program's own command line.

Exit status:
  0    success
  1    the emulator does not hold the image (verify found a difference)
  2    usage error
  3    port access could not be opened, no emulator answered, the emulator
       stopped answering during a transfer, or it did not confirm the RESET
       state asked for
  4    file error: not found, unreadable, empty or unwritable, a HEX FILE that
       does not load, or a trace that could not be written
  128+N  stopped by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP); the target
       is left in RESET

Environment:
  TARVEX_IO         port access method when --io is not given
  TARVEX_SIM_STATE  file keeping the simulated emulator's memory between runs
  TARVEX_TRACE      file recording every port access
)";
}

}  // namespace tarvex::cli
