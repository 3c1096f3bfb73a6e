#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvex {

// Why a backend could not open: an errno-style code for the last error value, and a
// sentence naming the object and the cause ("cannot open /dev/parport0: Permission denied").
struct OpenFailure {
    std::uint32_t code = 0;
    std::string detail;
};

// One way of reaching the PC's I/O ports. Read and Write may be called from two threads
// at once (the timer reads status while the batch worker writes); backends must allow it.
class PortBackend {
  public:
    virtual ~PortBackend() = default;

    virtual bool Open(OpenFailure& failure) = 0;
    virtual void Close() = 0;

    // A failed access stores a non-zero code in `error`. A read yields what the lines would
    // show: 0 when the access failed, 0xFF where nothing drives the bus.
    virtual std::uint8_t Read(std::uint16_t port, std::uint32_t& error) = 0;
    virtual void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) = 0;

    // Gives the port at this base back to the system, so other programs (a printer job)
    // can use it; the next access takes it again.
    virtual void LetGo(std::uint16_t /*base*/) {}

    // Why the port at this base could not be used, when the user has to act on it (another
    // program holds it); empty otherwise.
    virtual std::string PortProblem(std::uint16_t /*base*/) const { return {}; }

    // False when taking the port overwrites its control register, so the RESET state from
    // before cannot be read back.
    virtual bool KeepsControlState() const { return true; }

    // Whether a parallel port exists at this base address; nullopt when the backend
    // cannot tell without touching the port.
    virtual std::optional<bool> HasPort(std::uint16_t /*base*/) const { return std::nullopt; }

    // What to check when Open fails: the lines shown after the first line of the start-up
    // failure message, each ended by '\r'.
    virtual std::string FailureHint() const = 0;

    // A failure that did not stop the port but must fail the command (the trace could not
    // be written, the simulator's memory not kept), known once Close has returned; empty
    // when none. Each line names the object and the cause.
    virtual std::string Problem() const { return {}; }

    // The TARVEX_IO value that selects this backend, for messages.
    virtual std::string Name() const = 0;
};

}  // namespace tarvex
