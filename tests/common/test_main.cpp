// Test entry point. Each test process (and any provider process it starts,
// which inherits the environment) gets its own shared-memory namespace, so that
// ctest's parallel runs never see each other's "Global\ATLPERF_..." blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    const char* current = std::getenv("VUDOZID_SHM_NAMESPACE");
    if (current == nullptr || *current == '\0')
        setenv("VUDOZID_SHM_NAMESPACE", ("test" + std::to_string(getpid())).c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
