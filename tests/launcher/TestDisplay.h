// The test program's private X display (1920 x 1080), set as DISPLAY before the
// first test runs.
#pragma once

#include "Desktop.h"

const Xvfb& testDisplay();
