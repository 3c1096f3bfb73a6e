#include "cli/Convert.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>

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

}  // namespace

int RunConvert(const ConvertInvocation& arguments, JsonEvents* events, std::uint64_t* bytes,
               bool quiet) {
    const EpromTypeInfo* type = FindEpromType(arguments.type);
    const std::uint8_t from = arguments.from.value_or(0);
    const std::uint8_t to = arguments.to.value_or(from);

    CaptionHost host(events, quiet);
    const auto say = [events](const std::string& text) {
        std::cerr << "tarvex: " << text << '\n';
        if (events) {
            events->Error(text);
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
    // The window would say "Input file not found!" for any file it cannot open; a command
    // line says what is wrong with it.
    if (const std::string cause = InputFileProblem(input); !cause.empty()) {
        say("cannot open " + PrintableName(input) + ": " + cause);
        return kFailed;
    }
    CommandFiles files;
    model->FileType = from;
    FileLoader loader(*model, host, files);
    loader.LoadFileToBuffer(input);
    if (model->ReadError) {
        return kFailed;
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
    writer.SaveBufferToFile(output);
    if (writer.SaveFailed() && !file.Error().empty()) {
        say(file.Error());
    }
    return writer.SaveFailed() ? kFailed : kSuccess;
}

}  // namespace tarvex::cli
