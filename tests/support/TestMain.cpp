// Entry point of every test program: the environment the suite needs, however
// the program is started (ctest, by hand, a debugger), then GoogleTest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>

int main(int argc, char** argv) {
    // Mesa's software renderer offers 4.5 and is asked for 4.6; drivers that offer
    // 4.6 ignore this.
    setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 0);
    setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);
    setenv("TESSARAN_BINARY", TESSARAN_BINARY, 0);
    setenv("TESSARAN_SOURCE_DIR", TESSARAN_SOURCE_DIR, 0);
#ifdef __SANITIZE_ADDRESS__
    // Mesa's software driver leaks a little on every draw and is unloaded when
    // GLFW terminates, after which no leak suppression can name it. Keeping it
    // loaded lets the suppression match, so leaks of our own still fail a test.
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
