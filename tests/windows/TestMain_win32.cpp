// Entry point of the Windows test program; run by the Linux suite under Wine.
// With "--child" first it is the child the process tests start instead.
#include <gtest/gtest.h>

#include <cstring>

int runAsChild();

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return runAsChild();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
