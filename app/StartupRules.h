#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Version.h"

namespace tarvex {

// Two blanks, the product name, fifteen blanks and the version.
inline constexpr const char* kProgramTitle = "  Tarvex II Loader               V" TARVEX_VERSION;

// Lines end with '\r', the last one too.
inline constexpr const char* kUsageMessage =
    "Correct command line form:\r"
    "\r"
    "         Tarvex32  [data_file]\r"
    " or\r"
    "         Tarvex32  data_file  eprom_type\r"
    " or\r"
    "         Tarvex32  data_file  eprom_type  Centronics_address ($=hex)\r"
    " or\r"
    "         Tarvex32  data_file  eprom_type  Centronics_address  reset_time[ms]\r";

inline constexpr const char* kSecondInstanceQuestion =
    "The author of Tarvex Loader appreciates\r"
    "the fact, that  you  want to have more\r"
    "then one copy running simultaneously.\r"
    "\r"
    "But don't you think one  _is_  enough?";

// What scripts see when the program ends.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,  // port access could not be opened, or a requested batch run did not succeed
    kExitUsage = 2,    // wrong number of arguments
};

enum class StartMode { Interactive, Batch, Usage };

struct CommandLineDecision {
    StartMode mode = StartMode::Interactive;
    // Only for Usage: an explicit help request ends successfully, a wrong count does not.
    bool helpRequested = false;

    bool BatchRequested() const { return mode == StartMode::Batch; }
};

// The decision on the arguments after the program name.
CommandLineDecision CheckCommandLine(const std::vector<std::string>& arguments);

// What happened during the run, for the exit status.
struct RunOutcome {
    CommandLineDecision commandLine;
    bool portAccessFailed = false;
    bool batchSucceeded = false;
};

int ExitStatusFor(const RunOutcome& outcome);

// Where the instance lock may lie, in order: $XDG_RUNTIME_DIR when it is set, then
// /tmp/runtime-UID.
std::vector<std::string> InstanceLockDirectories(const char* xdgRuntimeDir, unsigned userId);
inline constexpr std::string_view kInstanceLockName = "Tarvex_2_Mutex.lock";

enum class LockOutcome {
    Acquired,
    HeldElsewhere,  // another holder has it: another instance runs
    Unusable,       // no lock can be made there; says nothing about other instances
};

// The single-instance rule: an exclusive flock on a file in the runtime directory (on
// Windows the named mutex), held until Release or destruction. The system drops it when
// the process ends, however it ends.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock in `directory`, which must be a folder already. With `create`, a missing
    // folder is made with mode 0700, and an existing one is used only when it is this
    // user's own and nobody else may write in it.
    LockOutcome Acquire(const std::string& directory, bool create);
    // False only when another holder has the lock. Folders where no lock can be made are
    // passed over; when none is left the program runs unchecked (true, not Held).
    bool Acquire(const std::vector<std::string>& directories);
    // The folders from the environment; only the last one is made when missing.
    bool Acquire();
    void Release();
#ifdef _WIN32
    bool Held() const {
        return mutex_ != nullptr;
    }

  private:
    void* mutex_ = nullptr;
#else
    bool Held() const {
        return fd_ >= 0;
    }

  private:
    int fd_ = -1;
#endif
};

}  // namespace tarvex
