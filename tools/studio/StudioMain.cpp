#include "Studio.h"
#include "ToolConsole.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = zyr::startTool(argc, argv);
    zyr::askForOpenGl46();
    return zyr::studio::studioMain(arguments);
}
