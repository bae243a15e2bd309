// The two executables under test, named on the command line or in the environment.
#pragma once

#include <string>

struct ExecutablePaths {
    std::string release32; // argv[1] or CLIPMEND_EXE32
    std::string test64;    // argv[2] or CLIPMEND_EXE64
};

const ExecutablePaths& Executables();
