#include "cli/Test.h"

#include <chrono>
#include <vector>

#include "image/HexText.h"

namespace tarvex::cli {
namespace {

constexpr std::size_t kListedDifferences = 16;

}  // namespace

void MemoryTestReport::ShowCounts(const MemoryTestCounts& counts, bool passed) {
    std::string line = "pass " + std::to_string(counts.executed) + (passed ? " ok " : " bad") +
                       "  tests executed " + std::to_string(counts.executed) + ", O.K. passes " +
                       std::to_string(counts.passed) + ", bad passes " +
                       std::to_string(counts.failed);
    if (!passed) {
        line += Differences();
    }
    if (events_) {
        events_->Pass(counts.executed, passed, counts.passed, counts.failed);
    }
    if (passed && quiet_) {
        return;
    }
    std::fprintf(stream_, "%s\n", line.c_str());
    std::fflush(stream_);
}

std::string MemoryTestReport::Differences() {
    ImageModel& model = link_.Model();
    const std::uint32_t last = model.BufferEnd;
    const std::vector<std::uint8_t> written(model.DataBuffer.begin(),
                                            model.DataBuffer.begin() + last + 1);
    link_.ReadEmulator(0, last, 0, true);
    if (link_.StopRequest != 0) {
        return " (stopped while reading back)";
    }
    if (!link_.AnswersAt(link_.PortAddress())) {
        linkLost_ = true;
        link_.StopRequest = 1;
        return "\n  the emulator at 0x" + HexWord(link_.PortAddress()) +
               " stopped answering (cable or power?)";
    }
    std::size_t differing = 0;
    std::string listing;
    for (std::uint32_t address = 0; address <= last; ++address) {
        const std::uint8_t found = model.DataBuffer[address];
        if (found == written[address]) {
            continue;
        }
        if (++differing <= kListedDifferences) {
            listing += "\n    " + HexAddress(address) + "    " + HexByte(written[address]) +
                       "      " + HexByte(found);
        }
        if (events_) {
            events_->Mismatch(address, written[address], found);
        }
    }
    if (differing == 0) {
        return "\n  reading back found every byte as written: the connection is unreliable "
               "(check the cable)";
    }
    std::string text = "\n  " + std::to_string(differing) + " of " + std::to_string(last + 1) +
                       " bytes differ\n  address  written  read" + listing;
    if (differing > kListedDifferences) {
        text += "\n  and " + std::to_string(differing - kListedDifferences) + " more";
    }
    return text;
}

std::string SignalsPlan(SignalLines lines) {
    std::string plan;
    for (const SignalLineInfo& info : kSignalLines) {
        if ((lines & info.line) == 0) {
            continue;
        }
        std::string name = info.name;
        name.resize(10, ' ');
        if (info.line == kDataLines) {
            plan += "  " + name + "D0-D7: " + info.probe + "\n";
            continue;
        }
        std::string caption;
        for (const char* c = info.caption; *c; ++c) {
            caption += *c == '&' ? "" : std::string(1, *c);
        }
        plan += "  " + name + caption + ": double pulse; probe CD40106 pin " +
                std::to_string(info.inputPin) + " -> " + std::to_string(info.outputPin) +
                " (high, two low-going pulses)\n";
    }
    return plan;
}

std::optional<SignalLines> ParseSignalLines(const std::string& text, std::string& complaint) {
    SignalLines lines = 0;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t to = text.find(',', from);
        to = to == std::string::npos ? text.size() : to;
        const std::string word = text.substr(from, to - from);
        bool known = false;
        for (const SignalLineInfo& info : kSignalLines) {
            if (word == info.name) {
                lines |= info.line;
                known = true;
            }
        }
        if (!known) {
            complaint = "'" + word + "' is not a line (use data, autofeed, init, select, strobe)";
            return std::nullopt;
        }
        from = to + 1;
    }
    return lines;
}

SignalsRun DriveSignals(TIoPort& port, std::uint16_t base, SignalLines lines,
                        std::optional<std::uint64_t> count, std::optional<double> seconds,
                        const std::atomic<std::uint8_t>& stop) {
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    const auto deadline = seconds ? begin + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(*seconds))
                                  : Clock::time_point::max();
    SignalsRun run;
    while (stop.load(std::memory_order_relaxed) == 0 && (!count || run.iterations < *count)) {
        DriveSignalLines(port, base, lines);
        // The clock costs more than an iteration: look at it now and then.
        if (++run.iterations % 64 == 0 && seconds && Clock::now() >= deadline) {
            break;
        }
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return run;
}

}  // namespace tarvex::cli
