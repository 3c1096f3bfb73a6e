#include "image/FileWriter.h"

#include <algorithm>
#include <vector>

#include "image/FileLoader.h"

namespace tarvex {
namespace {

constexpr std::uint32_t kImageChunk = 32768;
constexpr std::uint32_t kRecordBytes = 32;
// ':' + count, address, type, 32 data bytes and checksum as two digits each + CR LF; an S3
// record (type, count, four address bytes) is one character longer.
constexpr std::size_t kLongestLine = 2 + 2 * (5 + kRecordBytes + 1) + 2;
constexpr std::size_t kTextBlock = std::size_t{1} << 16;
constexpr char kDigits[] = "0123456789ABCDEF";

inline char* PutByte(char* out, unsigned value) {
    out[0] = kDigits[(value >> 4) & 0x0F];
    out[1] = kDigits[value & 0x0F];
    return out + 2;
}

// One record line: the bytes of count, address, type and data, then the checksum that
// makes them all sum to 0 modulo 256, then CR LF. Returns the end of the text.
char* PutRecord(char* out, std::uint32_t address, unsigned type, const std::uint8_t* data,
                std::uint32_t count) {
    const unsigned high = (address >> 8) & 0xFF;
    const unsigned low = address & 0xFF;
    unsigned sum = count + high + low + type;
    *out++ = ':';
    out = PutByte(out, count);
    out = PutByte(out, high);
    out = PutByte(out, low);
    out = PutByte(out, type);
    for (std::uint32_t i = 0; i < count; ++i) {
        sum += data[i];
        out = PutByte(out, data[i]);
    }
    out = PutByte(out, (256 - (sum & 0xFF)) & 0xFF);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// One S-record line: type, count, the address in `addressBytes` bytes, data, and the
// checksum that makes count, address and data sum to FFh, then CR LF.
char* PutSrec(char* out, unsigned type, std::uint32_t address, std::uint32_t addressBytes,
              const std::uint8_t* data, std::uint32_t count) {
    const std::uint32_t length = addressBytes + count + 1;
    unsigned sum = length;
    *out++ = 'S';
    *out++ = static_cast<char>('0' + type);
    out = PutByte(out, length);
    for (std::uint32_t i = addressBytes; i-- > 0;) {
        const unsigned byte = (address >> (8 * i)) & 0xFF;
        sum += byte;
        out = PutByte(out, byte);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        sum += data[i];
        out = PutByte(out, data[i]);
    }
    out = PutByte(out, ~sum & 0xFF);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

}  // namespace

// Collects the HEX text in large blocks so that a record costs no system call of its own.
class FileWriter::Output {
  public:
    explicit Output(OutputFile& file) : file_(file) {}

    OutputFile& File() { return file_; }

    // Space for one more line; flushes first when it would not fit. Null after an error.
    char* LineSpace() {
        if (text_.size() - used_ < kLongestLine && !Flush()) {
            return nullptr;
        }
        return text_.data() + used_;
    }
    void Commit(const char* end) { used_ = static_cast<std::size_t>(end - text_.data()); }

    bool Flush() {
        if (used_ == 0) {
            return true;
        }
        const IoResult result = file_.Write(text_.data(), used_);
        const bool complete = !result.error && result.count == used_;
        used_ = 0;
        return complete;
    }

  private:
    OutputFile& file_;
    std::vector<char> text_ = std::vector<char>(kTextBlock);
    std::size_t used_ = 0;
};

FileWriter::FileWriter(ImageModel& model, Host& host)
    : FileWriter(model, host, NativeFileSystem()) {}

FileWriter::FileWriter(ImageModel& model, Host& host, FileSystem& files)
    : model_(model), host_(host), files_(files) {}

void FileWriter::SaveBufferToFile(const std::string& name) {
    saveFailed_ = true;
    if (!FileLoader::IsValidFileName(name)) {
        if (!name.empty()) {
            ShowError("Invalid file name");
        }
        return;
    }
    ByteCount = 0;
    WriteError = false;
    if (model_.FileType > 3 || model_.BufferStart > model_.BufferEnd ||
        model_.BufferEnd >= ImageModel::kBufferSize) {
        return;
    }
    // Checked before anything is created: an end-of-file record alone must not take the
    // place of a file that was there.
    if (model_.FileType == 1 && model_.HexBase + model_.BufferEnd > 0xFFFF) {
        ShowError("Target address above FFFFh");
        return;
    }

    // Destroyed without Commit, the file leaves the target as it was.
    const std::unique_ptr<OutputFile> file = files_.CreateOutput(name);
    if (!file) {
        ShowError("File creation error");
        return;
    }
    Output output(*file);
    bool diskFull = false;
    if (model_.FileType == 0) {
        WriteBinary(output);
        diskFull = ByteCount != model_.BufferEnd - model_.BufferStart + 1;
    } else if (model_.FileType == 3) {
        WriteSrec(output);
    } else {
        WriteHex(output);
    }
    if (!file->Close()) {
        WriteError = true;
    }

    const bool replaced = !diskFull && !WriteError && file->Commit();
    if (diskFull) {
        ShowError("I/O error , insufficient disk space");
    }
    if (WriteError) {
        ShowError("File write error");
    } else if (!diskFull && !replaced) {
        // Complete, but it could not take the target's name.
        ShowError("File creation error");
    }
    saveFailed_ = !replaced;
}

void FileWriter::WriteBinary(Output& output) {
    std::uint32_t position = model_.BufferStart;
    const std::uint32_t last = model_.BufferEnd;
    for (;;) {
        const std::uint32_t chunk =
            last - position > kImageChunk - 1 ? kImageChunk : last - position + 1;
        const IoResult result = output.File().Write(model_.DataBuffer.data() + position, chunk);
        ByteCount += static_cast<std::uint32_t>(result.count);
        position += static_cast<std::uint32_t>(result.count);
        WriteError = result.error;
        if (position > last || result.count != chunk) {
            break;
        }
    }
}

// Sparse output: steps over the fill bytes ahead and says how many of the next `limit` bytes
// go into the record.
std::uint32_t FileWriter::SkipFill(std::uint32_t& position, std::uint32_t& target,
                                   std::uint32_t& remaining, std::uint32_t limit) const {
    if (!sparse_) {
        return limit;
    }
    const std::uint8_t* data = model_.DataBuffer.data();
    while (remaining > 0 && data[position] == model_.FillValue) {
        ++position;
        ++target;
        --remaining;
    }
    std::uint32_t length = 0;
    while (length < std::min(limit, remaining) && data[position + length] != model_.FillValue) {
        ++length;
    }
    return length;
}

void FileWriter::WriteHex(Output& output) {
    std::uint32_t segment = 0;
    std::uint32_t target = model_.HexBase + model_.BufferStart;
    std::uint32_t position = model_.BufferStart;
    std::uint32_t remaining = model_.BufferEnd - model_.BufferStart + 1;
    while (remaining > 0 && !WriteError) {
        SkipFill(position, target, remaining, kRecordBytes);
        if (remaining == 0) {
            break;
        }
        const std::uint32_t recordAddress = target & 0xFFFF;
        const std::uint32_t block = (target & 0xF0000) >> 4;
        if (block != segment) {
            segment = block;
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(segment >> 8),
                                           static_cast<std::uint8_t>(segment)};
            char* line = output.LineSpace();
            if (!line) {
                WriteError = true;
                break;
            }
            output.Commit(PutRecord(line, 0, 0x02, value, 2));
        }
        // Never across a 64 KiB boundary: the next block needs its own segment record.
        const std::uint32_t length =
            SkipFill(position, target, remaining,
                     std::min({remaining, kRecordBytes, std::uint32_t{0x10000} - recordAddress}));
        char* line = output.LineSpace();
        if (!line) {
            WriteError = true;
            break;
        }
        output.Commit(
            PutRecord(line, recordAddress, 0x00, model_.DataBuffer.data() + position, length));
        target += length;
        position += length;
        remaining -= length;
    }
    if (WriteError) {
        return;  // the temporary file is thrown away; nothing more to write into it
    }
    if (start_ && model_.FileType == 2) {
        const std::uint32_t value = start_->value;
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
        char* line = output.LineSpace();
        if (!line) {
            WriteError = true;
            return;
        }
        output.Commit(PutRecord(line, 0, start_->segment ? 0x03 : 0x05, bytes, 4));
    }
    char* line = output.LineSpace();
    if (!line) {
        WriteError = true;
        return;
    }
    output.Commit(PutRecord(line, 0, 0x01, nullptr, 0));
    if (!output.Flush()) {
        WriteError = true;
    }
}

void FileWriter::WriteSrec(Output& output) {
    std::uint32_t target = model_.HexBase + model_.BufferStart;
    const std::uint64_t last = std::uint64_t{model_.HexBase} + model_.BufferEnd;
    // The narrowest records that hold the last address; S3 only where a base asks for it.
    const std::uint32_t addressBytes = last <= 0xFFFF ? 2 : last <= 0xFFFFFF ? 3 : 4;
    const unsigned dataType = addressBytes - 1;
    std::uint32_t position = model_.BufferStart;
    std::uint32_t remaining = model_.BufferEnd - model_.BufferStart + 1;
    std::uint32_t records = 0;
    const auto put = [&](unsigned type, std::uint32_t address, std::uint32_t width,
                         const std::uint8_t* data, std::uint32_t count) {
        char* line = output.LineSpace();
        if (!line) {
            WriteError = true;
            return false;
        }
        output.Commit(PutSrec(line, type, address, width, data, count));
        return true;
    };
    if (!put(0, 0, 2, nullptr, 0)) {
        return;
    }
    while (remaining > 0) {
        const std::uint32_t length =
            SkipFill(position, target, remaining, std::min(remaining, kRecordBytes));
        if (remaining == 0) {
            break;
        }
        if (!put(dataType, target, addressBytes, model_.DataBuffer.data() + position, length)) {
            return;  // the temporary file is thrown away
        }
        ++records;
        target += length;
        position += length;
        remaining -= length;
    }
    const bool wideCount = records > 0xFFFF;
    // The end record as wide as the data records, or wider when the start address needs it.
    const std::uint32_t start = start_ ? start_->Linear() : 0;
    const std::uint32_t endBytes = std::max(addressBytes, start <= 0xFFFF     ? 2u
                                                          : start <= 0xFFFFFF ? 3u
                                                                              : 4u);
    if (!put(wideCount ? 6 : 5, records, wideCount ? 3 : 2, nullptr, 0) ||
        !put(11 - endBytes, start, endBytes, nullptr, 0)) {
        return;
    }
    if (!output.Flush()) {
        WriteError = true;
    }
}

void FileWriter::ShowError(const char* text) {
    host_.ShowMessage(MessageKind::Error, text, MessageButtons::Cancel);
}

}  // namespace tarvex
