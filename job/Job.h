// A job: the file the user chose and everything made of it (where the copy goes, the tool's
// command line, what the file was found to be), worked out once when the file is chosen and
// carried as one value from GO to the message that ends its run. The naming rules are portable,
// so they are tested without Windows.
#pragma once

#include "framework/CString.h"
#include "media/SourceCheck.h"

struct CJob {
    CString strSource;      // the chosen file, as chosen
    CString strSourceName;  // its file name, for messages
    CString strOutput;      // the new file
    CString strToolPath;    // the tool beside the program
    CString strRebuildPath; // the rebuild tool, in the tool's folder
    CString strToolFolder;  // where the tool runs
    CString strCommandLine; // the tool's whole command line
    CSourceInfo found;      // what the source check found: when the file was chosen, and at GO
    CString strReference;   // a rebuild's: the whole recording it rebuilds the source from
    bool bSearch = false;   // a rebuild's without one: settings the source lacks searched for
};

// The job of source for the program whose module file name is moduleFileName. Names only: the
// source is checked by whoever runs the job.
CJob MakeJob(const CString& source, const CString& moduleFileName);

// The folder of the running program, from its module file name: everything up to and
// including the last backslash; empty when the name holds none.
CString JobExeFolder(const CString& moduleFileName);

// Where the tool must lie: the "tool" folder beside the program.
CString JobToolPath(const CString& exeFolder);

// Where the rebuild tool lies, in the same folder: it runs the engine and the decoders on what
// the user chose, so that no byte of it is parsed by the program with the administrator's
// rights.
CString JobRebuildToolPath(const CString& exeFolder);

// The rebuild tool's command line: whether to search for settings the source lacks, then the
// media range when the source check found it.
CString JobRebuildCommandLine(const CString& rebuildPath, const CString& reference,
                              const CString& broken, const CString& output,
                              const CMediaRange* pMedia, bool bSearch = false);

// "<folder of source>\<title>-NEW.mp4"; the folder is the source up to its last backslash.
CString JobOutputPath(const CString& source, const CString& title);

// The Name tag: the source's file name less its last four characters (the extension of a
// ".mp4"); empty when nothing is left.
CString JobNameTag(const CString& source);

// The tool's whole command line. It ends with one space after the last quote.
CString JobCommandLine(const CString& toolPath, const CString& nameTag, const CString& source,
                       const CString& output);
