// zyr-track entry point; the work is in the zyr_track library (TrackTool.h).
#include "TrackTool.h"

#include <iostream>

int main(int argc, char** argv) {
    return zyr::runTrackTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
