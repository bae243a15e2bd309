#include "job/JobNaming.h"

CString JobExeFolder(const CString& moduleFileName) {
    return moduleFileName.Left(moduleFileName.ReverseFind('\\') + 1);
}

CString JobToolPath(const CString& exeFolder) {
    return exeFolder + "tool\\MP4Box.exe";
}

CString JobOutputPath(const CString& source, const CString& title) {
    const CString folder = source.Left(source.ReverseFind('\\'));
    CString output;
    output.Format("%s\\%s-NEW.mp4", static_cast<const char*>(folder),
                  static_cast<const char*>(title));
    return output;
}

CString JobNameTag(const CString& source) {
    const int k = source.ReverseFind('\\');
    const int length = source.GetLength() - k - 5;
    return length > 0 ? source.Mid(k + 1, length) : CString();
}

CString JobCommandLine(const CString& toolPath, const CString& nameTag, const CString& source,
                       const CString& output) {
    CString cmd;
    cmd.Format("\"%s\" -itags \"Name=%s\" -add \"%s\" -new \"%s\" ",
               static_cast<const char*>(toolPath), static_cast<const char*>(nameTag),
               static_cast<const char*>(source), static_cast<const char*>(output));
    return cmd;
}
