#include "job/SourceReport.h"

namespace {

// What can help a recording cut off before its index.
const char kSecondRecording[] = "\n\nWhat can help: a second, whole recording made by the same "
                                "device with the same settings.";

CString CutOffText(const char* pszName) {
    CString text;
    text.Format("%s was cut off before its index was written: the recording stopped (the camera or "
                "phone lost power, or the recording program was ended) before the part that says "
                "where each picture and sound lies was saved. The video is still in the file, but "
                "no player can find it.",
                pszName);
    return text;
}

} // namespace

CString DescribeUnrunnableSource(const CString& name, const CSourceInfo& info) {
    const char* pszName = name;
    CString text;
    switch (info.eKind) {
    case ESourceKind::Mp4:
    case ESourceKind::Mp4CutShort:
    case ESourceKind::MpegTs:
    case ESourceKind::Avi:
        break;
    case ESourceKind::NoIndex:
        if (info.nMediaBytes == 0) {
            text.Format("%s holds no video: its recording stopped before any was saved.", pszName);
            break;
        }
        text = CutOffText(pszName) + kSecondRecording;
        break;
    case ESourceKind::Matroska:
    case ESourceKind::WebM:
        text.Format("%s is %s video, not an MP4 file. Clipmend fixes MP4 files only.", pszName,
                    info.eKind == ESourceKind::WebM ? "a WebM" : "a Matroska");
        break;
    case ESourceKind::AppleDouble:
        text.Format("%s is no video: it is a macOS metadata file, which a Mac leaves beside the "
                    "files it copies. The video itself is %s.",
                    pszName,
                    name.Left(2) == "._" ? static_cast<const char*>(name.Mid(2))
                                         : "the file of the same name without \"._\"");
        break;
    case ESourceKind::Empty:
        text.Format("%s is empty: there is no video in it.", pszName);
        break;
    case ESourceKind::Zeros:
        text.Format("%s holds nothing but zeros: its video was never written into it (a copy or a "
                    "download that did not finish).",
                    pszName);
        break;
    case ESourceKind::Unknown:
        text.Format("%s is not an MP4 file, nor any other video file Clipmend knows.", pszName);
        break;
    case ESourceKind::Unreadable:
        text.Format("%s cannot be read.", pszName);
        break;
    }
    return text;
}

CString RebuildOffer(const CString& name, const CSourceInfo& info, const CString& why) {
    if (info.eKind != ESourceKind::NoIndex)
        return DescribeUnrunnableSource(name, info);
    CString alone;
    alone.Format(" Clipmend cannot rebuild the index from this file alone: %s.",
                 static_cast<const char*>(why));
    return CutOffText(name) + alone + kSecondRecording +
           "\n\nDo you have such a recording? Choose it, and Clipmend rebuilds the index of this "
           "one from it.";
}

CString SearchOffer(const CString& name, const CSourceInfo& info) {
    if (info.eKind != ESourceKind::NoIndex)
        return DescribeUnrunnableSource(name, info);
    return CutOffText(name) +
           " It does not carry the settings its video was recorded with, but Clipmend can "
           "search for them by trying them on its decoders. That can take a minute or two, and "
           "what decoding cannot check (the strength of its colours and of its fine detail) is "
           "taken as most cameras write it, so the pictures may look slightly different." +
           kSecondRecording +
           "\n\nSearch for the settings now? Choose No to rebuild it from such a recording.";
}

CString SourceNotFound() {
    return "Cannot find the source video file";
}

CString InvalidInput() {
    return "The input is invalid";
}

CString ManyFilesDropped(unsigned nCount, const CString& first) {
    CString note;
    note.Format("Clipmend fixes one file at a time. Only the first of the %u files dropped "
                "is taken:\n%s",
                nCount, static_cast<const char*>(first));
    return note;
}

CString ReplaceQuestion(const CString& output) {
    CString question;
    question.Format("%s already exists. Replace it?", static_cast<const char*>(output));
    return question;
}
