#include "app/StartupRules.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>

namespace tarvex {

CommandLineDecision CheckCommandLine(const std::vector<std::string>& arguments) {
    CommandLineDecision decision;
    const std::size_t count = arguments.size();
    if (count > 4) {
        decision.mode = StartMode::Usage;
        return decision;
    }
    if (count == 1) {
        const std::string& argument = arguments.front();
        // An empty argument has no last character and asks for nothing.
        const bool question = !argument.empty() && argument.back() == '?';
        const bool shortHelp =
            argument.size() == 2 && (argument.back() == 'h' || argument.back() == 'H');
        if (question || shortHelp) {
            decision.mode = StartMode::Usage;
            decision.helpRequested = true;
            return decision;
        }
    }
    decision.mode = count >= 2 ? StartMode::Batch : StartMode::Interactive;
    return decision;
}

int ExitStatusFor(const RunOutcome& outcome) {
    if (outcome.commandLine.mode == StartMode::Usage) {
        return outcome.commandLine.helpRequested ? kExitSuccess : kExitUsage;
    }
    if (outcome.portAccessFailed) {
        return kExitFailure;
    }
    if (outcome.commandLine.BatchRequested() && !outcome.batchSucceeded) {
        return kExitFailure;
    }
    return kExitSuccess;
}

std::vector<std::string> InstanceLockDirectories(const char* xdgRuntimeDir, unsigned userId) {
    std::vector<std::string> directories;
    if (xdgRuntimeDir && *xdgRuntimeDir) {
        directories.emplace_back(xdgRuntimeDir);
    }
    directories.push_back("/tmp/runtime-" + std::to_string(userId));
    return directories;
}

InstanceLock::~InstanceLock() {
    Release();
}

#ifdef _WIN32
// Windows has the named mutex itself; the system drops it when the process ends.
LockOutcome InstanceLock::Acquire(const std::string&, bool) {
    return Acquire() ? LockOutcome::Acquired : LockOutcome::HeldElsewhere;
}

bool InstanceLock::Acquire(const std::vector<std::string>&) {
    return Acquire();
}

bool InstanceLock::Acquire() {
    Release();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Tarvex_2_Mutex");
    if (mutex == nullptr) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    return true;
}

void InstanceLock::Release() {
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
}

#else
LockOutcome InstanceLock::Acquire(const std::string& directory, bool create) {
    Release();
    if (create && ::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return LockOutcome::Unusable;
    }
    struct stat folder {};
    // A shared folder like /tmp lets anyone put a folder of that name there first; such a
    // folder, or a link in its place, could hold the lock for us or point it elsewhere.
    const int found =
        create ? ::lstat(directory.c_str(), &folder) : ::stat(directory.c_str(), &folder);
    if (found != 0 || !S_ISDIR(folder.st_mode)) {
        return LockOutcome::Unusable;
    }
    if (create && (folder.st_uid != ::getuid() || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        return LockOutcome::Unusable;
    }
    const std::string path = directory + "/" + std::string(kInstanceLockName);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return LockOutcome::Unusable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? LockOutcome::HeldElsewhere : LockOutcome::Unusable;
    }
    fd_ = fd;
    return LockOutcome::Acquired;
}

bool InstanceLock::Acquire(const std::vector<std::string>& directories) {
    for (std::size_t i = 0; i < directories.size(); ++i) {
        switch (Acquire(directories[i], i + 1 == directories.size())) {
            case LockOutcome::Acquired:
                return true;
            case LockOutcome::HeldElsewhere:
                return false;
            case LockOutcome::Unusable:
                break;
        }
    }
    return true;
}

bool InstanceLock::Acquire() {
    return Acquire(InstanceLockDirectories(std::getenv("XDG_RUNTIME_DIR"), ::getuid()));
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the only descriptor of the open file drops the lock
        fd_ = -1;
    }
}

#endif  // _WIN32

}  // namespace tarvex
