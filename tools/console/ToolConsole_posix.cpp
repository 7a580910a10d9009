#include "ToolConsole.h"

#include <cstdlib>
#include <unistd.h>

namespace zyr {

// Arguments and terminals are bytes here, and UTF-8 by convention.
std::vector<std::string> startTool(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void askForOpenGl46() {
    ::setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 0);
    ::setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace zyr
