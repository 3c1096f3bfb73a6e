#include "image/ImageModel.h"

#include <algorithm>

namespace tarvex {

void ImageModel::SelectType(std::uint16_t type, std::uint32_t epromEnd) {
    CurrentEpromType = type;
    EpromEnd = std::min<std::uint32_t>(epromEnd, kBufferSize - 1);
    BufferStart = 0;
    BufferEnd = EpromEnd;
    EmulatorStart = 0;
    HexBase = 0;
    std::fill(DataBuffer.begin(), DataBuffer.begin() + EpromEnd + 1, FillValue);
}

}  // namespace tarvex
