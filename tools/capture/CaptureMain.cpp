// zyr-capture entry point; the work is in the zyr_capture_core library (CaptureTool.h).
#include "CaptureTool.h"
#include "StopRequest.h"

#include <cstdlib>

int main(int argc, char** argv) {
    // As run.sh does for the player: Mesa's software renderer offers 4.5 and must
    // be asked for 4.6; drivers that offer 4.6 ignore this, and a value the
    // author set stays.
    setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 0);
    setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);
    installStopHandlers();
    const int status = zyr::runCaptureTool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
    // Stopped by SIGINT or SIGTERM: the frames written are whole and ffmpeg is
    // gone; end by that signal, as the shell expects of an interrupted command.
    raiseRequestedStop();
    return status;
}
