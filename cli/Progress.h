#pragma once

#include <cstdint>
#include <string>

namespace tarvex::cli {

// How far one transfer has come.
struct ProgressState {
    std::string label;  // "writing", "verifying", ...
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    double seconds = 0;  // since the transfer began
};

int Percent(const ProgressState& state);
// Bytes per second in KiB/s; 0 before any time has passed.
double KibPerSecond(const ProgressState& state);

// "writing    [##########----------]  50%   65536/131072 bytes   512.0 KiB/s", for a
// terminal line that is redrawn in place.
std::string FormatProgressBar(const ProgressState& state, int barWidth = 24);
// "writing: 50% (65536 of 131072 bytes)", for logs.
std::string FormatProgressLine(const ProgressState& state);
// "writing: 131072 bytes in 0.84 s (152.4 KiB/s)".
std::string FormatProgressDone(const ProgressState& state);

}  // namespace tarvex::cli
