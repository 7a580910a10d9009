// Process entry on Windows: the GUI entry point, arguments ignored; the
// presentation reads no command line.
#include "Presentation.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // GLFW loads XInput for joysticks at every init and frees it at every
    // terminate, and a run has two (launcher, then presentation). Some XInput
    // implementations keep a device thread that can still be running when the
    // library is freed, which then faults in unmapped code (seen under Wine).
    // Holding one reference for the process keeps the library, and its thread,
    // in place; nothing here is ever freed.
    LoadLibraryA("xinput1_4.dll");
    return tessaranMain();
}
