// What the user is told of a chosen file before anything runs: what it is when the tool is not
// to be run on it, and the rebuild offered where one can help. Portable.
#pragma once

#include "framework/CString.h"
#include "media/SourceCheck.h"

// The message for a chosen file the tool is not to be run on, which says what it is; empty for
// a file it is run on. name: its file name.
CString DescribeUnrunnableSource(const CString& name, const CSourceInfo& info);

// The question that offers to rebuild a recording cut off before its index.
CString RebuildOffer(const CString& name, const CSourceInfo& info);
