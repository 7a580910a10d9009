// Process entry: the GUI entry point on Windows, main elsewhere. Both ignore
// their arguments; the presentation reads no command line.
#include "Presentation.h"

#ifdef _WIN32
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return tessaranMain(); }
#else
int main() { return tessaranMain(); }
#endif
