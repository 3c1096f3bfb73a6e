#include "cli/TerminalHost.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>

namespace tarvex::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

TerminalHost::TerminalHost(Mode mode, std::FILE* stream) : mode_(mode), stream_(stream) {}

TerminalHost::Mode TerminalHost::ModeFor(bool quiet) {
    if (quiet) {
        return Mode::Quiet;
    }
#ifdef _WIN32
    return _isatty(_fileno(stderr)) ? Mode::Bar : Mode::Lines;
#else
    return isatty(STDERR_FILENO) ? Mode::Bar : Mode::Lines;
#endif
}

double TerminalHost::Elapsed() const {
    return std::chrono::duration<double>(Clock::now() - begin_).count();
}

void TerminalHost::BeginPhase(const std::string& label, std::uint64_t bytes) {
    if (events_) {
        events_->BeginPhase(label, bytes);
    }
    state_ = ProgressState{label, 0, bytes, 0};
    active_ = true;
    nextQuarter_ = 25;
    begin_ = Clock::now();
    if (mode_ == Mode::Lines) {
        std::fprintf(stream_, "%s\n", FormatProgressLine(state_).c_str());
    } else if (mode_ == Mode::Bar) {
        Draw();
    }
}

void TerminalHost::SetProgressPosition(int position) {
    if (events_ && active_ && position > 0) {
        events_->Progress(static_cast<std::uint64_t>(position) * 256);
    }
    if (!active_ || mode_ == Mode::Quiet || position <= 0) {
        return;  // the transfers set 0 at their start and end
    }
    const std::uint64_t done =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(position) * 256, state_.total);
    if (done <= state_.done) {
        return;
    }
    state_.done = done;
    if (mode_ == Mode::Bar) {
        const auto now = Clock::now();
        if (now - lastDraw_ >= kRedrawInterval) {
            state_.seconds = Elapsed();
            Draw();
        }
        return;
    }
    const int percent = Percent(state_);
    if (percent >= nextQuarter_ && percent < 100) {
        state_.seconds = Elapsed();
        std::fprintf(stream_, "%s\n", FormatProgressLine(state_).c_str());
        while (nextQuarter_ <= percent) {
            nextQuarter_ += 25;
        }
    }
}

void TerminalHost::EndPhase(bool finished) {
    if (!active_) {
        return;
    }
    active_ = false;
    if (events_) {
        events_->EndPhase(finished);
    }
    if (finished) {
        state_.done = state_.total;
    }
    state_.seconds = Elapsed();
    if (mode_ == Mode::Bar) {
        Draw();
        std::fputc('\n', stream_);
        barOnScreen_ = false;
    } else if (mode_ == Mode::Lines) {
        const std::string text =
            finished ? FormatProgressDone(state_) : FormatProgressLine(state_) + ", stopped";
        std::fprintf(stream_, "%s\n", text.c_str());
    }
    std::fflush(stream_);
}

void TerminalHost::Note(const std::string& text) {
    if (mode_ == Mode::Quiet) {
        return;
    }
    BreakBarLine();
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
}

void TerminalHost::Draw() {
    // \033[K clears what a longer earlier line left behind.
    std::fprintf(stream_, "\r%s\033[K", FormatProgressBar(state_).c_str());
    std::fflush(stream_);
    barOnScreen_ = true;
    lastDraw_ = Clock::now();
}

void TerminalHost::BreakBarLine() {
    if (barOnScreen_) {
        std::fputc('\n', stream_);
        barOnScreen_ = false;
    }
}

MessageAnswer TerminalHost::ShowMessage(MessageKind kind, const std::string& text,
                                        MessageButtons buttons) {
    if (events_) {
        events_->Message(MessageCaption(kind), DisplayText(text));
    }
    if (kind == MessageKind::Information) {
        Note(DisplayText(text, "\n  "));  // commentary, like progress: not a problem
    } else if (kind == MessageKind::Error || kind == MessageKind::Warning || mode_ != Mode::Quiet) {
        BreakBarLine();
        std::fprintf(stream_, "tarvex: %s%s\n", kind == MessageKind::Warning ? "warning: " : "",
                     DisplayText(text, "\n  ").c_str());
        std::fflush(stream_);
    }
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::Cancel:
            break;
    }
    return MessageAnswer::Cancel;
}

}  // namespace tarvex::cli
