#include "PrivateDisplay.h"
#include "RenderWindow.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

struct Placement {
    LaunchSettings settings;
    int x, y;
};

class WindowPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(WindowPlacement, WindowedWindowIsCentredOnThePrimaryMonitor) {
    const Placement& p = GetParam();
    auto window = createWindow(p.settings);
    int x = 0, y = 0, w = 0, h = 0;
    glfwGetWindowPos(window->handle(), &x, &y);
    glfwGetWindowSize(window->handle(), &w, &h);
    EXPECT_EQ(x, p.x);
    EXPECT_EQ(y, p.y);
    EXPECT_EQ(w, static_cast<int>(p.settings.width));
    EXPECT_EQ(h, static_cast<int>(p.settings.height));
}

INSTANTIATE_TEST_SUITE_P(
    OnA1920x1080Screen, WindowPlacement,
    ::testing::Values(Placement{{280, 230, false, "ZYR"}, 820, 425},
                      Placement{{1920, 1080, false, "Tessaran 2023"}, 0, 0},
                      // Larger than the screen: overhangs both edges equally.
                      Placement{{2560, 1440, false, "big"}, -320, -180},
                      Placement{{2001, 1081, false, "odd"}, -40, 0}));

TEST(Window, ContextIsOpenGL46CoreForwardCompatibleAndCurrent) {
    auto window = createWindow({64, 64, false, "context"});
    EXPECT_EQ(glfwGetCurrentContext(), window->handle());
    GLint major = 0, minor = 0, profile = 0, flags = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 6);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    EXPECT_TRUE(flags & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT);
    EXPECT_EQ(glfwGetWindowAttrib(window->handle(), GLFW_RESIZABLE), GLFW_FALSE);
    EXPECT_EQ(glfwGetWindowAttrib(window->handle(), GLFW_CONTEXT_NO_ERROR), GLFW_TRUE);
    // Entry points beyond 1.1 are loaded.
    EXPECT_NE(glCreateProgramPipelines, nullptr);
    EXPECT_NE(glProgramUniform4fv, nullptr);
}

TEST(Window, ASecondWindowAfterTheFirstIsDestroyedStartsGlfwAfresh) {
    {
        auto first = createWindow({280, 230, false, "ZYR"});
        ASSERT_NE(first->handle(), nullptr);
    }
    // GLFW was terminated with the first window; the second must initialise it again.
    auto second = createWindow({320, 200, false, "Tessaran 2023"});
    ASSERT_NE(second->handle(), nullptr);
    int x = 0, y = 0;
    glfwGetWindowPos(second->handle(), &x, &y);
    EXPECT_EQ(x, 800);
    EXPECT_EQ(y, 440);
    GLint major = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    EXPECT_EQ(major, 4);
}

TEST(Window, FullscreenWindowCoversTheMonitorAndIsNotMoved) {
    auto window = createWindow({1920, 1080, true, "Tessaran 2023"});
    EXPECT_NE(glfwGetWindowMonitor(window->handle()), nullptr);
    int x = -1, y = -1;
    glfwGetWindowPos(window->handle(), &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST(Window, NoDisplayIsReportedAsAnUnusableGlfw) {
    const std::string saved = std::getenv("DISPLAY");
    setenv("DISPLAY", ":31999", 1);  // nothing listens there
    try {
        createWindow({64, 64, false, "none"});
        ADD_FAILURE() << "expected an exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unable to initialize GLFW");
    }
    setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace

namespace {

TEST(Window, HiddenWindowHasTheSameContextAndIsNeverShown) {
    auto window = createHiddenWindow(640, 360);
    EXPECT_EQ(glfwGetWindowAttrib(window->handle(), GLFW_VISIBLE), GLFW_FALSE);
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_EQ(major * 10 + minor, 46);
    int w = 0, h = 0;
    glfwGetFramebufferSize(window->handle(), &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
}

}  // namespace
