#include <string>
#include <vector>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    return tarvex::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
