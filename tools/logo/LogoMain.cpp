// zyr-logo entry point; the work is in the zyr_logo library (Logo.h).
#include "Logo.h"

#include <iostream>

int main(int argc, char** argv) {
    return zyr::runLogoTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
