#include "image/FileLoader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "image/HexText.h"

namespace tarvex {
namespace {

constexpr std::uint32_t kImageChunk = 32768;
// ':' + count + address + type + 255 data bytes + checksum, two characters per byte.
constexpr std::size_t kLongestRecord = 11 + 2 * 255;
constexpr std::size_t kHexBlock = std::size_t{1} << 16;
constexpr char kEndOfText = 0x1A;

constexpr const char* kInvalidRecordType = "Invalid record type ";
constexpr const char* kBelowRange = "Load address below first data buffer address ";
constexpr const char* kAboveRange = "Load address above last data buffer address ";
constexpr const char* kRedefined = "Data buffer contents redefined at address ";

// Value of each character as a hex digit; 0xFF for every other character.
constexpr std::array<std::uint8_t, 256> kDigitValue = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (int c = 0; c < 10; ++c) {
        table['0' + c] = static_cast<std::uint8_t>(c);
    }
    for (int c = 0; c < 6; ++c) {
        table['A' + c] = static_cast<std::uint8_t>(10 + c);
        table['a' + c] = static_cast<std::uint8_t>(10 + c);
    }
    return table;
}();

// Two characters as one byte, or -1 when either is not a hex digit.
inline int HexPair(const char* text) {
    const unsigned high = kDigitValue[static_cast<unsigned char>(text[0])];
    const unsigned low = kDigitValue[static_cast<unsigned char>(text[1])];
    if ((high | low) > 0x0F) {
        return -1;
    }
    return static_cast<int>(high << 4 | low);
}

// The first CR, LF or 1Ah in data[from..limit), or limit. Every character of a record lies
// above 1Ah, so eight at a time are ruled out with one test.
std::size_t FindLineStop(const char* data, std::size_t from, std::size_t limit) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    while (limit - from >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data + from, sizeof word);
        // Nonzero when some byte is below 1Bh (the classic "has less than" word trick).
        if (((word - kOnes * (kEndOfText + 1)) & ~word & kHighBits) != 0) {
            break;
        }
        from += 8;
    }
    for (; from < limit; ++from) {
        const char c = data[from];
        if (c == '\r' || c == '\n' || c == kEndOfText) {
            break;
        }
    }
    return from;
}

// Five digits as always, or eight once a file base puts the range above FFFFFh: five would
// drop the high digits and name the wrong addresses.
std::string RangeAddress(std::uint32_t value, std::uint32_t high) {
    return high > 0xFFFFF ? HexWord(value >> 16) + HexWord(value & 0xFFFF) : HexAddress(value);
}

// Whether any bit first..first+count-1 of the map is set.
bool AnyBitSet(const std::uint8_t* map, std::uint32_t first, std::uint32_t count) {
    const std::uint32_t end = first + count;
    for (; first < end && (first & 7) != 0; ++first) {
        if (map[first >> 3] & (1u << (first & 7))) {
            return true;
        }
    }
    for (; end - first >= 8; first += 8) {
        if (map[first >> 3] != 0) {
            return true;
        }
    }
    for (; first < end; ++first) {
        if (map[first >> 3] & (1u << (first & 7))) {
            return true;
        }
    }
    return false;
}

void SetBits(std::uint8_t* map, std::uint32_t first, std::uint32_t count) {
    const std::uint32_t end = first + count;
    for (; first < end && (first & 7) != 0; ++first) {
        map[first >> 3] = static_cast<std::uint8_t>(map[first >> 3] | (1u << (first & 7)));
    }
    for (; end - first >= 8; first += 8) {
        map[first >> 3] = 0xFF;
    }
    for (; first < end; ++first) {
        map[first >> 3] = static_cast<std::uint8_t>(map[first >> 3] | (1u << (first & 7)));
    }
}

// Cuts a text file into lines. A line ends at CR, at LF or at CR LF; the file ends at its
// physical end or at the first 1Ah. A line longer than the longest record is cut off
// there, so a file without line ends never has to fit in memory.
class LineReader {
  public:
    LineReader(InputFile& file, std::vector<char>& buffer) : file_(file), buffer_(buffer) {}

    // Whether nothing but the end (or a 1Ah) follows; may read from the file.
    bool Ended() {
        if (begin_ == end_ && !atPhysicalEnd_) {
            Fill();
        }
        return begin_ == end_ || buffer_[begin_] == kEndOfText;
    }

    // The next line without its line end, valid until the next call. `tooLong` tells that
    // only its first kLongestRecord + 1 characters were looked at.
    std::string_view NextLine(bool& tooLong) {
        tooLong = false;
        std::size_t scanned = 0;
        for (;;) {
            const char* data = buffer_.data();
            const std::size_t limit = std::min(end_, begin_ + kLongestRecord + 1);
            const std::size_t stop = FindLineStop(data, begin_ + scanned, limit);
            scanned = stop - begin_;
            if (stop < limit) {
                return EndLineAt(stop, scanned);
            }
            if (scanned > kLongestRecord) {
                tooLong = true;
                begin_ = stop;
                return {data + stop - scanned, scanned};
            }
            if (atPhysicalEnd_) {
                begin_ = end_;
                return {data + end_ - scanned, scanned};
            }
            Fill();
        }
    }

    bool Failed() const { return error_; }

  private:
    std::string_view EndLineAt(std::size_t stop, std::size_t length) {
        if (buffer_[stop] == kEndOfText) {
            begin_ = stop;  // left for Ended()
            return {buffer_.data() + stop - length, length};
        }
        if (buffer_[stop] == '\r' && stop + 1 == end_ && !atPhysicalEnd_) {
            Fill();  // an LF may follow in the next block
            stop = begin_ + length;
        }
        const char* data = buffer_.data();
        const bool crLf = data[stop] == '\r' && stop + 1 < end_ && data[stop + 1] == '\n';
        begin_ = stop + (crLf ? 2 : 1);
        return {data + stop - length, length};
    }

    // Keeps the unread rest (at most one cut line) and reads one block behind it.
    void Fill() {
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        const std::size_t room = buffer_.size() - end_;
        const IoResult result = file_.Read(buffer_.data() + end_, room);
        end_ += result.count;
        if (result.error) {
            error_ = true;
            atPhysicalEnd_ = true;
        } else if (result.count < room) {
            atPhysicalEnd_ = true;
        }
    }

    InputFile& file_;
    std::vector<char>& buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atPhysicalEnd_ = false;
    bool error_ = false;
};

}  // namespace

struct FileLoader::Impl {
    std::unique_ptr<InputFile> image;  // opened by OpenImageFile for ReadImage
    // One bit per buffer index: set once the file has supplied that byte.
    std::array<std::uint8_t, ImageModel::kBufferSize / 8> OverlapMap{};
    std::vector<char> lineBuffer = std::vector<char>(kHexBlock + kLongestRecord + 2);
};

struct FileLoader::HexLoad {
    std::uint32_t ExtSegment = 0;
    std::uint32_t ExtLinear = 0;  // already shifted left by 16
    std::uint32_t loadLow = 0xFFFFFFFF;
    std::uint32_t loadHigh = 0;
    bool eofSeen = false;
    bool dataSeen = false;
    std::uint64_t dataRecords = 0;  // S1/S2/S3 records so far, for S5/S6 counts
    std::string pendingMessage;
    // Reading on after a failure only to learn where the records lie: nothing is stored.
    bool surveying = false;
};

FileLoader::FileLoader(ImageModel& model, Host& host)
    : FileLoader(model, host, NativeFileSystem()) {}

FileLoader::FileLoader(ImageModel& model, Host& host, FileSystem& files)
    : model_(model), host_(host), files_(files), impl_(std::make_unique<Impl>()) {}

FileLoader::~FileLoader() = default;

bool FileLoader::IsValidFileName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    static constexpr std::array<std::string_view, 11> kDeviceNames{
        "PRN", "LPT1", "LPT2", "LPT3", "AUX", "COM1", "COM2", "COM3", "COM4", "NUL", "CON"};
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return std::find(kDeviceNames.begin(), kDeviceNames.end(), upper) == kDeviceNames.end();
}

bool FileLoader::CanOpenInputFile(const std::string& name) {
    return CanOpenInputFile(name, NativeFileSystem());
}

bool FileLoader::CanOpenInputFile(const std::string& name, FileSystem& files) {
    if (name.empty()) {
        return false;
    }
    const std::unique_ptr<InputFile> file = files.OpenForReading(name);
    if (!file) {
        return false;
    }
    file->Close();
    return true;
}

bool FileLoader::OpenImageFile(const std::string& name) {
    impl_->image = files_.OpenForReading(name);
    return impl_->image != nullptr;
}

void FileLoader::ReadImage(std::uint32_t first, std::uint32_t last) {
    model_.ReadError = false;
    const std::unique_ptr<InputFile> file = std::move(impl_->image);
    if (!file) {
        model_.ReadError = true;
        return;
    }
    last = std::min<std::uint32_t>(last, ImageModel::kBufferSize - 1);
    std::uint32_t position = first;
    while (position <= last) {
        const std::uint32_t chunk =
            last - position > kImageChunk - 1 ? kImageChunk : last - position + 1;
        const IoResult result = file->Read(model_.DataBuffer.data() + position, chunk);
        position += static_cast<std::uint32_t>(result.count);
        model_.ReadError = result.error;
        if (result.count != chunk) {
            break;
        }
    }
    if (!file->Close()) {
        model_.ReadError = true;
    }
}

void FileLoader::LoadFileToBuffer(const std::string& name) {
    if (!IsValidFileName(name)) {
        if (!name.empty()) {
            model_.ReadError = true;
            ShowError("Invalid file name");
        }
        return;
    }
    switch (model_.FileType) {
        case 0:
            LoadImageFile(name);
            break;
        case 1:
        case 2:
        case 3:
            LoadHexFile(name);
            break;
        default:
            break;
    }
}

void FileLoader::LoadImageFile(const std::string& name) {
    if (!OpenImageFile(name)) {
        model_.ReadError = true;
        ShowError("File not found");
        return;
    }
    ReadImage(model_.BufferStart, model_.BufferEnd);
    if (model_.ReadError) {
        ShowError("File read error");
    }
}

std::unique_ptr<InputFile> FileLoader::OpenHexFile(const std::string& name) {
    return files_.OpenForReading(name);
}

void FileLoader::LoadHexFile(const std::string& name) {
    const std::unique_ptr<InputFile> file = OpenHexFile(name);
    if (!file) {
        model_.ReadError = true;
        ShowError("File not found");
        return;
    }
    HexLoad load;
    impl_->OverlapMap.fill(0);
    model_.ReadError = false;
    report_ = LoadReport{};

    LineReader reader(*file, impl_->lineBuffer);
    // Wide enough for any file: a 27010 written one byte per record already has 131074 lines.
    std::uint64_t lineNumber = 0;
    bool recordValid = true;
    bool ended = false;
    while (recordValid && !load.eofSeen) {
        ended = reader.Ended();
        if (ended) {
            break;
        }
        bool tooLong = false;
        const std::string_view line = reader.NextLine(tooLong);
        if (reader.Failed()) {
            break;
        }
        ++lineNumber;
        // A line past the longest record fails the length rule whatever else it holds.
        recordValid = !tooLong && (model_.FileType == 3 ? ParseSrecRecord(line, load)
                                                        : ParseHexRecord(line, load));
    }
    if (recordValid && load.eofSeen && !reader.Failed()) {
        ended = reader.Ended();
    }
    const bool readFailed = reader.Failed();
    if (!recordValid && !readFailed) {
        using Failure = LoadReport::Failure;
        report_.line = lineNumber;
        report_.failure = load.pendingMessage == kBelowRange          ? Failure::Below
                          : load.pendingMessage == kAboveRange        ? Failure::Above
                          : load.pendingMessage == kInvalidRecordType ? Failure::RecordType
                                                                      : Failure::Other;
    }
    const std::string reason =
        load.pendingMessage.empty() ? "Invalid file structure " : load.pendingMessage;
    if (options_.survey && (report_.failure == LoadReport::Failure::Below ||
                            report_.failure == LoadReport::Failure::Above)) {
        load.surveying = true;
        bool complete = true;
        while (!load.eofSeen && !reader.Ended()) {
            bool tooLong = false;
            const std::string_view line = reader.NextLine(tooLong);
            if (reader.Failed() || tooLong ||
                !(model_.FileType == 3 ? ParseSrecRecord(line, load)
                                       : ParseHexRecord(line, load))) {
                complete = false;
                break;
            }
        }
        report_.extentKnown = complete;
    } else if (recordValid && !readFailed) {
        report_.extentKnown = true;
    }

    if (readFailed) {
        model_.ReadError = true;
    } else if (!recordValid) {
        model_.ReadError = true;
        ShowError(reason + ", line #" + std::to_string(lineNumber));
    } else {
        // S-record files may end without a termination record: srec_cat writes none when
        // its input has no start address.
        if (!load.eofSeen && model_.FileType != 3) {
            model_.ReadError = true;
            ShowError("No EOF record found");
        } else if (!ended) {
            model_.ReadError = true;
            ShowError("Data after EOF record");
        }
        if (load.dataSeen) {
            host_.ShowMessage(MessageKind::Information,
                              "Load range : " + RangeAddress(load.loadLow, load.loadHigh) + "..." +
                                  RangeAddress(load.loadHigh, load.loadHigh),
                              MessageButtons::Ok);
        } else {
            model_.ReadError = true;
            ShowError("No data found");
        }
    }
    if (!file->Close()) {
        model_.ReadError = true;
    }
    if (model_.ReadError) {
        ShowError("File read error");
    }
}

bool FileLoader::ParseHexRecord(std::string_view line, HexLoad& load) {
    const std::size_t length = line.size();
    const char* text = line.data();
    if (length < 11 || text[0] != ':') {
        return false;
    }
    const int count = HexPair(text + 1);
    if (count < 0) {
        return false;
    }
    const auto n = static_cast<std::uint32_t>(count);
    if (length != 11 + 2 * std::size_t{n}) {
        return false;
    }
    const int addressHigh = HexPair(text + 3);
    const int addressLow = HexPair(text + 5);
    if (addressHigh < 0 || addressLow < 0) {
        return false;
    }
    const int type = HexPair(text + 7);
    if (type < 0) {
        load.pendingMessage = kInvalidRecordType;
        return false;
    }
    report_.recordType = type;
    const auto address = static_cast<std::uint32_t>(addressHigh << 8 | addressLow);
    unsigned sum = n + static_cast<unsigned>(addressHigh + addressLow + type);
    const char* checksumField = text + 9 + 2 * n;

    if (type == 0x01) {
        const int checksum = HexPair(checksumField);
        if (checksum < 0 || ((sum + static_cast<unsigned>(checksum)) & 0xFF) != 0 || n != 0 ||
            address != 0) {
            return false;
        }
        load.eofSeen = true;
        return true;
    }
    if (type == 0x02 || type == 0x04) {
        if (model_.FileType != 2) {
            load.pendingMessage = kInvalidRecordType;
            return false;
        }
        // Only a record of two data bytes holds a value; any other count fails anyway, and
        // looking at positions 10-13 of a shorter one would read past its end.
        if (n != 2) {
            return false;
        }
        const int valueHigh = HexPair(text + 9);
        const int valueLow = HexPair(text + 11);
        const int checksum = HexPair(checksumField);
        if (valueHigh < 0 || valueLow < 0 || checksum < 0) {
            return false;
        }
        sum += static_cast<unsigned>(valueHigh + valueLow + checksum);
        if ((sum & 0xFF) != 0 || address != 0) {
            return false;
        }
        const auto value = static_cast<std::uint32_t>(valueHigh << 8 | valueLow);
        if (type == 0x02) {
            load.ExtSegment = value;
        } else {
            load.ExtLinear = value << 16;
        }
        return true;
    }
    if (type == 0x03 || type == 0x05) {
        // Start segment / start linear address: the entry point toolchains append. It means
        // nothing to an EPROM image, but refusing it would refuse their files.
        if (model_.FileType != 2) {
            load.pendingMessage = kInvalidRecordType;
            return false;
        }
        if (n != 4 || address != 0) {
            return false;
        }
        std::uint32_t start = 0;
        for (std::uint32_t i = 0; i <= n; ++i) {  // four value bytes and the checksum
            const int value = HexPair(text + 9 + 2 * i);
            if (value < 0) {
                return false;
            }
            sum += static_cast<unsigned>(value);
            start = i < n ? start << 8 | static_cast<std::uint32_t>(value) : start;
        }
        if ((sum & 0xFF) != 0) {
            return false;
        }
        report_.start = StartAddress{type == 0x03, start};
        return true;
    }
    if (type != 0x00) {
        load.pendingMessage = kInvalidRecordType;
        return false;
    }

    // 64-bit so that no extended address wraps around 4 GiB back into the buffer.
    const std::int64_t fileAddress =
        std::int64_t{load.ExtLinear} + std::int64_t{load.ExtSegment} * 16 + address;
    if (!StoreData(fileAddress, text + 9, n, sum, load)) {
        return false;
    }
    const int checksum = HexPair(checksumField);
    return checksum >= 0 && ((sum + static_cast<unsigned>(checksum)) & 0xFF) == 0;
}

bool FileLoader::ParseSrecRecord(std::string_view line, HexLoad& load) {
    const std::size_t length = line.size();
    const char* text = line.data();
    if (length < 4 || text[0] != 'S') {
        return false;
    }
    // Address bytes of S0..S9; 0 for S4 and anything that is no record type.
    static constexpr std::array<std::uint32_t, 10> kAddressBytes{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const int type = text[1] - '0';
    if (type < 0 || type > 9 || kAddressBytes[static_cast<std::size_t>(type)] == 0) {
        load.pendingMessage = kInvalidRecordType;
        return false;
    }
    const std::uint32_t addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
    const int count = HexPair(text + 2);
    if (count < 0) {
        return false;
    }
    const auto n = static_cast<std::uint32_t>(count);
    // The count covers address, data and checksum.
    if (length != 4 + 2 * std::size_t{n} || n < addressBytes + 1) {
        return false;
    }
    unsigned sum = n;
    std::uint32_t address = 0;
    for (std::uint32_t i = 0; i < addressBytes; ++i) {
        const int value = HexPair(text + 4 + 2 * i);
        if (value < 0) {
            return false;
        }
        sum += static_cast<unsigned>(value);
        address = address << 8 | static_cast<std::uint32_t>(value);
    }
    const std::uint32_t dataBytes = n - addressBytes - 1;
    const char* digits = text + 4 + 2 * addressBytes;
    const char* checksumField = digits + 2 * dataBytes;
    // The checksum is the one's complement of the byte sum: with it, the sum is FFh.
    const auto checksumFits = [&] {
        const int checksum = HexPair(checksumField);
        return checksum >= 0 && ((sum + static_cast<unsigned>(checksum)) & 0xFF) == 0xFF;
    };
    const auto sumDigits = [&] {
        for (std::uint32_t i = 0; i < dataBytes; ++i) {
            const int value = HexPair(digits + 2 * i);
            if (value < 0) {
                return false;
            }
            sum += static_cast<unsigned>(value);
        }
        return true;
    };

    if (type >= 1 && type <= 3) {
        if (!StoreData(address, digits, dataBytes, sum, load) || !checksumFits()) {
            return false;
        }
        ++load.dataRecords;
        return true;
    }
    if (!sumDigits() || !checksumFits()) {
        return false;
    }
    if (type == 5 || type == 6) {
        // A count record carries no data and must match the data records before it.
        // (A survey has not counted the record that failed.)
        return dataBytes == 0 && (address == load.dataRecords || load.surveying);
    }
    if (type >= 7) {
        // The start address means nothing to an EPROM image.
        if (dataBytes != 0) {
            return false;
        }
        report_.start = StartAddress{false, address};
        load.eofSeen = true;
    }
    return true;  // S0: a header, whatever it says
}

bool FileLoader::StoreData(std::int64_t fileAddress, const char* digits, std::uint32_t n,
                           unsigned& sum, HexLoad& load) {
    const std::int64_t first = fileAddress - std::int64_t{model_.HexBase};
    const std::int64_t rangeStart = model_.BufferStart;
    const std::int64_t rangeEnd =
        std::min<std::int64_t>(model_.BufferEnd, ImageModel::kBufferSize - 1);
    const auto fileFirst = static_cast<std::uint64_t>(fileAddress);
    if (n > 0) {
        const std::uint64_t fileLast = fileFirst + n - 1;
        report_.extent = report_.extent ? AddressSpan{std::min(report_.extent->first, fileFirst),
                                                      std::max(report_.extent->last, fileLast)}
                                        : AddressSpan{fileFirst, fileLast};
    }
    // Bytes that are not stored still count in the checksum.
    const auto sumDigits = [&](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t i = from; i < to; ++i) {
            const int value = HexPair(digits + 2 * i);
            if (value < 0) {
                return false;
            }
            sum += static_cast<unsigned>(value);
        }
        return true;
    };
    if (load.surveying) {
        return sumDigits(0, n);
    }
    if (options_.crop) {
        if (n == 0) {
            return true;  // nothing to store, nothing to leave out
        }
        const std::int64_t low = std::max(first, rangeStart);
        const std::int64_t high = std::min<std::int64_t>(first + n - 1, rangeEnd);
        if (low > high) {
            LeaveOut(fileFirst, fileFirst + n - 1);
            return sumDigits(0, n);
        }
        const auto head = static_cast<std::uint32_t>(low - first);
        const auto kept = static_cast<std::uint32_t>(high - low + 1);
        if (!sumDigits(0, head) || !sumDigits(head + kept, n)) {
            return false;
        }
        if (head > 0) {
            LeaveOut(fileFirst, fileFirst + head - 1);
        }
        if (!StoreInRange(low, digits + 2 * head, kept, sum, load)) {
            return false;
        }
        if (head + kept < n) {
            LeaveOut(fileFirst + head + kept, fileFirst + n - 1);
        }
        return true;
    }
    if (first < rangeStart || first + n - 1 > rangeEnd) {
        load.pendingMessage = first < rangeStart ? kBelowRange : kAboveRange;
        report_.failedRecord = {fileFirst, fileFirst + (n > 0 ? n - 1 : 0)};
        return false;
    }
    return StoreInRange(first, digits, n, sum, load);
}

void FileLoader::LeaveOut(std::uint64_t first, std::uint64_t last) {
    report_.leftOutBytes += last - first + 1;
    if (!report_.leftOut.empty() && report_.leftOut.back().last + 1 == first) {
        report_.leftOut.back().last = last;
    } else {
        report_.leftOut.push_back({first, last});
    }
}

bool FileLoader::StoreInRange(std::int64_t first, const char* digits, std::uint32_t n,
                              unsigned& sum, HexLoad& load) {
    const auto index = static_cast<std::uint32_t>(first);
    std::uint8_t* target = model_.DataBuffer.data() + index;
    std::uint8_t* overlap = impl_->OverlapMap.data();
    // The usual record supplies only new bytes: its bits are tested and set in one go. Only
    // a record that redefines a byte walks the byte-by-byte order below, which decides how
    // much of it is stored before it fails.
    if (!AnyBitSet(overlap, index, n)) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const int value = HexPair(digits + 2 * i);
            if (value < 0) {
                return false;
            }
            sum += static_cast<unsigned>(value);
            target[i] = static_cast<std::uint8_t>(value);
        }
        SetBits(overlap, index, n);
    } else {
        for (std::uint32_t i = 0; i < n; ++i) {
            const int value = HexPair(digits + 2 * i);
            if (value < 0) {
                return false;
            }
            sum += static_cast<unsigned>(value);
            target[i] = static_cast<std::uint8_t>(value);
            const std::uint32_t at = index + i;
            const auto bit = static_cast<std::uint8_t>(1u << (at & 7));
            if (overlap[at >> 3] & bit) {
                // Five digits once the index no longer fits in four.
                load.pendingMessage = kRedefined + (at > 0xFFFF ? HexAddress(at) : HexWord(at));
                return false;
            }
            overlap[at >> 3] |= bit;
        }
    }
    // A record without bytes supplies nothing: it neither widens the range nor counts as data.
    if (n > 0) {
        load.dataSeen = true;
        const std::uint32_t low = index + model_.HexBase;
        load.loadLow = std::min(load.loadLow, low);
        load.loadHigh = std::max(load.loadHigh, low + n - 1);
    }
    return true;
}

void FileLoader::ShowError(const std::string& text) {
    host_.ShowMessage(MessageKind::Error, text, MessageButtons::Cancel);
}

}  // namespace tarvex
