#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvex {

// The image of the emulated EPROM and the values that say which part of it every
// operation works on. One owner (the program shell); the batch worker uses it only
// while the main window is disabled, so it carries no lock.
struct ImageModel {
    static constexpr std::size_t kBufferSize = 0x20000;  // the largest type, 27010

    std::array<std::uint8_t, kBufferSize> DataBuffer{};  // 0x00 at start

    std::uint16_t CurrentEpromType = 0;  // 0: no type selected
    std::uint32_t EpromEnd = 0;
    std::uint32_t BufferStart = 0;
    std::uint32_t BufferEnd = 0;
    std::uint32_t EmulatorStart = 0;  // always 0
    std::uint32_t HexBase = 0;        // always 0
    std::uint8_t FillValue = 0xFF;
    bool AutoVerify = false;

    // Shared by the open and the save dialog: 0 binary, 1 Intel HEX, 2 Intel HEX extended,
    // 3 Motorola S-record.
    std::uint8_t FileType = 0;
    // True when the last load failed.
    bool ReadError = false;

    // The model's part of a type selection: type, ranges, fill.
    void SelectType(std::uint16_t type, std::uint32_t epromEnd);
};

}  // namespace tarvex
