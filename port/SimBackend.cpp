#include "port/SimBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "image/SafeOutputFile.h"

namespace tarvex::sim {
namespace {

#ifdef _WIN32
int OpenLockFile(const std::string& name) {
    return _open(name.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
// 0, or an errno value; EWOULDBLOCK while another run holds it and `wait` is false.
int LockFile(int descriptor, bool wait) {
    OVERLAPPED whole{};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), flags, 0, 1, 0, &whole)) {
        return 0;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EIO;
}
int CloseLockFile(int descriptor) {
    return _close(descriptor);
}
#else
int OpenLockFile(const std::string& name) {
    return ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
}
int LockFile(int descriptor, bool wait) {
    return ::flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0 ? 0 : errno;
}
int CloseLockFile(int descriptor) {
    return ::close(descriptor);
}
#endif

bool ParseBase(const std::string& text, std::uint16_t& base) {
    std::string digits = text;
    int radix = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        radix = 16;
    } else if (digits.size() > 1 && digits[0] == '$') {
        digits = digits.substr(1);
        radix = 16;
    }
    unsigned value = 0;
    const char* last = digits.data() + digits.size();
    auto result = std::from_chars(digits.data(), last, value, radix);
    if (result.ec != std::errc() || result.ptr != last || digits.empty() || value > 0xFFFD) {
        return false;
    }
    base = static_cast<std::uint16_t>(value);
    return true;
}

// The state file: read whole and checked by the bus, written through a unique temporary file
// renamed over the old one, so a failed save keeps the old state and nothing planted beside
// it is followed.
bool StateFileProblem(const std::string& path, std::string& error) {
    // Checked before opening: a FIFO would block the open, /dev/zero never ends.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 &&
        (!S_ISREG(info.st_mode) ||
         static_cast<std::uint64_t>(info.st_size) > SimBus::kLargestStateFile)) {
        error = SimBus::NotAStateFile(path);
        return true;
    }
    return false;
}

bool LoadState(SimBus& bus, const std::string& path, std::string& error) {
    if (StateFileProblem(path, error)) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errno == ENOENT) {
            return true;  // first run: nothing kept yet
        }
        error = "cannot read simulator state file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> bytes;
    char block[65536];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        error = "cannot read simulator state file " + path + ": " + std::strerror(readErrno);
        return false;
    }
    return bus.RestoreState(bytes, path, error);
}

bool SaveState(SimBus& bus, const std::string& path, std::string& error) {
    const std::string contents = bus.StateBytes();
    SafeOutputFile file;
    if (!file.Open(path)) {
        error = "simulator state file: " + file.Error();
        return false;
    }
    const IoResult written = file.Write(contents.data(), contents.size());
    if (written.error || written.count != contents.size() || !file.Close() || !file.Commit()) {
        error = "simulator state file: " + file.Error();
        return false;
    }
    return true;
}

}  // namespace

SimBackend::SimBackend(std::shared_ptr<SimBus> bus, std::string statePath)
    : bus_(std::move(bus)), statePath_(std::move(statePath)) {}

SimBackend::~SimBackend() {
    Unlock();
}

bool SimBackend::Lock(std::string& error) {
    const std::string name = statePath_ + ".lock";
    lock_ = OpenLockFile(name);
    if (lock_ < 0) {
        error = "cannot open simulator lock file " + name + ": " + std::strerror(errno);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto patience = Clock::now() + std::chrono::seconds(1);
    for (int failure = LockFile(lock_, false); failure != 0; failure = LockFile(lock_, false)) {
        if (failure != EWOULDBLOCK && failure != EINTR) {
            error = "cannot lock simulator lock file " + name + ": " + std::strerror(failure);
            Unlock();
            return false;
        }
        if (Clock::now() >= patience) {
            std::fprintf(stderr,
                         "waiting for the simulator state file %s: another run is using it\n",
                         statePath_.c_str());
            // A signal ends the wait (EINTR) instead of holding the program hostage.
            if (const int waited = LockFile(lock_, true); waited != 0) {
                error = "stopped waiting for simulator state file " + statePath_ + ": " +
                        std::strerror(waited);
                Unlock();
                return false;
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void SimBackend::Unlock() {
    if (lock_ >= 0) {
        CloseLockFile(lock_);  // releases the lock
        lock_ = -1;
    }
}

std::unique_ptr<SimBackend> SimBackend::Create(const std::string& devices,
                                               const std::string& statePath, std::string& error) {
    auto bus = std::make_shared<SimBus>();
    if (devices.empty()) {
        bus->AddDevice(0x378);
    } else if (devices != "none") {
        std::size_t position = 0;
        while (position <= devices.size()) {
            std::size_t end = devices.find(',', position);
            if (end == std::string::npos) {
                end = devices.size();
            }
            const std::string item = devices.substr(position, end - position);
            position = end + 1;
            const std::size_t slash = item.find('/');
            std::uint16_t base = 0;
            if (!ParseBase(item.substr(0, slash), base)) {
                error = "TARVEX_IO: '" + item.substr(0, slash) +
                        "' is not a port base address (write it as 0x378, $378 or 888)";
                return nullptr;
            }
            // Each base owns three registers; two devices must not share one.
            for (unsigned other = base > 2 ? base - 2u : 0u; other <= base + 2u; ++other) {
                if (bus->HasPort(static_cast<std::uint16_t>(other))) {
                    error = "TARVEX_IO: base address " + item.substr(0, slash) +
                            " overlaps another device's registers";
                    return nullptr;
                }
            }
            DeviceOptions options;
            if (slash != std::string::npos) {
                if (auto problem = ParseDeviceOptions(item.substr(slash + 1), options)) {
                    error = "TARVEX_IO: " + *problem;
                    return nullptr;
                }
            }
            bus->AddDevice(base, std::move(options));
        }
    }
    return std::make_unique<SimBackend>(std::move(bus), statePath);
}

bool SimBackend::Open(OpenFailure& failure) {
    if (statePath_.empty()) {
        return true;
    }
    std::string error;
    // Saving right away proves the file can be kept before any work is done.
    if (StateFileProblem(statePath_, error) || !Lock(error) ||
        !LoadState(*bus_, statePath_, error) || !SaveState(*bus_, statePath_, error)) {
        failure.code = errno != 0 ? static_cast<std::uint32_t>(errno) : 5;
        failure.detail = error;
        Unlock();
        return false;
    }
    return true;
}

void SimBackend::Close() {
    saveError_.clear();
    if (!statePath_.empty()) {
        SaveState(*bus_, statePath_, saveError_);
    }
    Unlock();
}

std::uint8_t SimBackend::Read(std::uint16_t port, std::uint32_t& /*error*/) {
    return bus_->Read(port);
}

void SimBackend::Write(std::uint16_t port, std::uint8_t value, std::uint32_t& /*error*/) {
    bus_->Write(port, value);
}

std::optional<bool> SimBackend::HasPort(std::uint16_t base) const {
    return bus_->HasPort(base);
}

std::string SimBackend::FailureHint() const {
    return "Check the simulator state file named by TARVEX_SIM_STATE:\r"
           "- it must be a file this program wrote, in a folder you can write to\r";
}

}  // namespace tarvex::sim
