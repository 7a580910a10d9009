// The test program's own X display (started with -noreset, so GLFW can close
// and reopen its connection between tests without the server resetting).
#include "TestDisplay.h"
#include "PrivateDisplay.h"

const Xvfb& testDisplay() { return PrivateDisplayEnvironment::display(); }
