// How a chosen source becomes a job: the output's path, the Name tag and the tool's command
// line. Portable, so the rules are tested without Windows.
#pragma once

#include "framework/CString.h"

// The folder of the running program, from its module file name: everything up to and
// including the last backslash; empty when the name holds none.
CString JobExeFolder(const CString& moduleFileName);

// Where the tool must lie: the "tool" folder beside the program.
CString JobToolPath(const CString& exeFolder);

// "<folder of source>\<title>-NEW.mp4"; the folder is the source up to its last backslash.
CString JobOutputPath(const CString& source, const CString& title);

// The Name tag: the source's file name less its last four characters (the extension of a
// ".mp4"); empty when nothing is left.
CString JobNameTag(const CString& source);

// The tool's whole command line. It ends with one space after the last quote.
CString JobCommandLine(const CString& toolPath, const CString& nameTag, const CString& source,
                       const CString& output);
