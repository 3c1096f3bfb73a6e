#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// Two blanks, the product name, fifteen blanks and the version.
inline constexpr const char* kProgramTitle = "  Tarvex II Loader               V1.5";

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

// The directory of the instance lock: $XDG_RUNTIME_DIR, or /tmp/runtime-UID without it.
std::string InstanceLockDirectory(const char* xdgRuntimeDir, unsigned userId);
inline constexpr std::string_view kInstanceLockName = "Tarvex_2_Mutex.lock";

// The single-instance rule: an exclusive flock on a file in the runtime directory (on
// Windows the named mutex), held until Release or destruction. The system drops it when
// the process ends, however it ends.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when no other holder exists. Any failure (no directory, no file, lock held)
    // counts as another instance. `directory` is created with mode 0700 when missing.
    bool Acquire(const std::string& directory);
    // The directory from the environment.
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
