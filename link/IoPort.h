#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "port/PortBackend.h"

namespace tarvex {

// Byte access to I/O ports. Delegates to the backend chosen at start-up; with no backend
// (an unknown TARVEX_IO value) it never opens.
class TIoPort {
  public:
    static constexpr std::uint32_t kErrorInvalidHandle = 6;

    // `unavailableHint` explains, for the failure message, why there is no backend.
    explicit TIoPort(std::unique_ptr<PortBackend> backend, std::string unavailableHint = {});
    ~TIoPort();
    TIoPort(const TIoPort&) = delete;
    TIoPort& operator=(const TIoPort&) = delete;

    bool Opened() const { return opened_.load(std::memory_order_acquire); }
    // true opens when closed, false closes when open; the current state does nothing.
    void SetOpened(bool open);

    void OpenDriver();
    void CloseDriver();

    // Closed port: the read yields 0, the write is dropped, and last error becomes 6.
    std::uint8_t ReadPort(std::uint16_t port);
    void WritePort(std::uint16_t port, std::uint8_t value);

    // See PortBackend; nothing while closed.
    void LetGo(std::uint16_t base);
    std::string PortProblem(std::uint16_t base) const;
    bool KeepsControlState() const { return !backend_ || backend_->KeepsControlState(); }

    std::uint32_t LastError() const { return lastError_.load(std::memory_order_relaxed); }
    // The cause of the last failed open, naming object and reason; empty when none.
    const std::string& OpenErrorDetail() const { return openErrorDetail_; }

    // The text of the start-up failure box.
    std::string FailureMessage() const;

    PortBackend* Backend() const { return backend_.get(); }

  private:
    std::unique_ptr<PortBackend> backend_;
    std::string unavailableHint_;
    std::string openErrorDetail_;
    std::atomic<bool> opened_{false};
    std::atomic<std::uint32_t> lastError_{0};
};

// The first line of the start-up failure box.
inline constexpr const char* kPortAccessFailure = "Could not initialize direct port access !";

}  // namespace tarvex
