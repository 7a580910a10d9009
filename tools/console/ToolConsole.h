// ToolConsole: what a tool's main needs from the system it runs on, one
// platform file each. Arguments and everything printed are UTF-8: on Windows
// the arguments come from the wide command line (the ANSI code page could not
// hold every author's folder name) and the console is switched to UTF-8
// output while the tool runs.
//
// Use:
//     int main(int argc, char** argv) {
//         const std::vector<std::string> args = startTool(argc, argv);
//         askForOpenGl46();
//         const bool live = isTerminal(stderr);   // progress redrawn in place
//
// Ownership: process-wide settings; the console's code page is put back as
// it was when the program exits normally.
//
// Failure: none reported; an argument that is not valid UTF-16 keeps a
// replacement character.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zyr {

// The arguments after the program's name, as UTF-8.
std::vector<std::string> startTool(int argc, char** argv);

// Mesa's software renderer offers OpenGL 4.5 unless asked for 4.6; drivers
// that offer 4.6 ignore the request, and a value the author set stays.
void askForOpenGl46();

// Whether stream is an interactive console or terminal.
bool isTerminal(std::FILE* stream);

}  // namespace zyr
