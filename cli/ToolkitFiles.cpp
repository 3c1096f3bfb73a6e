// The toolkit's files: the image a command loads, the file it saves, the trace beside them.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "cli/Files.h"
#include "cli/ImageLoad.h"
#include "cli/Toolkit.h"
#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/TextFormat.h"

namespace tarvex::cli {

// The trace is opened with the port and truncated then: it must not be a file the command
// reads or writes.
int Toolkit::CheckTrace() {
    const char* trace = std::getenv("TARVEX_TRACE");
    if (!trace || !*trace || invocation_.file.empty() || invocation_.file == "-") {
        return kExitSuccess;
    }
    struct stat traced {};
    struct stat file {};
    const bool same = stat(trace, &traced) == 0 && stat(invocation_.file.c_str(), &file) == 0
                          ? traced.st_dev == file.st_dev && traced.st_ino == file.st_ino
                          : std::filesystem::weakly_canonical(trace) ==
                                std::filesystem::weakly_canonical(invocation_.file);
    if (same) {
        return Fail(kExitUsage, "TARVEX_TRACE names " + File() + ", the file this command " +
                                    (invocation_.command == "read" ? "writes" : "reads") +
                                    ": choose another trace file");
    }
    return kExitSuccess;
}

int Toolkit::LoadImage() {
    return LoadFile(invocation_.file, invocation_.fileType, invocation_.formatFrom, "--format",
                    image_);
}

// Loads `file` into a fresh image, as the window would into an erased one: a failed load
// leaves nothing half-loaded behind for the emulator.
int Toolkit::LoadFile(const std::string& file, std::uint8_t fileType, FormatFrom formatFrom,
                      const char* option, std::unique_ptr<ImageModel>& into) {
    const EpromTypeInfo* type = FindEpromType(invocation_.type);
    into = std::make_unique<ImageModel>();
    ImageModel& image = *into;
    image.FillValue = 0xFF;
    image.SelectType(type->number, type->epromEnd);
    image.BufferStart = invocation_.start;
    image.BufferEnd = invocation_.end;
    image.HexBase = invocation_.hexBase;
    const std::string name = PrintableName(file);
    CommandFiles files;
    std::optional<std::string> head;
    if (formatFrom == FormatFrom::Content) {
        // Looked at from outside first, so that a FIFO is not opened for nothing.
        if (const std::string cause = InputFileProblem(file); !cause.empty()) {
            return Fail(kExitFileError, "cannot open " + name + ": " + cause);
        }
        head = files.Peek(file, kTextFormatProbe);
        if (!head) {
            if (Stopped()) {
                return kExitSuccess;  // a FIFO without a writer, given up on
            }
            const std::string cause = InputFileProblem(file);
            return Fail(kExitFileError,
                        "cannot read " + name + ": " + (cause.empty() ? "read error" : cause));
        }
        const auto text =
            TextFormatOf(reinterpret_cast<const std::uint8_t*>(head->data()), head->size());
        fileType = text.value_or(0);
        // Said once a file, not in every cycle of the edit loop.
        if (said_.insert(file).second) {
            host_.Note(name + ": " + PickedFormatNote(text));
        }
        if (fileType == 0 && (invocation_.hexBaseGiven || invocation_.crop)) {
            return Fail(kExitUsage, std::string(invocation_.crop ? "--crop" : "--hex-base") +
                                        " applies to HEX and S-record files, and " + name +
                                        " holds neither (give " + option + " to load it as one)");
        }
    }
    if (fileType != 0) {
        // Looked at from outside only, so that a pipe reaches the loader unread.
        if (!head) {
            if (const std::string cause = InputFileProblem(file); !cause.empty()) {
                return Fail(kExitFileError, "cannot open " + name + ": " + cause);
            }
        }
        image.FileType = fileType;
        AboutFile host(host_, name);
        FileLoader loader(image, host, files);
        loader.SetOptions({invocation_.crop, true});
        loader.LoadFileToBuffer(file);
        if (Stopped()) {
            return kExitSuccess;
        }
        if (image.ReadError) {
            // The loader has said what failed and where; this says what would cure it.
            const std::string hint =
                LoadFailureHint(loader.Report(), image, type->number, "--format");
            return hint.empty() ? kExitFileError : Fail(kExitFileError, name + ": " + hint);
        }
        if (const std::string note = LeftOutNote(loader.Report(), image); !note.empty()) {
            host_.Note(name + ": " + note);
        }
        return kExitSuccess;
    }
    FileLoader loader(image, host_, files);
    if (!loader.OpenImageFile(file)) {
        if (Stopped()) {
            return kExitSuccess;  // a FIFO without a writer, given up on
        }
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot open " + name + ": " + (cause.empty() ? "not a file name" : cause));
    }
    loader.ReadImage(invocation_.start, invocation_.end);
    if (Stopped()) {
        return kExitSuccess;
    }
    if (image.ReadError) {
        const std::string cause = InputFileProblem(file);
        return Fail(kExitFileError,
                    "cannot read " + name + ": " + (cause.empty() ? "read error" : cause));
    }
    if (files.BytesRead() == 0 && !invocation_.allowEmpty) {
        return Fail(kExitFileError,
                    name + " is empty (give --allow-empty to use the range filled with FF)");
    }
    if (formatFrom == FormatFrom::Name) {
        if (const auto text = TextFormatOf(&image.DataBuffer[invocation_.start],
                                           std::min<std::uint64_t>(files.BytesRead(), Size()))) {
            return Fail(kExitUsage, TextAsBinaryComplaint(name, *text, option));
        }
    }
    struct stat info {};
    if (file != "-" && stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size < Size()) {
            host_.Note(name + " has " + std::to_string(size) + " bytes; the rest of the " +
                       std::to_string(Size()) + "-byte range is FF");
        } else if (size > Size()) {
            host_.Note(name + " has " + std::to_string(size) + " bytes; only the first " +
                       std::to_string(Size()) + " fit the range");
        }
    }
    return kExitSuccess;
}

// Whether the writer goes as far as creating the file. What it refuses, it refuses before
// touching any file; knowing it before the port is opened spares a pointless read.
bool Toolkit::WriterAccepts() const {
    return invocation_.fileType == 0 ||
           (FileLoader::IsValidFileName(invocation_.file) &&
            !(invocation_.fileType == 1 &&
              std::uint64_t{invocation_.hexBase} + invocation_.end > 0xFFFF));
}

// Before any port access: a file that must not or cannot be written is found out at once.
int Toolkit::PrepareOutput() {
    if (WriterAccepts() && !output_.Open(OutputName(invocation_.file))) {
        if (Stopped()) {
            return kExitSuccess;
        }
        return Fail(kExitFileError, output_.Error());
    }
    return kExitSuccess;
}

int Toolkit::SaveImage() {
    model_->FileType = invocation_.fileType;
    model_->BufferStart = invocation_.start;
    model_->BufferEnd = invocation_.end;
    model_->HexBase = invocation_.hexBase;
    CommandFiles files(&output_, invocation_.file);
    AboutFile host(host_, File());
    FileWriter writer(*model_, host, files);
    writer.SetSparse(invocation_.sparse);
    writer.SaveBufferToFile(invocation_.file);
    if (!writer.SaveFailed()) {
        return kExitSuccess;
    }
    // The writer has said what failed; the system's cause, when there is one, adds why.
    return output_.Error().empty() ? kExitFileError : Fail(kExitFileError, output_.Error());
}

}  // namespace tarvex::cli
