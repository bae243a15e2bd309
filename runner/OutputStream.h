// The child's two output streams, numbered once: the runner's records, the tool's log and its
// progress all speak of them by these. Portable.
#pragma once

enum class EOutputStream : unsigned { StdOut = 0, StdErr = 1 };
constexpr unsigned kOutputStreams = 2;

inline unsigned StreamIndex(EOutputStream eStream) {
    return static_cast<unsigned>(eStream);
}
