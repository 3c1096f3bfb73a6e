#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

namespace tarvex::cli {

// `tarvex dump`: prints the pages of the image as the Options window shows them, each page
// as its 16 lines followed by a line break. `page` picks one page of the pages 0 to
// `lastPage`; without it all of them are printed. On a failed write, returns false with the
// errno value in `error`.
bool PrintPages(std::FILE* out, std::span<const std::uint8_t> buffer, std::uint32_t lastPage,
                std::optional<std::uint32_t> page, int& error);

}  // namespace tarvex::cli
