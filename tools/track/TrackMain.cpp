// zyr-track entry point; the work is in the zyr_track library (TrackTool.h).
#include "TrackTool.h"

#include "ToolConsole.h"

#include <iostream>

int main(int argc, char** argv) {
    return zyr::runTrackTool(zyr::startTool(argc, argv), std::cout, std::cerr);
}
