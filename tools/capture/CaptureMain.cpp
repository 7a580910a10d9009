// zyr-capture entry point; the work is in the zyr_capture_core library (CaptureTool.h).
#include "CaptureTool.h"
#include "StopRequest.h"
#include "ToolConsole.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = zyr::startTool(argc, argv);
    zyr::askForOpenGl46();
    installStopHandlers();
    const int status = zyr::runCaptureTool(arguments, stdout, stderr);
    // Stopped by a signal (Ctrl+C, closing the console): the frames written
    // are whole and ffmpeg is gone; end by that signal, as the shell expects
    // of an interrupted command.
    raiseRequestedStop();
    return status;
}
