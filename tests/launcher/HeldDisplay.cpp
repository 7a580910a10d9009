// The test program's own X display, and a connection to it held for the whole run.
//
// An X server resets whenever its last client leaves and for a moment refuses new
// connections. Every test here starts and ends GLFW, so without a connection
// held in between the next start can hit that moment and fail to initialise.
#include "HeldDisplay.h"
#include "PrivateDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

// Last: Xlib defines macros (Bool, None, Status) that clash with other headers.
#include <X11/Xlib.h>

namespace {

class HeldDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        for (int attempt = 0; attempt < 50 && !display_; ++attempt) {
            display_ = XOpenDisplay(nullptr);
            if (!display_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_NE(display_, nullptr) << "cannot connect to display " << std::getenv("DISPLAY");
    }
    void TearDown() override {
        if (display_) XCloseDisplay(display_);
        display_ = nullptr;
    }

private:
    Display* display_ = nullptr;
};

// Defined after the private display's registration (from the header above), so
// it is set up after that display exists and torn down before it goes.
[[maybe_unused]] ::testing::Environment* const held = ::testing::AddGlobalTestEnvironment(new HeldDisplay);

} // namespace

const Xvfb& testDisplay() { return PrivateDisplayEnvironment::display(); }
