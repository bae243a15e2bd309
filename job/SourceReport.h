// What the user is told of a chosen file before anything runs: what it is when the tool is not
// to be run on it, that it is not there or is no file at all, and the questions asked before a
// run (a rebuild offered, an earlier copy replaced). Portable.
#pragma once

#include "framework/CString.h"
#include "media/SourceCheck.h"

// The message for a chosen file the tool is not to be run on, which says what it is; empty for
// a file it is run on. name: its file name.
CString DescribeUnrunnableSource(const CString& name, const CSourceInfo& info);

// The question that offers to rebuild a recording cut off before its index from a whole one,
// once it could not be rebuilt by itself (why: "its video does not carry ...").
CString RebuildOffer(const CString& name, const CSourceInfo& info, const CString& why);

// The question when a recording cut off before its index could be rebuilt by itself only by a
// search for its settings: Yes searches, No asks for a whole recording.
CString SearchOffer(const CString& name, const CSourceInfo& info);

// The message at GO when the chosen file is gone.
CString SourceNotFound();
// The message for a choice that is no file to run on: a folder, a name without an extension.
CString InvalidInput();
// The note on a drop of nCount files, of which only the first (named first) is taken.
CString ManyFilesDropped(unsigned nCount, const CString& first);
// The question before an earlier output is replaced.
CString ReplaceQuestion(const CString& output);
