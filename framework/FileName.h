// File-name pieces of a Windows path, as the framework's file dialog reports them.
#pragma once

#include "framework/CString.h"

// The part after the last backslash or slash (the whole path if there is none).
CString AfxFileNameOf(const CString& path);
// The file name without its extension (the text from its last '.' on); "clip.mp4" -> "clip".
CString AfxFileTitleOf(const CString& path);
