#include "image/SafeOutputFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarvex {
namespace {

#ifdef _WIN32
// The CRT's names; descriptors are opened binary, so no byte is ever translated.
int SysWrite(int descriptor, const char* data, std::size_t size) {
    return _write(descriptor, data, static_cast<unsigned>(size));
}
int SysClose(int descriptor) {
    return _close(descriptor);
}
int SysUnlink(const char* path) {
    return _unlink(path);
}
int SysSync(int descriptor) {
    return _commit(descriptor);
}
int SysTruncate(int descriptor, std::size_t size) {
    return _chsize_s(descriptor, static_cast<long long>(size)) == 0 ? 0 : -1;
}
long long SysSeekStart(int descriptor) {
    return _lseeki64(descriptor, 0, SEEK_SET);
}
unsigned ProcessNumber() {
    return static_cast<unsigned>(GetCurrentProcessId());
}
#else
auto SysWrite(int descriptor, const char* data, std::size_t size) {
    return ::write(descriptor, data, size);
}
int SysClose(int descriptor) {
    return ::close(descriptor);
}
int SysUnlink(const char* path) {
    return ::unlink(path);
}
int SysSync(int descriptor) {
    return ::fsync(descriptor);
}
int SysTruncate(int descriptor, std::size_t size) {
    return ::ftruncate(descriptor, static_cast<off_t>(size));
}
off_t SysSeekStart(int descriptor) {
    return ::lseek(descriptor, 0, SEEK_SET);
}
unsigned ProcessNumber() {
    return static_cast<unsigned>(::getpid());
}
#endif

// The temporary files of the saves in progress, for a signal handler to remove: plain
// arrays and atomic flags only, nothing that allocates or locks.
constexpr std::size_t kSlots = 8;
constexpr std::size_t kLongestPath = 4096;
enum SlotState : int { kFree, kFilling, kReady };
std::array<std::array<char, kLongestPath>, kSlots> temporaryPaths;
std::array<std::atomic<int>, kSlots> temporaryStates;

int RegisterTemporary(const std::string& path) {
    if (path.size() >= kLongestPath) {
        return -1;
    }
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        int expected = kFree;
        if (temporaryStates[slot].compare_exchange_strong(expected, kFilling)) {
            std::memcpy(temporaryPaths[slot].data(), path.c_str(), path.size() + 1);
            temporaryStates[slot] = kReady;
            return static_cast<int>(slot);
        }
    }
    return -1;
}

void ForgetTemporary(int& slot) {
    if (slot >= 0) {
        temporaryStates[static_cast<std::size_t>(slot)] = kFree;
        slot = -1;
    }
}

std::string Folder(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all of `size` bytes; a signal may cut a write to a pipe or a device short, and a
// program that was told to stop must not wait on a reader that never comes.
bool WriteAll(int descriptor, const char* data, std::size_t size, bool retryOnSignal,
              std::size_t& written) {
    written = 0;
    while (written < size) {
        const auto step = SysWrite(descriptor, data + written, size - written);
        if (step < 0 && errno == EINTR && retryOnSignal) {
            continue;
        }
        if (step <= 0) {
            if (step == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        written += static_cast<std::size_t>(step);
    }
    return true;
}

// A short name (any name the target may have still leaves room) that differs from run to
// run and call to call; created O_EXCL, so a clash or a planted file is never reused.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(ProcessNumber()) << 32) ^ (counter.fetch_add(1) << 48);
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + "/.tarvex-";
    for (int i = 0; i < 8; ++i) {
        name += kLetters[(seed >> (16 + 4 * i)) % 36];
    }
    return name;
}

}  // namespace

void RemoveTemporaryFilesNow() {
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        if (temporaryStates[slot].load() == kReady) {
            SysUnlink(temporaryPaths[slot].data());
        }
    }
}

std::string PrintableName(std::string_view name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

SafeOutputFile::~SafeOutputFile() {
    Discard();
}

bool SafeOutputFile::Fail(const std::string& what, int error) {
    error_ = "cannot write " + PrintableName(name_) + ": " + what;
    if (error != 0) {
        error_ += std::string(what.empty() ? "" : " (") + std::strerror(error) +
                  (what.empty() ? "" : ")");
    }
    Discard();
    return false;
}

#ifdef _WIN32
bool SafeOutputFile::Open(const std::string& target) {
    Discard();
    error_.clear();
    held_.clear();
    closed_ = false;
    name_ = target;
    if (target.empty()) {
        return Fail("", ENOENT);
    }
    if (const std::optional<int> descriptor = DescriptorOf(target)) {
        descriptor_ = _dup(*descriptor);
        if (descriptor_ < 0) {
            return Fail("", errno);
        }
        _setmode(descriptor_, _O_BINARY);
        kind_ = Kind::InPlace;
        path_ = target;
        return true;
    }
    path_ = target;
    struct _stat64 info {};
    if (_stat64(path_.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            return Fail("", errno);
        }
        return OpenTemporary(Folder(path_), false, 0, 0, 0);
    }
    if ((info.st_mode & _S_IFMT) == _S_IFDIR) {
        return Fail("", EISDIR);
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        // NUL, CON and the like are written where they are.
        descriptor_ = _open(path_.c_str(), _O_WRONLY | _O_BINARY);
        if (descriptor_ < 0) {
            return Fail("", errno);
        }
        kind_ = Kind::InPlace;
        return true;
    }
    if ((info.st_mode & _S_IWRITE) == 0) {
        return Fail("write-protected", 0);
    }
    return OpenTemporary(Folder(path_), true, 0, 0, 0);
}

bool SafeOutputFile::OpenTemporary(const std::string& folder, bool, unsigned, unsigned, unsigned) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = TemporaryName(folder);
        descriptor_ =
            _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (descriptor_ < 0 && errno == EEXIST) {
            continue;
        }
        if (descriptor_ < 0) {
            const int error = errno;
            return Fail("cannot create a temporary file in its folder " + PrintableName(folder),
                        error);
        }
        temporary_ = name;
        slot_ = RegisterTemporary(temporary_);
        kind_ = Kind::Replace;
        return true;
    }
    return Fail("cannot create a temporary file in its folder " + PrintableName(folder), EEXIST);
}

#else
bool SafeOutputFile::Open(const std::string& target) {
    Discard();
    error_.clear();
    held_.clear();
    closed_ = false;
    name_ = target;
    if (target.empty()) {
        return Fail("", ENOENT);
    }

    // Follow links one at a time, as the kernel would, so that a name standing for a
    // descriptor (/dev/stdout is a link to /proc/self/fd/1) is seen on the way.
    std::string path = target;
    bool followedLink = false;
    bool exists = false;
    struct stat info {};
    for (int hops = 0;; ++hops) {
        if (const std::optional<int> descriptor = DescriptorOf(path)) {
            descriptor_ = ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
            if (descriptor_ < 0) {
                return Fail("", errno);
            }
            kind_ = Kind::InPlace;
            path_ = path;
            return true;
        }
        if (hops > 40) {
            return Fail("", ELOOP);
        }
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0) {
            if (errno != ENOENT) {
                return Fail("", errno);
            }
            if (followedLink) {
                return Fail(
                    "not writing through the dangling symbolic link to " + PrintableName(path), 0);
            }
            break;
        }
        if (!S_ISLNK(link.st_mode)) {
            exists = true;
            info = link;
            break;
        }
        std::string next(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 0) + 256, '\0');
        const auto length = ::readlink(path.c_str(), next.data(), next.size());
        if (length < 0) {
            return Fail("", errno);
        }
        next.resize(static_cast<std::size_t>(length));
        const std::string folder = Folder(path);
        path = next.empty() || next.front() == '/' || folder == "." ? next : folder + "/" + next;
        followedLink = true;
    }
    path_ = path;

    if (exists && S_ISDIR(info.st_mode)) {
        return Fail("", EISDIR);
    }
    if (exists && !S_ISREG(info.st_mode)) {
        // A device or a pipe is written where it is: a file renamed over it would destroy
        // the node (as root, even /dev/null).
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (descriptor_ < 0) {
            return Fail("", errno);
        }
        kind_ = Kind::InPlace;
        return true;
    }
    if (exists) {
        // Root may write anything; a file without any write bit was meant to stay as it is.
        const bool writable = ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) == 0;
        if ((info.st_mode & 0222) == 0 || (!writable && errno == EACCES)) {
            return Fail("write-protected", 0);
        }
        if (!writable) {
            return Fail("", errno);
        }
        if (info.st_nlink > 1) {
            // Every name of the file must see the new contents: rewrite it where it is, from
            // memory, once the whole of it is known.
            descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
            if (descriptor_ < 0) {
                return Fail("", errno);
            }
            kind_ = Kind::Rewrite;
            return true;
        }
    } else {
        struct stat folder {};
        const std::string folderName = Folder(path_);
        if (::stat(folderName.c_str(), &folder) != 0) {
            return Fail("", errno);
        }
        if (!S_ISDIR(folder.st_mode)) {
            return Fail("", ENOTDIR);
        }
    }
    return OpenTemporary(Folder(path_), exists, info.st_uid, info.st_gid, info.st_mode & 0777);
}

bool SafeOutputFile::OpenTemporary(const std::string& folder, bool keepsOld, unsigned uid,
                                   unsigned gid, unsigned mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = TemporaryName(folder);
        // A new file gets what the umask leaves of 0666, as any new file; a replacement
        // starts private and gets the old file's bits once its owner is settled.
        descriptor_ =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepsOld ? 0600 : 0666);
        if (descriptor_ < 0 && errno == EEXIST) {
            continue;
        }
        if (descriptor_ < 0) {
            const int error = errno;
            return Fail("cannot create a temporary file in its folder " + PrintableName(folder),
                        error);
        }
        temporary_ = name;
        slot_ = RegisterTemporary(temporary_);
        kind_ = Kind::Replace;
        break;
    }
    if (kind_ != Kind::Replace) {
        return Fail("cannot create a temporary file in its folder " + PrintableName(folder),
                    EEXIST);
    }
    if (keepsOld) {
        struct stat made {};
        if (::fstat(descriptor_, &made) != 0) {
            return Fail("", errno);
        }
        if ((made.st_uid != uid || made.st_gid != gid) &&
            ::fchown(descriptor_, static_cast<uid_t>(uid), static_cast<gid_t>(gid)) != 0) {
            const int error = errno;
            return Fail("a new file could not keep its owner and group, so it is left as it was",
                        error);
        }
        if (::fchmod(descriptor_, static_cast<mode_t>(mode)) != 0) {
            return Fail("", errno);
        }
    }
    return true;
}

#endif  // _WIN32

IoResult SafeOutputFile::Write(const void* data, std::size_t size) {
    IoResult result;
    if (descriptor_ < 0 || closed_) {
        result.error = true;
        return result;
    }
    const auto* bytes = static_cast<const char*>(data);
    if (kind_ == Kind::Rewrite) {
        held_.insert(held_.end(), bytes, bytes + size);
        result.count = size;
        return result;
    }
    if (!WriteAll(descriptor_, bytes, size, kind_ != Kind::InPlace, result.count)) {
        result.error = true;
        error_ = "cannot write " + PrintableName(name_) + ": " + std::strerror(errno);
    }
    return result;
}

bool SafeOutputFile::Close() {
    if (descriptor_ < 0 || closed_) {
        return false;
    }
    bool good = true;
    int error = 0;
    if (kind_ == Kind::Rewrite) {
        std::size_t written = 0;
        good = SysSeekStart(descriptor_) == 0 &&
               WriteAll(descriptor_, held_.data(), held_.size(), true, written) &&
               SysTruncate(descriptor_, held_.size()) == 0;
        error = good ? 0 : errno;
        held_.clear();
    }
    // The data must be on the disk before the rename makes it the file's contents; some
    // file systems report a full disk only here. A pipe or a device has nothing to sync.
    if (good && kind_ != Kind::InPlace && SysSync(descriptor_) != 0) {
        good = false;
        error = errno;
    }
    if (SysClose(std::exchange(descriptor_, -1)) != 0 && good) {
        good = false;
        error = errno;
    }
    closed_ = true;
    if (!good) {
        error_ = "cannot write " + PrintableName(name_) + ": " + std::strerror(error);
    }
    return good;
}

bool SafeOutputFile::Commit() {
    if (!closed_ || kind_ == Kind::None) {
        return false;
    }
    if (kind_ == Kind::Replace) {
        ForgetTemporary(slot_);
#ifdef _WIN32
        // rename() refuses an existing target here; this replaces it in one step.
        const bool moved = MoveFileExA(temporary_.c_str(), path_.c_str(),
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (!moved) {
            const int error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
#else
        if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
            const int error = errno;
#endif
            SysUnlink(temporary_.c_str());
            temporary_.clear();
            error_ = "cannot write " + PrintableName(name_) + ": " + std::strerror(error);
            kind_ = Kind::None;
            return false;
        }
        temporary_.clear();
    }
    kind_ = Kind::None;
    return true;
}

void SafeOutputFile::Discard() {
    if (descriptor_ >= 0) {
        SysClose(std::exchange(descriptor_, -1));
    }
    ForgetTemporary(slot_);
    if (!temporary_.empty()) {
        SysUnlink(temporary_.c_str());
        temporary_.clear();
    }
    held_.clear();
    kind_ = Kind::None;
}

}  // namespace tarvex
