#include "job/Job.h"

#include "framework/FileName.h"

CJob MakeJob(const CString& source, const CString& moduleFileName) {
    CJob job;
    job.strSource = source;
    job.strSourceName = AfxFileNameOf(source);
    job.strOutput = JobOutputPath(source, AfxFileTitleOf(source));
    job.strToolPath = JobToolPath(JobExeFolder(moduleFileName));
    job.strRebuildPath = JobRebuildToolPath(JobExeFolder(moduleFileName));
    job.strToolFolder = job.strToolPath.Left(job.strToolPath.ReverseFind('\\'));
    job.strCommandLine = JobCommandLine(job.strToolPath, JobNameTag(source), source, job.strOutput);
    return job;
}

CString JobExeFolder(const CString& moduleFileName) {
    return moduleFileName.Left(moduleFileName.ReverseFind('\\') + 1);
}

CString JobToolPath(const CString& exeFolder) {
    return exeFolder + "tool\\MP4Box.exe";
}

CString JobRebuildToolPath(const CString& exeFolder) {
    return exeFolder + "tool\\ClipmendRebuild.exe";
}

CString JobRebuildCommandLine(const CString& rebuildPath, const CString& reference,
                              const CString& broken, const CString& output,
                              const CMediaRange* pMedia, bool bSearch) {
    CString cmd, media;
    if (pMedia)
        media.Format("--media %llu %llu ", static_cast<unsigned long long>(pMedia->nBegin),
                     static_cast<unsigned long long>(pMedia->nEnd));
    CString quoted;
    if (!reference.IsEmpty())
        quoted.Format("\"%s\" ", static_cast<const char*>(reference));
    cmd.Format("\"%s\" %s%s%s\"%s\" \"%s\"", static_cast<const char*>(rebuildPath),
               bSearch ? "--search " : "", static_cast<const char*>(media),
               static_cast<const char*>(quoted), static_cast<const char*>(broken),
               static_cast<const char*>(output));
    return cmd;
}

CString JobOutputPath(const CString& source, const CString& title) {
    const CString folder = source.Left(source.ReverseFind('\\'));
    CString output;
    output.Format("%s\\%s-NEW.mp4", static_cast<const char*>(folder),
                  static_cast<const char*>(title));
    return output;
}

CString JobNameTag(const CString& source) {
    // Characters, not bytes: a name in a multibyte code page is never cut inside one.
    const CString name = source.Mid(source.ReverseFind('\\') + 1);
    return name.LeftChars(name.GetCharCount() - 4);
}

CString JobCommandLine(const CString& toolPath, const CString& nameTag, const CString& source,
                       const CString& output) {
    CString cmd;
    cmd.Format("\"%s\" -itags \"Name=%s\" -add \"%s\" -new \"%s\" ",
               static_cast<const char*>(toolPath), static_cast<const char*>(nameTag),
               static_cast<const char*>(source), static_cast<const char*>(output));
    return cmd;
}
