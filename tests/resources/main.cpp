// resource_tests [release32.exe [test64.exe]] [gtest flags]
// A path left off the command line comes from CLIPMEND_EXE32 / CLIPMEND_EXE64.
#include "Executables.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

ExecutablePaths g_paths;

std::string PathArg(int argc, char** argv, int index, const char* envName) {
    if (index < argc)
        return argv[index];
    const char* env = std::getenv(envName);
    return env ? env : "";
}

} // namespace

const ExecutablePaths& Executables() {
    return g_paths;
}

int main(int argc, char** argv) {
    // GoogleTest removes its own flags and leaves the paths.
    testing::InitGoogleTest(&argc, argv);
    g_paths.release32 = PathArg(argc, argv, 1, "CLIPMEND_EXE32");
    g_paths.test64 = PathArg(argc, argv, 2, "CLIPMEND_EXE64");
    return RUN_ALL_TESTS();
}
