#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarvex::cli {

// Exit statuses, one per class of outcome; scripts test for them.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitMismatch = 1,    // the emulator does not hold the image
    kExitUsage = 2,       // the command line is wrong
    kExitNoEmulator = 3,  // port access could not be opened, or no emulator answered
    kExitFileError = 4,   // a file could not be found, read or written
    kExitSignal = 128,    // + the signal that stopped the run: 130 SIGINT, 143 SIGTERM, 129 SIGHUP
};

enum class ResetAction { Hold, Release, Toggle, Pulse };
// The target's RESET line: held (the target stopped) or released (it runs).
enum class ResetState { Hold, Release };

inline constexpr std::uint32_t kDefaultResetMs = 1000;
inline constexpr std::uint32_t kMaxResetMs = 10000;

// Where a FILE's format came from: its option, its name, or (for - and names that say
// nothing) the file's first line, looked at when it is loaded.
enum class FormatFrom { Option, Name, Content };

// `convert`'s options; it touches no port.
struct ConvertInvocation {
    std::string input, output;
    std::uint16_t type = 0;
    // FileType, as given; without --from INPUT's name or content decides, without --to
    // OUTPUT's name or else INPUT's format.
    std::optional<std::uint8_t> from, to;
    // Hexadecimal texts, checked against the type the way the Options window checks them.
    std::optional<std::string> start, end, fill;
    std::uint32_t hexBase = 0;  // --hex-base: the HEX file address of EPROM byte 0
    bool hexBaseGiven = false;
    bool crop = false;    // leave out what lies outside the range
    bool sparse = false;  // HEX and S-record output: no records for fill bytes
};

// `test`'s options.
struct TestInvocation {
    bool signals = false;      // test signals; else test memory
    std::uint32_t passes = 0;  // --passes; 0: until stopped, or the memory test's pass limit
    unsigned lines = 0;        // --lines, as a SignalLines mask
    std::optional<std::uint64_t> count;  // --count: iterations of the signals test
    std::optional<double> seconds;       // --seconds: how long the signals test runs
};

// What the words after the program name ask for.
struct Invocation {
    std::optional<std::string> io;        // --io, overrides TARVEX_IO
    std::optional<std::uint16_t> port;    // --port; without it the standard addresses are searched
    std::optional<std::string> portText;  // --port as typed, for messages
    bool quiet = false;
    bool json = false;  // --json: events as JSON lines on stdout, human text on stderr
    std::optional<std::string> help;  // --help: the text to show
    bool version = false;

    std::string command;                       // detect, write, read, verify, reset, test, dump,
                                               // convert
    std::string file;                          // write, read, verify, dump
    std::uint16_t type = 0;                    // --type
    std::uint32_t start = 0;                   // --start, buffer index
    std::uint32_t end = 0;                     // --end (defaults to the type's last address)
    std::uint8_t fileType = 0;                 // --format: 0 bin, 1 hex, 2 xhex, 3 srec
    FormatFrom formatFrom = FormatFrom::Name;  // with Content, fileType is decided at the load
    bool hexBaseGiven = false;
    bool crop = false;                        // write, verify, dump: --crop
    bool sparse = false;                      // read: --sparse
    bool allowEmpty = false;                  // write, verify: --allow-empty
    bool verify = true;                       // write without --no-verify
    std::uint32_t resetMs = kDefaultResetMs;  // --reset-ms, or the MS of reset pulse
    ResetAction resetAction = ResetAction::Hold;
    std::uint32_t hexBase = 0;                // --hex-base: the HEX file address of EPROM byte 0
    bool watch = false;                       // write --watch
    std::optional<std::string> previousFile;  // write --changed-only PREVIOUS_FILE
    std::uint8_t previousFileType = 0;        // --previous-format, else by PREVIOUS's name
    FormatFrom previousFormatFrom = FormatFrom::Name;
    bool verifyChangedOnly = false;     // --verify changed (with --watch, --changed-only)
    bool emulator = false;              // dump: --emulator, the emulator's memory instead of FILE
    std::optional<std::uint32_t> page;  // dump: --page, one page instead of all
    ConvertInvocation convert;
    std::optional<ResetState> leave;  // --leave of detect, read, verify
    std::optional<ResetState> from;   // --from of reset toggle
    TestInvocation test;
};

// A command line that cannot be carried out; the text says which word and why.
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string& what, std::string command = {})
        : std::runtime_error(what), command_(std::move(command)) {}

    // The command whose --help explains the mistake; empty for the program's own.
    const std::string& Command() const { return command_; }

  private:
    std::string command_;
};

// Throws UsageError. Every check that needs no file and no port happens here, so a wrong
// command line never touches the emulator.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// The format a FILE's name says: xhex for .hex, .ihx and .ihex, srec for .s19, .s28, .s37,
// .srec and .mot, bin for .bin, .rom, .img and .raw (any case); nothing for other names.
std::optional<std::uint8_t> FileTypeForName(const std::string& file);

// The word of a FileType: bin, hex, xhex or srec.
const char* FormatWord(std::uint8_t fileType);

}  // namespace tarvex::cli
