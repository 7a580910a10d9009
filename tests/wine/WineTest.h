// What every test of the Windows build under Wine shares: where that build
// is, one display for the suite and a wine server of its own. The server of an
// earlier run (it lingers after its last program) keeps to that run's
// display, now gone, and takes the next programs down with it.
#pragma once

#include "Desktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

class WineTest : public ::testing::Test {
protected:
    static inline const std::filesystem::path kWindows = TESSARAN_WINDOWS_BUILD;

    static void SetUpTestSuite() {
        x = std::make_unique<Xvfb>();
        stopWineServer();
    }
    static void TearDownTestSuite() {
        stopWineServer();
        x.reset();
    }
    // Ends the wine server and waits for it.
    static void stopWineServer() {
        const std::string prefix = "WINEPREFIX=" + (kWindows / "wine-prefix").string();
        x->run(prefix + " wineserver -k 2>/dev/null; " + prefix + " wineserver -w");
    }

    static inline std::unique_ptr<Xvfb> x;
};
