#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvex {

// The kernel calls of the Linux port backends, so tests can stand in for a parallel port
// this machine does not have. Calls that can fail return a value >= 0 on success and
// -errno on failure, so no caller depends on the global errno surviving.
class SystemCalls {
  public:
    virtual ~SystemCalls() = default;

    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int descriptor) = 0;
    virtual int Ioctl(int descriptor, unsigned long request, void* argument) = 0;
    // PPCLAIM, which sleeps while another holds the port, given up after `limit`: -EBUSY.
    // A claim given up leaves the open on the kernel's wait list, which may hand it the port
    // later; close the file soon.
    virtual int ClaimWithin(int descriptor, std::chrono::milliseconds limit) = 0;
    // The names in a directory, without "." and "..".
    virtual int ListDirectory(const std::string& path, std::vector<std::string>& names) = 0;
    virtual int ReadFile(const std::string& path, std::string& content) = 0;
};

// The real calls. Not final: tests keep its directory and file reads (over a proc tree
// they build) and replace the device calls.
class LinuxSystemCalls : public SystemCalls {
  public:
    int Open(const std::string& path, int flags) override;
    int Close(int descriptor) override;
    int Ioctl(int descriptor, unsigned long request, void* argument) override;
    int ClaimWithin(int descriptor, std::chrono::milliseconds limit) override;
    int ListDirectory(const std::string& path, std::vector<std::string>& names) override;
    int ReadFile(const std::string& path, std::string& content) override;
};

// The processor's port instructions and the calls that allow them. Permission belongs to
// the calling thread, not to the process.
class PortInstructions {
  public:
    virtual ~PortInstructions() = default;

    // 0 or -errno.
    virtual int Ioperm(unsigned long from, unsigned long count, bool on) = 0;
    virtual int Iopl(int level) = 0;
    virtual std::uint8_t In(std::uint16_t port) = 0;
    virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
};

// The real instructions; nullptr where the processor has no I/O port space (not x86).
std::shared_ptr<PortInstructions> MakeX86PortInstructions();

}  // namespace tarvex
