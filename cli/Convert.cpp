#include "cli/Convert.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>

#include "batch/CommandNumber.h"
#include "cli/Files.h"
#include "host/Host.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/ImageModel.h"
#include "image/RangeEdit.h"
#include "image/SafeOutputFile.h"
#include "link/Emulator.h"

namespace tarvex::cli {
namespace {

constexpr int kSuccess = 0;
constexpr int kUsage = 2;
constexpr int kFailed = 4;

constexpr const char* kUsageText =
    "usage: tarvex convert INPUT OUTPUT --type T [--from bin|hex|xhex] [--to bin|hex|xhex]\n"
    "                      [--start A] [--end A] [--fill BYTE]\n"
    "  T         EPROM type: 2764, 27128, 27256, 27512 or 27010\n"
    "  --from    format of INPUT (default bin); --to: format of OUTPUT (default: --from)\n"
    "  A, BYTE   hexadecimal without prefix; range and fill default to the whole type, FF\n";

// Shows every message box as "Caption: text" on stderr, the way a terminal can.
class CaptionHost : public Host {
  public:
    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        std::cerr << MessageCaption(kind) << ": " << DisplayText(text) << '\n';
        return buttons == MessageButtons::YesNo ? MessageAnswer::No
               : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                : MessageAnswer::Cancel;
    }
};

std::optional<std::uint8_t> FileTypeOf(std::string_view format) {
    if (format == "bin") {
        return 0;
    }
    if (format == "hex") {
        return 1;
    }
    if (format == "xhex") {
        return 2;
    }
    return std::nullopt;
}

struct Arguments {
    std::vector<std::string> files;
    std::optional<std::string> type, from, to, start, end, fill;
};

int UsageError(const std::string& complaint) {
    std::cerr << "tarvex convert: " << complaint << '\n' << kUsageText;
    return kUsage;
}

// Fills `arguments`; an error text when the words do not form a command.
std::optional<std::string> Parse(const std::vector<std::string>& words, Arguments& arguments) {
    const std::pair<std::string_view, std::optional<std::string> Arguments::*> options[] = {
        {"--type", &Arguments::type},   {"--from", &Arguments::from}, {"--to", &Arguments::to},
        {"--start", &Arguments::start}, {"--end", &Arguments::end},   {"--fill", &Arguments::fill},
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            arguments.files.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string_view name = std::string_view(word).substr(0, equals);
        std::optional<std::string> Arguments::*member = nullptr;
        for (const auto& [optionName, optionMember] : options) {
            if (name == optionName) {
                member = optionMember;
            }
        }
        if (!member) {
            return "unknown option " + std::string(name);
        }
        if (equals != std::string::npos) {
            arguments.*member = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            arguments.*member = words[++i];
        } else {
            return std::string(name) + " needs a value";
        }
    }
    if (arguments.files.size() != 2) {
        return "expected INPUT and OUTPUT";
    }
    if (arguments.files[0].empty() || arguments.files[1].empty()) {
        return "file names must not be empty";
    }
    if (!arguments.type) {
        return "--type is required";
    }
    return std::nullopt;
}

// One range value through the Options window's check; shows its message when refused.
bool ApplyField(ImageModel& model, Host& host, RangeField field,
                const std::optional<std::string>& text) {
    if (!text || ApplyRangeField(model, field, *text)) {
        return true;
    }
    host.ShowMessage(MessageKind::Error, RangeFieldMessage(field), MessageButtons::Cancel);
    return false;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    for (const std::string& word : args) {
        if (word == "--help" || word == "-h") {
            std::cout << kUsageText;
            return kSuccess;
        }
    }
    Arguments arguments;
    if (const std::optional<std::string> complaint = Parse(args, arguments)) {
        return UsageError(*complaint);
    }
    const EpromTypeInfo* type = nullptr;
    std::int64_t number = 0;
    if (ParseCommandNumber(*arguments.type, number) && number > 0 && number <= 0xFFFF) {
        type = FindEpromType(static_cast<std::uint32_t>(number));
    }
    if (!type) {
        return UsageError("unknown EPROM type " + *arguments.type);
    }
    const std::optional<std::uint8_t> from = FileTypeOf(arguments.from.value_or("bin"));
    const std::optional<std::uint8_t> to = arguments.to ? FileTypeOf(*arguments.to) : from;
    if (!from || !to) {
        return UsageError("formats are bin, hex or xhex");
    }

    CaptionHost host;
    // The model is 128 KiB: keep it off the stack.
    const auto model = std::make_unique<ImageModel>();
    // The fill value takes effect at the type selection, as in the window.
    if (!ApplyField(*model, host, RangeField::FillValue, arguments.fill)) {
        return kUsage;
    }
    model->SelectType(type->number, type->epromEnd);
    // Start first: with the whole type selected, any valid pair passes in this order.
    if (!ApplyField(*model, host, RangeField::BufferStart, arguments.start) ||
        !ApplyField(*model, host, RangeField::BufferEnd, arguments.end)) {
        return kUsage;
    }

    const std::string& input = arguments.files[0];
    const std::string& output = arguments.files[1];
    // The window would say "Input file not found!" for any file it cannot open; a command
    // line says what is wrong with it.
    if (const std::string cause = InputFileProblem(input); !cause.empty()) {
        std::cerr << "tarvex: cannot open " << PrintableName(input) << ": " << cause << '\n';
        return kFailed;
    }
    CommandFiles files;
    model->FileType = *from;
    FileLoader loader(*model, host, files);
    loader.LoadFileToBuffer(input);
    if (model->ReadError) {
        return kFailed;
    }
    model->FileType = *to;
    // The output is prepared as late as this, so that a failed load leaves no trace of it;
    // a file the writer refuses by name or range is left to the writer's own message.
    SafeOutputFile file;
    const bool accepted = *to == 0 || (FileLoader::IsValidFileName(output) &&
                                       !(*to == 1 && model->BufferEnd > 0xFFFF));
    if (accepted && !file.Open(OutputName(output))) {
        std::cerr << "tarvex: " << file.Error() << '\n';
        return kFailed;
    }
    CommandFiles outputs(&file, output);
    FileWriter writer(*model, host, outputs);
    writer.SaveBufferToFile(output);
    if (writer.SaveFailed() && !file.Error().empty()) {
        std::cerr << "tarvex: " << file.Error() << '\n';
    }
    return writer.SaveFailed() ? kFailed : kSuccess;
}

}  // namespace tarvex::cli
