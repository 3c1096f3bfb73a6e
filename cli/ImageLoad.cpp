#include "cli/ImageLoad.h"

#include <algorithm>

#include "image/HexText.h"

namespace tarvex::cli {
namespace {

// Upper-case hex in at least `width` digits, more where the value needs them.
std::string Hex(std::uint64_t value, int width) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < width) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

struct Window {
    std::uint64_t first, last;
    int width;  // four digits while the range lies within 64 KiB, else five
    std::string Span(std::uint64_t from, std::uint64_t to) const {
        return from == to ? Hex(from, width) : Hex(from, width) + "-" + Hex(to, width);
    }
};

Window RangeInFile(const ImageModel& image) {
    const std::uint64_t first = std::uint64_t{image.HexBase} + image.BufferStart;
    const std::uint64_t last = std::uint64_t{image.HexBase} + image.BufferEnd;
    return {first, last, last <= 0xFFFF ? 4 : 5};
}

std::string RangeName(const ImageModel& image, std::uint16_t type, const Window& window) {
    const bool whole = image.BufferStart == 0 && image.BufferEnd == image.EpromEnd;
    return (whole ? "the " + std::to_string(type) + "'s " : std::string("the range ")) +
           window.Span(window.first, window.last);
}

// A base that puts every record of `extent` into the range: the extent's start rounded down
// to the type's size (where ROMs are decoded), else the one that puts it at the range's start.
std::optional<std::uint64_t> BaseThatFits(const AddressSpan& extent, const ImageModel& image) {
    const std::uint64_t size = std::uint64_t{image.EpromEnd} + 1;
    const auto fits = [&](std::uint64_t base) {
        return base + image.BufferStart <= extent.first && extent.last <= base + image.BufferEnd &&
               base + image.EpromEnd <= 0xFFFFFFFF;
    };
    const std::uint64_t aligned = extent.first - extent.first % size;
    if (fits(aligned)) {
        return aligned;
    }
    if (extent.first >= image.BufferStart && fits(extent.first - image.BufferStart)) {
        return extent.first - image.BufferStart;
    }
    return std::nullopt;
}

const char* RecordName(int type) {
    switch (type) {
        case 0x02:
            return "an extended segment address record (02)";
        case 0x03:
            return "a start segment address record (03)";
        case 0x04:
            return "an extended linear address record (04)";
        case 0x05:
            return "a start linear address record (05)";
        default:
            return nullptr;
    }
}

}  // namespace

std::string LoadFailureHint(const LoadReport& report, const ImageModel& image, std::uint16_t type,
                            const char* option) {
    using Failure = LoadReport::Failure;
    if (report.failure == Failure::RecordType && image.FileType == 1) {
        const char* record = RecordName(report.recordType);
        if (!record) {
            return {};
        }
        const std::string opt(option);
        return "line " + std::to_string(report.line) + " holds " + record +
               ", which plain Intel HEX (" + opt + " hex) does not have: " + opt +
               " xhex (the default for .hex) takes it";
    }
    if (report.failure != Failure::Below && report.failure != Failure::Above) {
        return {};
    }
    const Window window = RangeInFile(image);
    const std::string range = RangeName(image, type, window);
    const std::string what = image.BufferStart == 0 && image.BufferEnd == image.EpromEnd
                                 ? "one " + std::to_string(type)
                                 : std::string("the range");
    if (!report.extentKnown || !report.extent) {
        const AddressSpan& record = report.failedRecord;
        return "the record at " + window.Span(record.first, record.last) + " lies " +
               (report.failure == Failure::Below ? "below " : "above ") + range;
    }
    const AddressSpan& extent = *report.extent;
    const std::string records = window.Span(extent.first, extent.last);
    if (extent.last - extent.first > image.BufferEnd - image.BufferStart) {
        const AddressSpan& record = report.failedRecord;
        return "the record at " + window.Span(record.first, record.last) + " lies " +
               (report.failure == Failure::Below ? "below " : "above ") + range + "; records " +
               records + " do not fit " + what + ": --crop leaves out what lies outside";
    }
    const char* side = extent.last < window.first         ? "below"
                       : extent.first > window.last       ? "above"
                       : report.failure == Failure::Below ? "partly below"
                                                          : "partly above";
    std::string hint = "records " + records + " lie " + side + " " + range;
    if (const auto base = BaseThatFits(extent, image)) {
        const std::string text = Hex(*base, 4);
        hint += "; the ROM looks placed at " + text + ": try --hex-base " + text;
    }
    return hint;
}

std::string LeftOutNote(const LoadReport& report, const ImageModel& image) {
    if (report.leftOutBytes == 0) {
        return {};
    }
    constexpr std::size_t kListed = 4;
    const Window window = RangeInFile(image);
    std::string places;
    for (std::size_t i = 0; i < std::min(report.leftOut.size(), kListed); ++i) {
        places +=
            (i == 0 ? "" : ", ") + window.Span(report.leftOut[i].first, report.leftOut[i].last);
    }
    if (report.leftOut.size() > kListed) {
        const std::size_t more = report.leftOut.size() - kListed;
        places += " and " + std::to_string(more) + (more == 1 ? " more place" : " more places");
    }
    return "left out " + std::to_string(report.leftOutBytes) +
           (report.leftOutBytes == 1 ? " byte at " : " bytes at ") + places + " outside " +
           window.Span(window.first, window.last);
}

std::string PickedFormatNote(const std::optional<std::uint8_t>& textFormat) {
    if (!textFormat) {
        return "no HEX or S-record text, loaded as bin";
    }
    return *textFormat == 3 ? "S-record text, loaded as srec" : "Intel HEX text, loaded as xhex";
}

std::string TextAsBinaryComplaint(const std::string& name, std::uint8_t textFormat,
                                  const char* option) {
    const std::string opt(option);
    return name + " looks like " +
           (textFormat == 3
                ? "S-record text, not a binary image: give " + opt + " srec to load its records"
                : "Intel HEX text, not a binary image: give " + opt +
                      " xhex (or hex) to load its records") +
           ", or " + opt + " bin to load its characters as bytes";
}

}  // namespace tarvex::cli
