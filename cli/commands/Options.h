#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/CommandNumber.h"
#include "cli/CommandLine.h"
#include "link/Emulator.h"

namespace tarvex::cli {

inline constexpr const char* kTypes = "2764, 27128, 27256, 27512 or 27010";

// A value check reads the word and says why it is refused; as a transformer it also leaves
// the number in decimal for CLI11 to store. The help shows the option's type name alone.
using Reader = std::function<std::string(const std::string& text, std::int64_t& value)>;

inline CLI::Validator Number(Reader read) {
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
inline CLI::Validator Choice(const std::string& what, std::initializer_list<const char*> words) {
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

inline const CLI::Validator kNotEmpty(
    [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "");

inline bool EndsWith(const std::string& text, const char* end) {
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

inline const CLI::Validator kMilliseconds =
    Number([](const std::string& text, std::int64_t& value) {
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

inline const CLI::Validator kEpromType = Number([](const std::string& text, std::int64_t& value) {
    if (!ParseCommandNumber(text, value) || value <= 0 || value > 0xFFFF ||
        !FindEpromType(static_cast<std::uint32_t>(value))) {
        return "'" + text + "' is not an EPROM type (use " + kTypes + ")";
    }
    return std::string();
});

inline const CLI::Validator kFormat = Choice("a file format", {"bin", "hex", "xhex", "srec"});
inline const CLI::Validator kResetState = Choice("a RESET state", {"hold", "release"});

inline constexpr const char* kLeave =
    "leave the target held in RESET (hold) or running\n(release); default: as found with "
    "direct and sim,\nrunning with ppdev";
inline constexpr const char* kLeaveNote =
    "With direct and sim the state found is kept unless --leave says otherwise. With\n"
    "ppdev taking the port holds the target in RESET (the kernel's claim), so there\n"
    "is no state to keep: the target is left running unless --leave hold is given.\n"
    "The summary line says which.";

// --start and --end are hexadecimal as everywhere the image's addresses are shown;
// a 0x or $ prefix is allowed but not needed.
inline std::optional<std::uint32_t> ParseHexAddress(std::string_view text) {
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

inline const CLI::Validator kHexAddress = Number([](const std::string& text, std::int64_t& value) {
    const auto address = ParseHexAddress(text);
    if (!address) {
        return "'" + text + "' is not a hexadecimal address (e.g. 1FFF or 0x1FFF)";
    }
    value = *address;
    return std::string();
});

inline constexpr const char* kFormatByName =
    "xhex for a name\nending in .hex, .ihx or .ihex, srec for .s19, .s28,\n.s37, .srec or .mot, "
    "bin for .bin, .rom, .img or\n.raw";

inline constexpr const char* kFormatRule =
    "\nThe format: --format when given; else FILE's name; else (for - and other\n"
    "names) the first line: Intel HEX text loads as xhex, S-record text as srec,\n"
    "anything else as bin, and the choice is said like progress.";

inline constexpr const char* kAllowEmpty = "accept an empty FILE (the range is then all FF)";

inline constexpr const char* kRangeFooter =
    R"(The range holds end - start + 1 bytes; they go to the emulator from address 0.
A binary FILE holds them from its first byte and may be shorter (the rest of the
range is FF); bytes beyond the range are ignored. A HEX or S-record FILE puts
each record at its own address less the HEX base (0 is the type's first byte):
a record outside the range fails the load, and the bytes it does not supply
are FF.)";

inline constexpr const char* kCrop =
    "leave out the records, and the parts of records,\nthat lie outside the range instead of "
    "failing\n(say how many bytes and where)";

// What the commands' declarations share while one command line is parsed: the program's
// CLI11 app, the invocation they fill, the texts the checks read after parsing, and the
// helpers for the options several commands take.
struct CommandLineParts {
    CommandLineParts(CLI::App& program, Invocation& filled) : app(program), invocation(filled) {}

    CLI::App& app;
    Invocation& invocation;
    std::string startText, endText, hexBaseText;
    std::optional<std::string> pageText;
    int verifyWhat = 0;
    int testWhat = 0;
    int resetAction = 0;
    int leave = 0;
    int from = 0;
    bool noVerify = false;
    std::optional<std::uint32_t> pulseMs;

    CLI::App& Command(const char* name, const char* description);
    CLI::App& LeaveOption(CLI::App& command);
    // read, write, verify and dump: a FILE, its format and a range within an EPROM type.
    CLI::App& ImageCommand(const char* name, const char* description, const std::string& note);

    std::string CommandName() const;
    // "write: ", the start of a message about the command given.
    std::string Where() const;
    // --hex-base: only for HEX files, and the type's last byte must keep a 32-bit address.
    std::uint32_t HexBase(const std::string& command, bool hexFiles, std::uint32_t epromEnd);
    void TakeLeave(const std::string& command);
    // What the image commands' options mean together: the format, the range, the base.
    void CheckImageCommand(const std::string& command);
};

}  // namespace tarvex::cli
