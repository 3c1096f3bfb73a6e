#include "cli/JsonEvents.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "image/HexText.h"

namespace tarvex::cli {

using Json = nlohmann::ordered_json;

template <typename Event>
void JsonEvents::Emit(const Event& event) {
    // File names may hold bytes that are no UTF-8; they are replaced, never a reason to throw.
    const std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::fprintf(stream_, "%s\n", line.c_str());
    std::fflush(stream_);
}

void JsonEvents::BeginPhase(const std::string& phase, std::uint64_t total) {
    phase_ = phase;
    total_ = total;
    done_ = 0;
    reported_ = 0;
    active_ = true;
    Emit(Json{{"event", "progress"}, {"phase", phase_}, {"done", 0}, {"total", total_}});
}

void JsonEvents::Progress(std::uint64_t done) {
    if (!active_ || done <= done_) {
        return;
    }
    done_ = std::min(done, total_);
    if (done_ - reported_ >= std::max<std::uint64_t>(total_ / 32, 1) && done_ < total_) {
        reported_ = done_;
        Emit(Json{{"event", "progress"}, {"phase", phase_}, {"done", done_}, {"total", total_}});
    }
}

void JsonEvents::EndPhase(bool finished) {
    if (!active_) {
        return;
    }
    active_ = false;
    if (finished) {
        done_ = total_;
    }
    Emit(Json{{"event", "progress"},
              {"phase", phase_},
              {"done", done_},
              {"total", total_},
              {"finished", finished}});
}

void JsonEvents::Message(const char* caption, const std::string& text) {
    Emit(Json{{"event", "message"}, {"caption", caption}, {"text", text}});
}

void JsonEvents::Error(const std::string& text) {
    Emit(Json{{"event", "error"}, {"text", text}});
}

void JsonEvents::Detection(std::uint16_t base, bool found, const std::string& detail) {
    Json event{{"event", "detection"}, {"address", base}, {"port", "0x" + HexWord(base)}};
    event["found"] = found;
    if (!detail.empty()) {
        event["detail"] = detail;
    }
    Emit(event);
}

void JsonEvents::Mismatch(std::uint32_t address, std::uint8_t image, std::uint8_t emulator) {
    Emit(Json{
        {"event", "mismatch"}, {"address", address}, {"image", image}, {"emulator", emulator}});
}

void JsonEvents::Pass(std::uint32_t pass, bool ok, std::int32_t passed, std::int32_t failed) {
    Emit(Json{
        {"event", "pass"}, {"pass", pass}, {"ok", ok}, {"passed", passed}, {"failed", failed}});
}

void JsonEvents::Page(std::uint32_t page, const std::string& text) {
    Emit(Json{{"event", "page"}, {"page", page}, {"text", text}});
}

void JsonEvents::Result(const std::string& command, int status, double seconds,
                        std::uint64_t bytes) {
    Emit(Json{{"event", "result"},
              {"command", command},
              {"status", status},
              {"class", StatusClass(status)},
              {"elapsed", std::round(seconds * 1000) / 1000},
              {"bytes", bytes}});
}

const char* JsonEvents::StatusClass(int status) {
    switch (status) {
        case kExitSuccess:
            return "success";
        case kExitMismatch:
            return "mismatch";
        case kExitUsage:
            return "usage";
        case kExitNoEmulator:
            return "no-emulator";
        case kExitFileError:
            return "file-error";
        default:
            return status > kExitSignal && status < kExitSignal + 64 ? "signal" : "unknown";
    }
}

}  // namespace tarvex::cli
