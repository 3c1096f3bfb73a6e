#pragma once

#include <array>
#include <cstdint>

#include "link/Emulator.h"
#include "link/IoPort.h"

namespace tarvex {

// The lines the signals test can drive, as a mask.
enum SignalLine : unsigned {
    kDataLines = 1u << 0,
    kAutofeedLine = 1u << 1,
    kInitLine = 1u << 2,
    kSelectLine = 1u << 3,
    kStrobeLine = 1u << 4,
};
using SignalLines = unsigned;

struct SignalLineInfo {
    SignalLine line;
    const char* name;         // as the command line names it
    const char* caption;      // the window's check box
    const char* probe;        // what it carries, or where to probe it, as the window says
    int inputPin, outputPin;  // the CD40106 inverter stage that carries a control line
};

// In the window's order, which is also the order they are driven in.
inline constexpr std::array<SignalLineInfo, 5> kSignalLines{{
    {kDataLines, "data", "&Data lines", "55 - AA - 00 - FF hex sequence", 0, 0},
    {kAutofeedLine, "autofeed", "&Autofeed-", "CD40106  13   ->  12", 13, 12},
    {kInitLine, "init", "&Init-", "CD40106    1   ->    2", 1, 2},
    {kSelectLine, "select", "S&elect-", "CD40106    9   ->    8", 9, 8},
    {kStrobeLine, "strobe", "S&trobe-", "CD40106    5   ->    6", 5, 6},
}};

inline constexpr const char* kSignalsSuspendedCaption =
    "             Tarvex interface lines test suspended";
inline constexpr const char* kSignalsRunningCaption =
    "               Tarvex interface lines test running";

// One iteration: the data sequence, then a double pulse on each chosen control line. Each
// control step reads the control register and writes it back with one bit changed.
void DriveSignalLines(TIoPort& port, std::uint16_t base, SignalLines lines);

// The signals test window, as the loop sees it.
class SignalsTestView {
  public:
    virtual ~SignalsTestView() = default;
    virtual bool Visible() const = 0;
    virtual SignalLines Ticked() const = 0;
    // Lets pending events through; with `wait`, sleeps until there is at least one.
    virtual void ProcessEvents(bool wait) = 0;
    virtual void ShowSuspended() = 0;
    virtual void ShowRunning(bool driving) = 0;
};

// Drives the ticked lines over and over while the window is visible and StopRequest is 0;
// starts suspended (StopRequest 1). Selects the current type again at the end, as the
// lines it drove may have changed the emulator's configuration.
void RunSignalsTest(EmulatorLink& link, SignalsTestView& view);

}  // namespace tarvex
