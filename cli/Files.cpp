#include "cli/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace tarvex::cli {

std::string InputFileProblem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return std::strerror(EISDIR);
    }
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::strerror(errno);
    }
    char byte = 0;
    const ssize_t got = read(descriptor, &byte, 1);
    const int readErrno = errno;
    close(descriptor);
    return got < 0 ? std::strerror(readErrno) : std::string();
}

std::string InputPathProblem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return std::strerror(EISDIR);
    }
    if (access(path.c_str(), R_OK) != 0) {
        return std::strerror(errno);
    }
    return {};
}

SafeOutputFile::~SafeOutputFile() {
    Discard();
}

bool SafeOutputFile::Create(const std::string& path, std::string& error) {
    Discard();
    struct stat existing {};
    const bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    path_ = path;
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe (/dev/stdout, /dev/null) is written in place: renaming over
        // it would replace the device node.
        descriptor_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (descriptor_ < 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    struct stat link {};
    if (exists && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Replace the file the link points at, not the link.
        if (char* target = realpath(path.c_str(), nullptr)) {
            path_ = target;
            std::free(target);
        }
    }
    std::string pattern = path_ + ".tarvex-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    temporary_ = name.data();
    // mkostemp makes the file private; give it the mode the target has, or would get.
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(descriptor_, mode) != 0) {
        error = std::strerror(errno);
        Discard();
        return false;
    }
    return true;
}

bool SafeOutputFile::Commit(const std::uint8_t* bytes, std::size_t size, std::string& error) {
    std::size_t written = 0;
    if (Write(bytes, size, written, error) && Close(error) && Replace(error)) {
        return true;
    }
    Discard();
    return false;
}

bool SafeOutputFile::Write(const void* bytes, std::size_t size, std::size_t& written,
                           std::string& error) {
    written = 0;
    if (descriptor_ < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    while (written < size) {
        const ssize_t step = write(descriptor_, data + written, size - written);
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        written += static_cast<std::size_t>(step);
    }
    return true;
}

bool SafeOutputFile::Close(std::string& error) {
    if (descriptor_ < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    // The data must be on the disk before the rename makes it the file's contents; a device
    // or a pipe written in place has nothing to sync (and fsync fails on it).
    const bool synced = temporary_.empty() || fsync(descriptor_) == 0;
    const int syncErrno = errno;
    if (close(std::exchange(descriptor_, -1)) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!synced) {
        error = std::strerror(syncErrno);
        return false;
    }
    return true;
}

bool SafeOutputFile::Replace(std::string& error) {
    if (temporary_.empty()) {  // written in place
        return true;
    }
    if (rename(temporary_.c_str(), path_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}

void SafeOutputFile::Discard() {
    if (descriptor_ >= 0) {
        close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}

class PreparedOutput::Stream final : public OutputFile {
  public:
    explicit Stream(PreparedOutput& owner) : owner_(owner) {}

    IoResult Write(const void* data, std::size_t size) override {
        IoResult result;
        result.error = !owner_.file_.Write(data, size, result.count, owner_.error_);
        return result;
    }
    bool Close() override { return owner_.file_.Close(owner_.error_); }

  private:
    PreparedOutput& owner_;
};

std::unique_ptr<InputFile> PreparedOutput::OpenForReading(const std::string& name) {
    return NativeFileSystem().OpenForReading(name);
}

std::unique_ptr<OutputFile> PreparedOutput::CreateTemporary(const std::string& target,
                                                            std::string& temporaryName) {
    // One file, prepared for one name: anything else would be created unchecked.
    if (handedOut_ || target != target_ || !file_.IsOpen()) {
        return nullptr;
    }
    handedOut_ = true;
    temporaryName = target;
    return std::make_unique<Stream>(*this);
}

bool PreparedOutput::Replace(const std::string& /*temporaryName*/, const std::string& /*target*/) {
    return file_.Replace(error_);
}

void PreparedOutput::Remove(const std::string& /*name*/) {
    file_.Discard();
}

}  // namespace tarvex::cli
