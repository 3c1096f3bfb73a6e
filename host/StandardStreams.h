#pragma once

namespace tarvex {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Called first thing in
// main: started with `2>&-`, the next file opened would otherwise become descriptor 2, and
// every message would be written into it (a saved image, a lock file).
void KeepStandardDescriptorsOpen();

}  // namespace tarvex
