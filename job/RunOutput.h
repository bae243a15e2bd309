// The file a run writes, as the run control looks after it: its stamp before the run, to tell
// whether the run touched it, and its removal when the run ends without announcing it.
#pragma once

#include "framework/CString.h"

#include <windows.h>

#include <cstdint>

// What an output file looked like, to tell whether a run touched it.
struct COutputStamp {
    bool bExists = false;
    uint64_t nSize = 0;
    FILETIME ftWrite{};
    static COutputStamp Of(const CString& path);
    // The stamp of path before a run, which is made so that any rewrite changes it: an output
    // written in the last few seconds gets an older write time.
    static COutputStamp BeforeRun(const CString& path);
    bool operator==(const COutputStamp& other) const;
    bool operator!=(const COutputStamp& other) const { return !(*this == other); }
};

// Removes path, retrying for a few seconds while it is still held open (a tool just ended, or
// a process of its own it started). Nothing when there is no file.
void RemoveOutput(const CString& path);

// Before a rebuild, which creates its copy new: removes an earlier copy at output by its name
// (a link is removed, not what it leads to), unless that name is one of the recordings.
void RemoveEarlierCopy(const CString& output, const CString& recording, const CString& reference);
