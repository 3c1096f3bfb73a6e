#include <string>
#include <vector>

#include "cli/Commands.h"
#include "host/StandardStreams.h"

int main(int argc, char** argv) {
    tarvex::KeepStandardDescriptorsOpen();
    return tarvex::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
