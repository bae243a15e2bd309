// The environment the tool runs in: this process's, less SHELL (the multiplexer would colour
// its lines), with PATH the system's folders only (a DLL the tool loads by name must not come
// from a folder a user can write to: the tool runs elevated).
#pragma once

#include <string>

// A block for CreateProcess: "NAME=value" strings, each ended by a zero, and one zero more.
std::wstring ToolEnvironment();
