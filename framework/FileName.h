// File-name pieces of a Windows path, as the framework's file dialog reports them.
#pragma once

#include "framework/CString.h"

// The part after the last backslash or slash (the whole path if there is none).
CString AfxFileNameOf(const CString& path);
// The file name without its extension (the text from its last '.' on); "clip.mp4" -> "clip".
CString AfxFileTitleOf(const CString& path);

#if defined(_WIN32)
// Whether a file or folder exists at exactly this path. '?' and '*' are never expanded (no
// find-first): no file name holds them, so a path with one (the '?' an older system puts for a
// character its code page lacks, say) names nothing, even where a search would match a file.
bool AfxPathExists(const CString& path);
#endif
