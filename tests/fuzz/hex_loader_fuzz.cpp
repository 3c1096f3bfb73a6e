// libFuzzer target: any bytes as an Intel HEX file, loaded plain and extended, into the whole
// 27010 image and into a narrowed range. Besides the sanitizers it checks what must hold for
// every input: nothing outside the range changes, and the outcome agrees with the messages.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "image/FileLoader.h"

namespace {

using namespace tarvex;

// The fuzzer's input as the only file there is.
class InputBytes final : public FileSystem {
  public:
    void Reset(const std::uint8_t* data, std::size_t size) {
        data_ = data;
        size_ = size;
    }

    class Reader final : public InputFile {
      public:
        Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
        IoResult Read(void* target, std::size_t count) override {
            count = std::min(count, size_ - position_);
            if (count > 0) {
                std::memcpy(target, data_ + position_, count);
            }
            position_ += count;
            return {count, false};
        }
        bool Close() override { return true; }

      private:
        const std::uint8_t* data_;
        std::size_t size_;
        std::size_t position_ = 0;
    };

    std::unique_ptr<InputFile> OpenForReading(const std::string&) override {
        return std::make_unique<Reader>(data_, size_);
    }
    std::unique_ptr<OutputFile> CreateTemporary(const std::string&, std::string&) override {
        return nullptr;
    }
    bool Replace(const std::string&, const std::string&) override { return false; }
    void Remove(const std::string&) override {}

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Keeps what it must know to judge the outcome: the number of boxes and the last one.
class JudgingHost final : public Host {
  public:
    MessageAnswer ShowMessage(MessageKind kind, const std::string& text, MessageButtons) override {
        ++count;
        lastKind = kind;
        last = text;
        return MessageAnswer::Cancel;
    }
    int count = 0;
    MessageKind lastKind = MessageKind::Error;
    std::string last;
};

constexpr std::uint8_t kFill = 0xC5;

// One model and one loader for the whole run, as in the program; only the file changes.
struct Rig {
    ImageModel model;
    JudgingHost host;
    InputBytes files;
    FileLoader loader{model, host, files};
};

void LoadOnce(Rig& rig, std::uint8_t fileType, std::uint32_t start, std::uint32_t end) {
    ImageModel& model = rig.model;
    // The part of a type selection that matters here, without its slow element-wise fill.
    std::memset(model.DataBuffer.data(), kFill, ImageModel::kBufferSize);
    model.BufferStart = start;
    model.BufferEnd = end;
    model.FileType = fileType;
    rig.host = JudgingHost();
    rig.loader.LoadFileToBuffer("fuzz.hex");

    const JudgingHost& host = rig.host;
    const auto* image = model.DataBuffer.data();
    // memcmp keeps this check out of the coverage feedback (and fast).
    static const auto* fill = [] {
        auto* block = new std::uint8_t[ImageModel::kBufferSize];
        std::memset(block, kFill, ImageModel::kBufferSize);
        return block;
    }();
    const std::size_t above = ImageModel::kBufferSize - end - 1;
    if (std::memcmp(image, fill, start) != 0 || std::memcmp(image + end + 1, fill, above) != 0) {
        std::abort();  // stored outside the range
    }
    if (model.ReadError) {
        if (host.last != "File read error" || host.lastKind != MessageKind::Error) {
            std::abort();  // a failed load always ends with this box
        }
    } else if (host.count != 1 || host.lastKind != MessageKind::Information ||
               host.last.rfind("Load range : ", 0) != 0) {
        std::abort();  // a good load shows its range and nothing else
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig* rig = [] {
        auto* made = new Rig;
        made->model.SelectType(27010, 0x1FFFF);
        return made;
    }();
    rig->files.Reset(data, size);
    LoadOnce(*rig, 1, 0, 0x1FFFF);
    LoadOnce(*rig, 2, 0, 0x1FFFF);
    LoadOnce(*rig, 2, 0x8000, 0x17FFF);
    return 0;
}
