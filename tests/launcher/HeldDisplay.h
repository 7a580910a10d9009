// The test program's private X display (1920 x 1080), set as DISPLAY before the
// first test runs; a connection to it is held until the last has ended.
#pragma once

#include "Desktop.h"

const Xvfb& testDisplay();
