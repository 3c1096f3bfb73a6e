#include "link/IoPort.h"

#include <utility>

namespace tarvex {

TIoPort::TIoPort(std::unique_ptr<PortBackend> backend, std::string unavailableHint)
    : backend_(std::move(backend)), unavailableHint_(std::move(unavailableHint)) {}

TIoPort::~TIoPort() {
    CloseDriver();
}

void TIoPort::SetOpened(bool open) {
    if (open == Opened()) {
        return;
    }
    if (open) {
        OpenDriver();
    } else {
        CloseDriver();
    }
}

void TIoPort::OpenDriver() {
    CloseDriver();
    lastError_ = 0;
    openErrorDetail_.clear();
    if (!backend_) {
        lastError_ = kErrorInvalidHandle;
        return;
    }
    OpenFailure failure;
    if (backend_->Open(failure)) {
        opened_.store(true, std::memory_order_release);
        return;
    }
    lastError_ = failure.code != 0 ? failure.code : kErrorInvalidHandle;
    openErrorDetail_ = std::move(failure.detail);
}

void TIoPort::CloseDriver() {
    if (opened_.exchange(false, std::memory_order_acq_rel)) {
        backend_->Close();
    }
}

std::uint8_t TIoPort::ReadPort(std::uint16_t port) {
    if (!Opened()) {
        lastError_.store(kErrorInvalidHandle, std::memory_order_relaxed);
        return 0;
    }
    std::uint32_t error = 0;
    const std::uint8_t value = backend_->Read(port, error);
    if (error != 0) {
        lastError_.store(error, std::memory_order_relaxed);
    }
    return value;
}

void TIoPort::WritePort(std::uint16_t port, std::uint8_t value) {
    if (!Opened()) {
        lastError_.store(kErrorInvalidHandle, std::memory_order_relaxed);
        return;
    }
    std::uint32_t error = 0;
    backend_->Write(port, value, error);
    if (error != 0) {
        lastError_.store(error, std::memory_order_relaxed);
    }
}

void TIoPort::LetGo(std::uint16_t base) {
    if (Opened()) {
        backend_->LetGo(base);
    }
}

std::string TIoPort::PortProblem(std::uint16_t base) const {
    return Opened() ? backend_->PortProblem(base) : std::string();
}

std::string TIoPort::FailureMessage() const {
    std::string text = std::string(kPortAccessFailure) + "\r\r";
    if (!openErrorDetail_.empty()) {
        text += openErrorDetail_ + "\r\r";
    }
    text += backend_ ? backend_->FailureHint() : unavailableHint_;
    return text;
}

}  // namespace tarvex
