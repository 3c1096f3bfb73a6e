#include "diag/SignalsTest.h"

namespace tarvex {
namespace {

// Control register bits.
constexpr std::uint8_t kStrobeBit = 0x01;
constexpr std::uint8_t kAutofeedBit = 0x02;
constexpr std::uint8_t kInitBit = 0x04;
constexpr std::uint8_t kSelectBit = 0x08;

void SetControlBit(TIoPort& port, std::uint16_t control, std::uint8_t bit, bool set) {
    const std::uint8_t value = port.ReadPort(control);
    port.WritePort(control, static_cast<std::uint8_t>(set ? value | bit : value & ~bit));
}

// Init- reaches its pin as it is; the other three are inverted on the way. Either way the pin
// goes high, low, high, low.
void DoublePulse(TIoPort& port, std::uint16_t control, std::uint8_t bit, bool startSet) {
    for (int step = 0; step < 4; ++step) {
        SetControlBit(port, control, bit, (step % 2 == 0) == startSet);
    }
}

}  // namespace

void DriveSignalLines(TIoPort& port, std::uint16_t base, SignalLines lines) {
    const auto control = static_cast<std::uint16_t>(base + 2);
    if (lines & kDataLines) {
        for (const std::uint8_t value :
             {std::uint8_t{0x55}, std::uint8_t{0xAA}, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
            port.WritePort(base, value);
        }
    }
    if (lines & kAutofeedLine) {
        DoublePulse(port, control, kAutofeedBit, false);
    }
    if (lines & kInitLine) {
        DoublePulse(port, control, kInitBit, true);
    }
    if (lines & kSelectLine) {
        DoublePulse(port, control, kSelectBit, false);
    }
    if (lines & kStrobeLine) {
        DoublePulse(port, control, kStrobeBit, false);
    }
}

void RunSignalsTest(EmulatorLink& link, SignalsTestView& view) {
    link.StopRequest = 1;
    // Suspended, the loop drives nothing, so it may as well sleep until the user does
    // something; once the suspended state shows, it waits for events instead of polling.
    bool suspendedShown = false;
    while (view.Visible()) {
        view.ProcessEvents(suspendedShown && link.StopRequest != 0);
        if (link.StopRequest != 0) {
            view.ShowSuspended();
            suspendedShown = true;
            continue;
        }
        suspendedShown = false;
        const SignalLines lines = view.Ticked();
        view.ShowRunning(lines != 0);
        DriveSignalLines(link.Port(), link.PortAddress(), lines);
    }
    link.StopRequest = 0;
    if (!link.InvalidEpromType()) {
        link.SetEpromType(link.Model().CurrentEpromType);
    }
}

}  // namespace tarvex
