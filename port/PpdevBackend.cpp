#include "port/PpdevBackend.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "port/Backends.h"

namespace tarvex {
namespace {

// Long enough for a claim that only waits for another access to finish; short enough that
// a port held by another program is reported at once.
constexpr std::chrono::milliseconds kClaimLimit{1500};

constexpr const char* kLoadModules =
    " — load the parport_pc and ppdev modules (sudo modprobe -a parport_pc ppdev)";

struct Parport {
    unsigned number = 0;
    std::uint16_t base = 0;
    std::string device;
    int descriptor = -1;
    int openError = 0;  // why the device file could not be opened
    bool claimed = false;
    // Kept until the port is let go, so a port another program holds is waited for once
    // per command, not at every access.
    int claimError = 0;
    // What kept the port from us last time, until a claim succeeds; outlives letting go, so
    // the caller can still say why after detection gave the port back.
    std::string problem;
};

// The parports with a known base, and the first reason a port was left out (used only
// when none remains).
struct Scan {
    std::vector<Parport> ports;
    int error = 0;
    std::string problem;

    void Note(int code, std::string text) {
        if (error == 0) {
            error = code;
            problem = std::move(text);
        }
    }
};

std::string ErrorText(int error) {
    return std::strerror(error);
}

// "parport12" -> 12
bool ParportNumber(const std::string& name, unsigned& number) {
    constexpr std::string_view prefix = "parport";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    auto [end, code] = std::from_chars(first, last, number);
    return code == std::errc() && end == last;
}

// base-addr holds "base\tbase_hi\n" in decimal; base_hi (ECP registers) is of no use here.
bool ParseBase(const std::string& content, std::uint16_t& base) {
    const char* first = content.data();
    const char* last = first + content.size();
    while (first != last && (*first == ' ' || *first == '\t')) {
        ++first;
    }
    unsigned long value = 0;
    auto [end, code] = std::from_chars(first, last, value);
    if (code != std::errc() || value > 0xFFFF ||
        (end != last && *end != '\t' && *end != ' ' && *end != '\n')) {
        return false;
    }
    base = static_cast<std::uint16_t>(value);
    return true;
}

std::string OpenProblem(const std::string& device, int error) {
    std::string text = "cannot open " + device + ": " + ErrorText(error);
    if (error == EACCES || error == EPERM) {
        text += " — add yourself to group lp (sudo usermod -aG lp $USER, then log in again)";
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        text += " — load the ppdev module (sudo modprobe ppdev)";
    }
    return text;
}

class PpdevBackend final : public PortBackend {
  public:
    PpdevBackend(std::shared_ptr<SystemCalls> system, std::string procRoot,
                 std::string deviceDirectory)
        : system_(std::move(system)),
          procRoot_(std::move(procRoot)),
          deviceDirectory_(std::move(deviceDirectory)) {}
    ~PpdevBackend() override { Close(); }

    bool Open(OpenFailure& failure) override {
        std::unique_lock lock(stateMutex_);
        CloseLocked();
        Scan scan = ScanParports();
        int firstError = 0;
        std::string firstProblem;
        bool anyOpened = false;
        for (Parport& port : scan.ports) {
            const int result = system_->Open(port.device, O_RDWR | O_CLOEXEC);
            if (result >= 0) {
                port.descriptor = result;
                anyOpened = true;
            } else {
                port.openError = -result;
                port.problem = OpenProblem(port.device, -result);
                if (firstError == 0) {
                    firstError = -result;
                    firstProblem = OpenProblem(port.device, -result);
                }
            }
        }
        if (!anyOpened) {
            if (firstError == 0) {
                firstError = scan.error;
                firstProblem = std::move(scan.problem);
            }
            failure.code = static_cast<std::uint32_t>(firstError != 0 ? firstError : ENODEV);
            failure.detail = std::move(firstProblem);
            return false;
        }
        ports_ = std::move(scan.ports);
        open_ = true;
        return true;
    }

    void Close() override {
        std::unique_lock lock(stateMutex_);
        CloseLocked();
    }

    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        // Shared: the timer's status reads and the worker's writes run side by side, and
        // Close waits for both.
        std::shared_lock lock(stateMutex_);
        int offset = 0;
        Parport* parport = Find(port, offset);
        if (!parport) {
            error = ENXIO;
            return 0xFF;  // nothing drives the lines of an address no parport serves
        }
        if (!Claimed(*parport, error)) {
            return 0;
        }
        static constexpr unsigned long kReads[] = {PPRDATA, PPRSTATUS, PPRCONTROL};
        unsigned char value = 0;
        const int result = system_->Ioctl(parport->descriptor, kReads[offset], &value);
        if (result < 0) {
            error = static_cast<std::uint32_t>(-result);
            return 0;
        }
        return value;
    }

    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        std::shared_lock lock(stateMutex_);
        int offset = 0;
        Parport* parport = Find(port, offset);
        if (!parport) {
            error = ENXIO;
            return;
        }
        // The status register is input only; the lines ignore a write to it.
        if (offset == 1 || !Claimed(*parport, error)) {
            return;
        }
        unsigned char byte = value;
        const unsigned long request = offset == 0 ? PPWDATA : PPWCONTROL;
        const int result = system_->Ioctl(parport->descriptor, request, &byte);
        if (result < 0) {
            error = static_cast<std::uint32_t>(-result);
        }
    }

    std::optional<bool> HasPort(std::uint16_t base) const override {
        std::shared_lock lock(stateMutex_);
        const auto hasBase = [base](const Parport& port) { return port.base == base; };
        if (open_) {
            return std::any_of(ports_.begin(), ports_.end(), hasBase);
        }
        const Scan scan = ScanParports();
        return std::any_of(scan.ports.begin(), scan.ports.end(), hasBase);
    }

    void LetGo(std::uint16_t base) override {
        std::unique_lock lock(stateMutex_);
        for (Parport& port : ports_) {
            if (port.base == base) {
                Release(port);
                port.openError = 0;  // the next access opens the device file again
            }
        }
    }

    std::string PortProblem(std::uint16_t base) const override {
        std::shared_lock lock(stateMutex_);
        std::lock_guard claimLock(claimMutex_);
        for (const Parport& port : ports_) {
            if (port.base != base) {
                continue;
            }
            return port.problem;
        }
        return {};
    }

    // The kernel's first claim of an open writes its initial control state (0x0C).
    bool KeepsControlState() const override { return false; }

    std::string FailureHint() const override {
        return "Check the Linux parallel port access (TARVEX_IO=ppdev):\r"
               "- the modules are loaded: sudo modprobe -a parport_pc ppdev\r"
               "- the device files /dev/parport0, /dev/parport1, ... exist\r"
               "- you are a member of group lp: sudo usermod -aG lp $USER, then log in again\r";
    }

    std::string Name() const override { return "ppdev"; }

  private:
    // One text whether the kernel has no parport folder or lists no port in it: the cure is
    // the same, and the window, tarvex and the README say it alike.
    std::string NoParallelPort() const {
        return "no parallel port found in " + procRoot_ + kLoadModules;
    }

    Scan ScanParports() const {
        Scan scan;
        std::vector<std::string> names;
        const int listed = system_->ListDirectory(procRoot_, names);
        if (listed == -ENOENT) {
            scan.Note(ENOENT, NoParallelPort());
            return scan;
        }
        if (listed < 0) {
            scan.Note(-listed, "cannot read " + procRoot_ + ": " + ErrorText(-listed));
            return scan;
        }
        std::vector<unsigned> numbers;
        for (const std::string& name : names) {
            unsigned number = 0;
            if (ParportNumber(name, number)) {
                numbers.push_back(number);
            }
        }
        if (numbers.empty()) {
            scan.Note(ENODEV, NoParallelPort());
            return scan;
        }
        std::sort(numbers.begin(), numbers.end());
        for (unsigned number : numbers) {
            const std::string name = "parport" + std::to_string(number);
            const std::string path = procRoot_ + "/" + name + "/base-addr";
            std::string content;
            const int read = system_->ReadFile(path, content);
            Parport port;
            if (read < 0) {
                scan.Note(-read, "cannot read " + path + ": " + ErrorText(-read));
                continue;
            }
            if (!ParseBase(content, port.base)) {
                scan.Note(EINVAL, path + " holds no I/O port base address");
                continue;
            }
            port.number = number;
            port.device = deviceDirectory_ + "/" + name;
            scan.ports.push_back(std::move(port));
        }
        return scan;
    }

    // The parport whose registers include `port`, and the register's offset from the base.
    Parport* Find(std::uint16_t port, int& offset) {
        for (Parport& parport : ports_) {
            offset = port - parport.base;
            if (offset >= 0 && offset <= 2) {
                return &parport;
            }
        }
        return nullptr;
    }

    // ppdev refuses register access until the port is claimed; the claim is kept until the
    // port is let go or closed, so other parport drivers cannot take it between two accesses.
    bool Claimed(Parport& port, std::uint32_t& error) {
        std::lock_guard lock(claimMutex_);
        if (port.claimed) {
            return true;
        }
        if (port.claimError != 0) {
            error = static_cast<std::uint32_t>(port.claimError);
            return false;
        }
        if (port.descriptor < 0 && port.openError == 0) {  // let go before: open it again
            const int result = system_->Open(port.device, O_RDWR | O_CLOEXEC);
            if (result < 0) {
                port.openError = -result;
                port.problem = OpenProblem(port.device, -result);
            } else {
                port.descriptor = result;
            }
        }
        if (port.descriptor < 0) {
            error = static_cast<std::uint32_t>(port.openError);
            return false;
        }
        const int result = system_->ClaimWithin(port.descriptor, kClaimLimit);
        if (result < 0) {
            port.claimError = -result;
            port.problem = result == -EBUSY
                               ? port.device +
                                     " is in use by another program (another "
                                     "Tarvex32 or tarvex, or a printer job)"
                               : "cannot claim " + port.device + ": " + ErrorText(-result);
            error = static_cast<std::uint32_t>(-result);
            return false;
        }
        port.claimed = true;
        port.problem.clear();
        return true;
    }

    // Release keeps the register as it is; closing the file would release it anyway.
    void Release(Parport& port) {
        if (port.claimed) {
            (void)system_->Ioctl(port.descriptor, PPRELEASE, nullptr);
        }
        if (port.descriptor >= 0) {
            (void)system_->Close(port.descriptor);
        }
        port.descriptor = -1;
        port.claimed = false;
        port.claimError = 0;
    }

    void CloseLocked() {
        for (Parport& port : ports_) {
            Release(port);
        }
        ports_.clear();
        open_ = false;
    }

    std::shared_ptr<SystemCalls> system_;
    std::string procRoot_;
    std::string deviceDirectory_;
    // Open and Close hold it exclusively; accesses share it.
    mutable std::shared_mutex stateMutex_;
    mutable std::mutex claimMutex_;
    std::vector<Parport> ports_;
    bool open_ = false;
};

}  // namespace

std::unique_ptr<PortBackend> MakePpdevBackend(std::shared_ptr<SystemCalls> system,
                                              std::string procRoot, std::string deviceDirectory) {
    return std::make_unique<PpdevBackend>(std::move(system), std::move(procRoot),
                                          std::move(deviceDirectory));
}

std::unique_ptr<PortBackend> MakePpdevBackend() {
    return MakePpdevBackend(std::make_shared<LinuxSystemCalls>());
}

}  // namespace tarvex
