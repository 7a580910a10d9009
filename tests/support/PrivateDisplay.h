// Gives a test program its own X display for in-process windows: include this
// header in exactly one source file of a test executable.
#pragma once

#include "Desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

class PrivateDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        xvfb_ = std::make_unique<Xvfb>(1920, 1080);
        setenv("DISPLAY", xvfb_->display().c_str(), 1);
    }
    void TearDown() override { xvfb_.reset(); }
    static const Xvfb& display() { return *instance->xvfb_; }

    static inline PrivateDisplayEnvironment* instance = nullptr;

private:
    std::unique_ptr<Xvfb> xvfb_;
};

inline const bool privateDisplayRegistered = [] {
    PrivateDisplayEnvironment::instance = new PrivateDisplayEnvironment;  // gtest takes ownership
    ::testing::AddGlobalTestEnvironment(PrivateDisplayEnvironment::instance);
    return true;
}();
