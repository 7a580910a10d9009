// zyr-pack entry point; the work is in the zyr_pack library (PackTool.h).
#include "PackTool.h"

#include <iostream>

int main(int argc, char** argv) {
    return zyr::runPackTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
