// Test entry point. ctest runs every test in its own process, several at a
// time; each process (and any provider process it starts, which inherits the
// environment) gets its own shared-memory namespace so that blocks named
// "Global\ATLPERF_..." of one test are never seen by another.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    const char* current = std::getenv("VUDOZID_SHM_NAMESPACE");
    if (current == nullptr || *current == '\0') {
        const std::string space = "test" + std::to_string(static_cast<long>(getpid()));
        setenv("VUDOZID_SHM_NAMESPACE", space.c_str(), 1);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
