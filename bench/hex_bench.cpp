// Intel HEX extended and Motorola S-records (S28): loading and saving a whole 27010 image,
// in bytes of text per second. The text lives in memory so that the figures are the parser's and
// the formatter's, not the disk's; LoadFromFile adds the page-cached file read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "image/FileLoader.h"
#include "image/FileWriter.h"

namespace tarvex {
namespace {

// One file held in memory: written by the writer, read by the loader.
class MemoryFile final : public FileSystem {
  public:
    std::string text;

    class Reader final : public InputFile {
      public:
        explicit Reader(const std::string& text) : text_(text) {}
        IoResult Read(void* data, std::size_t size) override {
            const std::size_t count = std::min(size, text_.size() - position_);
            std::memcpy(data, text_.data() + position_, count);
            position_ += count;
            return {count, false};
        }
        bool Close() override { return true; }

      private:
        const std::string& text_;
        std::size_t position_ = 0;
    };
    class Writer final : public OutputFile {
      public:
        explicit Writer(std::string& text) : text_(text) {}
        IoResult Write(const void* data, std::size_t size) override {
            text_.append(static_cast<const char*>(data), size);
            return {size, false};
        }
        bool Close() override { return true; }
        bool Commit() override { return true; }

      private:
        std::string& text_;
    };

    std::unique_ptr<InputFile> OpenForReading(const std::string&) override {
        return std::make_unique<Reader>(text);
    }
    std::unique_ptr<OutputFile> CreateOutput(const std::string&) override {
        text.clear();
        return std::make_unique<Writer>(text);
    }
};

std::unique_ptr<ImageModel> RandomImage(std::uint8_t fileType) {
    auto model = std::make_unique<ImageModel>();
    model->SelectType(27010, 0x1FFFF);
    std::mt19937 random(27010);
    for (auto& byte : model->DataBuffer) {
        byte = static_cast<std::uint8_t>(random());
    }
    model->FileType = fileType;
    return model;
}

void Save(benchmark::State& state, std::uint8_t fileType) {
    auto model = RandomImage(fileType);
    SilentHost host;
    MemoryFile file;
    file.text.reserve(400000);
    FileWriter writer(*model, host, file);
    for (auto _ : state) {
        writer.SaveBufferToFile("image.hex");
        benchmark::DoNotOptimize(file.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.text.size()));
    state.counters["text_bytes"] = static_cast<double>(file.text.size());
}
BENCHMARK_CAPTURE(Save, ExtendedHex, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Save, SRecords, 3)->Unit(benchmark::kMicrosecond);

void Load(benchmark::State& state, std::uint8_t fileType) {
    auto model = RandomImage(fileType);
    SilentHost host;
    MemoryFile file;
    FileWriter(*model, host, file).SaveBufferToFile("image.hex");
    FileLoader loader(*model, host, file);
    for (auto _ : state) {
        loader.LoadFileToBuffer("image.hex");
        if (model->ReadError) {
            state.SkipWithError("load failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.text.size()));
}
BENCHMARK_CAPTURE(Load, ExtendedHex, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Load, SRecords, 3)->Unit(benchmark::kMicrosecond);

void LoadFromFile(benchmark::State& state, std::uint8_t fileType) {
    auto model = RandomImage(fileType);
    SilentHost host;
    const std::string path =
        (std::filesystem::temp_directory_path() / "tarvex_hex_bench.hex").string();
    FileWriter(*model, host).SaveBufferToFile(path);
    const auto size = std::filesystem::file_size(path);
    FileLoader loader(*model, host);
    for (auto _ : state) {
        loader.LoadFileToBuffer(path);
        if (model->ReadError) {
            state.SkipWithError("load failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    std::remove(path.c_str());
}
BENCHMARK_CAPTURE(LoadFromFile, ExtendedHex, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LoadFromFile, SRecords, 3)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
