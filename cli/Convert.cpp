#include "cli/Convert.h"

#include <iostream>

namespace tarvex::cli {

int RunConvert(const std::vector<std::string>& /*args*/) {
    std::cerr << "tarvex: convert is not available yet\n";
    return 2;
}

}  // namespace tarvex::cli
