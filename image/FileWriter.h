#pragma once

#include <string>

#include "image/ImageModel.h"
#include "link/Host.h"

namespace tarvex {

// Saves DataBuffer[BufferStart..BufferEnd] as a binary image or Intel HEX (plain or
// extended, by model.FileType), reporting failures through the host.
class FileWriter {
public:
    FileWriter(ImageModel& model, Host& host);

    // `name` is the OutFile text.
    void SaveBufferToFile(const std::string& name);

private:
    ImageModel& model_;
    Host& host_;
};

}  // namespace tarvex
