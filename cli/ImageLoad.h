#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/FileLoader.h"
#include "image/ImageModel.h"

namespace tarvex::cli {

// The line a command line adds below the loader's message: where the records lie against the
// range and what would load them (--hex-base, --crop, --format xhex). Empty when it knows no
// more than the loader said. `type` names the EPROM type, as 2764.
// `option` is the option that names the format: --format, or --from for convert.
std::string LoadFailureHint(const LoadReport& report, const ImageModel& image, std::uint16_t type,
                            const char* option);

// What --crop left out: "left out 4 bytes at 810000-810003 outside 00000-1FFFF"; empty when
// nothing was.
std::string LeftOutNote(const LoadReport& report, const ImageModel& image);

// What a file's first line made of it, said like progress: "Intel HEX text, loaded as xhex".
std::string PickedFormatNote(const std::optional<std::uint8_t>& textFormat);

// Why a FILE taken as bin by its name is refused when it is plainly text (`textFormat`, 2 or
// 3); `option` is --format or --from.
std::string TextAsBinaryComplaint(const std::string& name, std::uint8_t textFormat,
                                  const char* option);

}  // namespace tarvex::cli
