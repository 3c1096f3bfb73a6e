// libFuzzer target: any bytes as a HEX file, loaded plain and extended, and as an S-record file,
// into the whole image and a narrowed range: nothing outside the range may change, and the outcome must match the messages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "../support/RecordingHost.h"
#include "image/FileLoader.h"

namespace {

using namespace tarvex;
constexpr std::uint8_t kFill = 0xC5;

void LoadOnce(const std::string& name, std::uint8_t fileType, std::uint32_t start,
              std::uint32_t end, std::uint32_t hexBase = 0) {
    // One model and one loader for the whole run, as in the program.
    static ImageModel& model = *new ImageModel;
    static testing::RecordingHost host;
    static FileLoader loader(model, host);
    static const std::vector<std::uint8_t> fill(ImageModel::kBufferSize, kFill);
    std::memcpy(model.DataBuffer.data(), fill.data(), ImageModel::kBufferSize);
    model.BufferStart = start;
    model.BufferEnd = end;
    model.FileType = fileType;
    model.HexBase = hexBase;
    host.messages.clear();
    loader.LoadFileToBuffer(name);
    // memcmp keeps this check out of the coverage feedback (and fast).
    if (std::memcmp(model.DataBuffer.data(), fill.data(), start) != 0 ||
        std::memcmp(&model.DataBuffer[end + 1], fill.data(), ImageModel::kBufferSize - end - 1)) {
        std::abort();  // stored outside the range
    }
    const auto last =
        host.messages.empty() ? testing::RecordingHost::Message{} : host.messages.back();
    const bool good = host.messages.size() == 1 && last.kind == MessageKind::Information &&
                      last.text.rfind("Load range : ", 0) == 0;
    const bool failed = last.kind == MessageKind::Error && last.text == "File read error";
    if (model.ReadError ? !failed : !good) {
        std::abort();  // a failed load ends with this box; a good one shows its range only
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int file = ::memfd_create("fuzz.hex", 0);  // the input, as a file to open
    static const std::string name = "/proc/self/fd/" + std::to_string(file);
    if (::ftruncate(file, 0) != 0 || ::pwrite(file, data, size, 0) != ssize_t(size)) {
        std::abort();  // not the loader's fault, but the run cannot go on
    }
    LoadOnce(name, 1, 0, 0x1FFFF);
    LoadOnce(name, 2, 0, 0x1FFFF);
    LoadOnce(name, 2, 0x8000, 0x17FFF);
    LoadOnce(name, 3, 0, 0x1FFFF);
    LoadOnce(name, 3, 0x8000, 0x17FFF, 0xFFFE0000);  // S3 addresses up to FFFFFFFF
    return 0;
}
