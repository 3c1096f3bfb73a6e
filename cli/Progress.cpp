#include "cli/Progress.h"

#include <cstdio>

namespace tarvex::cli {

int Percent(const ProgressState& state) {
    if (state.total == 0) {
        return 100;
    }
    const std::uint64_t done = state.done < state.total ? state.done : state.total;
    return static_cast<int>(done * 100 / state.total);
}

double KibPerSecond(const ProgressState& state) {
    return state.seconds > 0 ? static_cast<double>(state.done) / 1024.0 / state.seconds : 0.0;
}

std::string FormatProgressBar(const ProgressState& state, int barWidth) {
    const int percent = Percent(state);
    const int filled = percent * barWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(barWidth - filled), '-');
    char text[160];
    std::snprintf(text, sizeof text, "%-10s [%s] %3d%% %7llu/%llu bytes %8.1f KiB/s",
                  state.label.c_str(), bar.c_str(), percent,
                  static_cast<unsigned long long>(state.done),
                  static_cast<unsigned long long>(state.total), KibPerSecond(state));
    return text;
}

std::string FormatProgressLine(const ProgressState& state) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: %d%% (%llu of %llu bytes)", state.label.c_str(),
                  Percent(state), static_cast<unsigned long long>(state.done),
                  static_cast<unsigned long long>(state.total));
    return text;
}

std::string FormatProgressDone(const ProgressState& state) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: %llu bytes in %.2f s (%.1f KiB/s)", state.label.c_str(),
                  static_cast<unsigned long long>(state.done), state.seconds, KibPerSecond(state));
    return text;
}

}  // namespace tarvex::cli
