#include "cli/Dump.h"

#include <cerrno>
#include <string>

#include "image/BufferPage.h"

namespace tarvex::cli {

bool PrintPages(std::FILE* out, std::span<const std::uint8_t> buffer, std::uint32_t lastPage,
                std::optional<std::uint32_t> page, int& error) {
    const std::uint32_t first = page.value_or(0);
    const std::uint32_t last = page.value_or(lastPage);
    for (std::uint32_t number = first; number <= last; ++number) {
        const std::string text = BufferPageText(buffer, number) + '\n';
        if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
            break;
        }
    }
    // A full disk or a closed pipe shows at the latest when the last bytes go out.
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = errno;
        return false;
    }
    return true;
}

}  // namespace tarvex::cli
