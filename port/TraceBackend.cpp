#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "port/Backends.h"

namespace tarvex {
namespace {

// Records what went over the cable, in order, one line per access. Only installed when
// TARVEX_TRACE is set, so untraced runs pay nothing.
class TraceBackend : public PortBackend {
  public:
    TraceBackend(std::unique_ptr<PortBackend> inner, std::string path)
        : inner_(std::move(inner)), path_(std::move(path)) {}
    ~TraceBackend() override { CloseFile(); }

    bool Open(OpenFailure& failure) override {
        if (!inner_->Open(failure)) {
            return false;
        }
        std::lock_guard lock(mutex_);
        error_.clear();
        file_ = std::fopen(path_.c_str(), "w");
        if (!file_) {
            failure.code = static_cast<std::uint32_t>(errno);
            failure.detail =
                "cannot write trace file " + path_ + " (TARVEX_TRACE): " + std::strerror(errno);
            inner_->Close();
            return false;
        }
        return true;
    }
    void Close() override {
        inner_->Close();
        CloseFile();
    }
    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override {
        std::lock_guard lock(mutex_);  // keeps the trace in the order of the accesses
        const std::uint8_t value = inner_->Read(port, error);
        Record('R', port, value);
        return value;
    }
    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override {
        std::lock_guard lock(mutex_);
        inner_->Write(port, value, error);
        Record('W', port, value);
    }
    std::optional<bool> HasPort(std::uint16_t base) const override { return inner_->HasPort(base); }
    void LetGo(std::uint16_t base) override { inner_->LetGo(base); }
    std::string PortProblem(std::uint16_t base) const override { return inner_->PortProblem(base); }
    bool KeepsControlState() const override { return inner_->KeepsControlState(); }
    std::string FailureHint() const override {
        return inner_->FailureHint() + "- the trace file named by TARVEX_TRACE must be writable\r";
    }
    std::string Problem() const override {
        std::lock_guard lock(mutex_);
        const std::string inner = inner_->Problem();
        return error_.empty() ? inner : inner.empty() ? error_ : error_ + "\n" + inner;
    }
    std::string Name() const override { return inner_->Name(); }

  private:
    void Record(char kind, std::uint16_t port, std::uint8_t value) {
        // A trace that stops short must not pass for a whole one: the first failure is kept,
        // and nothing more is written after it.
        if (file_ &&
            (std::fprintf(file_, "%c %04X %02X\n", kind, port, value) < 0 || std::ferror(file_))) {
            Failed(errno);
        }
    }
    void Failed(int error) {
        if (error_.empty()) {
            error_ = "cannot write trace file " + path_ +
                     " (TARVEX_TRACE): " + std::strerror(error != 0 ? error : EIO);
        }
        if (file_) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    void CloseFile() {
        std::lock_guard lock(mutex_);
        if (file_) {
            errno = 0;
            const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
            const int error = errno;
            const bool closed = std::fclose(file_) == 0;
            file_ = nullptr;
            if (!flushed || !closed) {
                Failed(flushed ? errno : error);
            }
        }
    }

    std::unique_ptr<PortBackend> inner_;
    std::string path_;
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string error_;
};

}  // namespace

std::unique_ptr<PortBackend> MakeTraceBackend(std::unique_ptr<PortBackend> inner,
                                              const std::string& path) {
    return std::make_unique<TraceBackend>(std::move(inner), path);
}

}  // namespace tarvex
