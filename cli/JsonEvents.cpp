#include "cli/JsonEvents.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "image/HexText.h"

namespace tarvex::cli {

using Json = nlohmann::ordered_json;

namespace {

bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

template <typename Event>
void JsonEvents::Emit(const Event& event) {
    if (error_ != 0) {
        return;
    }
    // File names may hold bytes that are no UTF-8: shown with U+FFFD, and their bytes given
    // beside them in hexadecimal, so that the name can be told from a real U+FFFD one.
    Json full = event;
    for (const auto& [key, value] : event.items()) {
        if (value.is_string() && !IsUtf8(value.template get<std::string>())) {
            std::string hex;
            for (const char c : value.template get<std::string>()) {
                hex += HexByte(static_cast<std::uint8_t>(c));
            }
            full[key + "_bytes"] = hex;
        }
    }
    const std::string line = full.dump(-1, ' ', false, Json::error_handler_t::replace);
    errno = 0;
    if (std::fprintf(stream_, "%s\n", line.c_str()) < 0 || std::fflush(stream_) != 0) {
        error_ = errno != 0 ? errno : EIO;
        if (error_ != EPIPE) {  // a reader that has seen enough is no failure to report
            std::fprintf(stderr, "tarvex: cannot write the JSON events: %s\n",
                         std::strerror(error_));
        }
    }
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

void JsonEvents::Cycle(const std::string& file, std::uint64_t changed, std::size_t runs,
                       const char* written, int verified, int status) {
    Json event{{"event", "cycle"}, {"file", file}, {"changed", changed}, {"runs", runs}};
    event["written"] = written;
    event["verified"] = verified < 0 ? Json() : Json(verified != 0);
    event["status"] = status;
    event["class"] = StatusClass(status);
    Emit(event);
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
