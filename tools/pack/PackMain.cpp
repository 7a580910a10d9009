// zyr-pack entry point; the work is in the zyr_pack library (PackTool.h).
#include "PackTool.h"

#include "ToolConsole.h"

#include <iostream>

int main(int argc, char** argv) {
    return zyr::runPackTool(zyr::startTool(argc, argv), std::cout, std::cerr);
}
