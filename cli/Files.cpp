#include "cli/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvex::cli {

std::string InputFileProblem(const std::string& path) {
    if (path == "-") {
        return {};
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return std::strerror(EISDIR);
    }
#ifdef _WIN32
    // No FIFOs to block on here; whether the file opens is found out by opening it.
    const int descriptor = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        return std::strerror(errno);
    }
    _close(descriptor);
    return {};
#else
    if (S_ISFIFO(info.st_mode)) {
        return access(path.c_str(), R_OK) != 0 ? std::strerror(errno) : std::string();
    }
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return std::strerror(errno);
    }
    char byte = 0;
    const ssize_t got = read(descriptor, &byte, 1);
    const int readErrno = errno;
    close(descriptor);
    return got < 0 && readErrno != EAGAIN ? std::strerror(readErrno) : std::string();
#endif
}

std::string InputName(const std::string& word) {
    return word == "-" ? "/dev/stdin" : word;
}

std::string OutputName(const std::string& word) {
    return word == "-" ? "/dev/stdout" : word;
}

class CommandFiles::Input final : public InputFile {
  public:
    Input(std::unique_ptr<InputFile> real, std::uint64_t& count)
        : real_(std::move(real)), count_(count) {}
    IoResult Read(void* data, std::size_t size) override {
        const IoResult result = real_->Read(data, size);
        count_ += result.count;
        return result;
    }
    bool Close() override { return real_->Close(); }

  private:
    std::unique_ptr<InputFile> real_;
    std::uint64_t& count_;
};

class CommandFiles::Output final : public OutputFile {
  public:
    explicit Output(SafeOutputFile& file) : file_(file) {}
    IoResult Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    bool Close() override { return file_.Close(); }
    bool Commit() override { return file_.Commit(); }
    ~Output() override { file_.Discard(); }  // a no-op after Commit

  private:
    SafeOutputFile& file_;
};

// An opened file whose first bytes were read already.
class CommandFiles::Replay final : public InputFile {
  public:
    Replay(std::string head, std::unique_ptr<InputFile> rest)
        : head_(std::move(head)), rest_(std::move(rest)) {}
    IoResult Read(void* data, std::size_t size) override {
        const std::size_t first = std::min(size, head_.size() - served_);
        std::memcpy(data, head_.data() + served_, first);
        served_ += first;
        if (first == size) {
            return {first, false};
        }
        IoResult result = rest_->Read(static_cast<char*>(data) + first, size - first);
        result.count += first;
        return result;
    }
    bool Close() override { return rest_->Close(); }

  private:
    std::string head_;
    std::size_t served_ = 0;
    std::unique_ptr<InputFile> rest_;
};

std::optional<std::string> CommandFiles::Peek(const std::string& name, std::size_t size) {
    std::unique_ptr<InputFile> file = NativeFileSystem().OpenForReading(InputName(name));
    if (!file) {
        return std::nullopt;
    }
    std::string head(size, '\0');
    const IoResult result = file->Read(head.data(), size);
    if (result.error) {
        file->Close();
        return std::nullopt;
    }
    head.resize(result.count);
    peekedName_ = name;
    peeked_ = head;
    peekedFile_ = std::move(file);
    return head;
}

std::unique_ptr<InputFile> CommandFiles::OpenForReading(const std::string& name) {
    std::unique_ptr<InputFile> real;
    if (peekedFile_ && name == peekedName_) {
        real = std::make_unique<Replay>(std::move(peeked_), std::move(peekedFile_));
    } else {
        real = NativeFileSystem().OpenForReading(InputName(name));
    }
    return real ? std::make_unique<Input>(std::move(real), bytesRead_) : nullptr;
}

std::unique_ptr<OutputFile> CommandFiles::CreateOutput(const std::string& target) {
    // One file, prepared for one name: anything else would be created unchecked.
    if (!output_ || handedOut_ || target != target_ || !output_->IsOpen()) {
        return nullptr;
    }
    handedOut_ = true;
    return std::make_unique<Output>(*output_);
}

}  // namespace tarvex::cli
