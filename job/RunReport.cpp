#include "job/RunReport.h"

#include "rebuild/Rebuild.h"

namespace {

// The loader ends a process with one of these before its first line runs when a DLL it needs
// is missing (0xC0000135), lacks an entry point (0xC0000139), is built for another machine
// (0xC000007B) or fails to start (0xC0000142).
bool IsLoadFailure(uint32_t exitCode) {
    return exitCode == 0xC0000135u || exitCode == 0xC0000139u || exitCode == 0xC000007Bu ||
           exitCode == 0xC0000142u;
}

} // namespace

const char* const kToolWroteNothing = "The BOX program ended without writing the new file.";

CString DescribeExitCode(uint32_t exitCode) {
    CString text;
    if (IsLoadFailure(exitCode))
        text.Format("The BOX program could not be loaded (exception 0x%08X): a DLL it needs is "
                    "missing or does not fit. Copy the DLLs that come with MP4Box into the tool "
                    "folder beside Clipmend.",
                    static_cast<unsigned>(exitCode));
    // Exception codes (NTSTATUS errors) mean the process died rather than chose to fail.
    else if (exitCode >= 0xC0000000u)
        text.Format("The BOX program crashed (exception 0x%08X).", static_cast<unsigned>(exitCode));
    else
        text.Format("The BOX program ended with exit code %u.", static_cast<unsigned>(exitCode));
    return text;
}

CString FormatDuration(double dSeconds) {
    const long long nTotal = dSeconds > 0 ? static_cast<long long>(dSeconds + 0.5) : 0;
    CString text;
    if (nTotal >= 3600)
        text.Format("%lld:%02lld:%02lld", nTotal / 3600, nTotal / 60 % 60, nTotal % 60);
    else
        text.Format("%lld:%02lld", nTotal / 60, nTotal % 60);
    return text;
}

CString FormatRunReport(const CRunOutcome& outcome) {
    const char* pszOutput = outcome.strOutput;
    const char* pszSource = outcome.strSourceName;
    CString message;
    if (outcome.nExitCode == 0 && outcome.file.bValid) {
        message.Format("Done! Created new file %s", pszOutput);
        const double dSaved = outcome.file.dSampleSeconds;
        const double dStated = outcome.dStatedSeconds;
        // A second is what audio priming and rounding can take; more is missing video.
        const bool bShort = dStated > 0 && dSaved + 1.0 < dStated;
        if (outcome.eSource == ESourceKind::Mp4CutShort || bShort) {
            CString part;
            if (dStated > 0 && dSaved < dStated)
                part.Format("\nThe new file holds %s of the %s the video should have: the rest "
                            "of %s is missing (it was cut short).",
                            static_cast<const char*>(FormatDuration(dSaved)),
                            static_cast<const char*>(FormatDuration(dStated)), pszSource);
            else
                part.Format("\nThe new file holds %s of the video: the rest of %s is missing "
                            "(it was cut short).",
                            static_cast<const char*>(FormatDuration(dSaved)), pszSource);
            message.Format("Saved what was left! Created new file %s", pszOutput);
            message += part;
        } else if (outcome.eSource == ESourceKind::MpegTs || outcome.eSource == ESourceKind::Avi) {
            CString kind;
            kind.Format("\n%s was %s video; the new file is an MP4 file.", pszSource,
                        outcome.eSource == ESourceKind::MpegTs ? "an MPEG-TS" : "an AVI");
            message += kind;
        }
        return message;
    }
    message.Format("Failed! Could not create new file %s\n%s", pszOutput,
                   static_cast<const char*>(outcome.nExitCode != 0
                                                ? DescribeExitCode(outcome.nExitCode)
                                                : outcome.file.strProblem));
    if (!outcome.strToolLines.IsEmpty())
        message += CString("\n\n") + outcome.strToolLines;
    return message;
}

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
        text.Format("%s was cut off before its index was written: the recording stopped (the "
                    "camera or phone lost power, or the recording program was ended) before the "
                    "part that says where each picture and sound lies was saved. The video is "
                    "still in the file, but no player can find it, and no program can rebuild "
                    "the index from this file alone.\n\nWhat can help: a second, whole "
                    "recording made by the same device with the same settings.",
                    pszName);
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

CString RebuildOffer(const CString& name, const CSourceInfo& info) {
    return DescribeUnrunnableSource(name, info) +
           "\n\nDo you have such a recording? Choose it, and Clipmend rebuilds the index of this "
           "one from it.";
}

namespace {

// "812 bytes", "37 KB", "1.2 MB", "3.4 GB".
CString FormatBytes(uint64_t nBytes) {
    CString text;
    const double dBytes = static_cast<double>(nBytes);
    if (nBytes < 1000)
        text.Format("%u bytes", static_cast<unsigned>(nBytes));
    else if (nBytes < 1000000)
        text.Format("%.0f KB", dBytes / 1e3);
    else if (nBytes < 1000000000)
        text.Format("%.1f MB", dBytes / 1e6);
    else
        text.Format("%.1f GB", dBytes / 1e9);
    return text;
}

} // namespace

CString FormatRebuildReport(const CString& broken, const CString& reference, const CString& output,
                            const CRebuildResult& result) {
    using EStatus = CRebuildResult::EStatus;
    CString message;
    switch (result.eStatus) {
    case EStatus::Rebuilt:
        break;
    case EStatus::Mismatch:
    case EStatus::ReferenceUnusable:
    case EStatus::NoMediaData:
        message.Format("Cannot rebuild %s from %s.\n%s\nNothing was written.",
                       static_cast<const char*>(broken), static_cast<const char*>(reference),
                       result.strDetail.c_str());
        return message;
    case EStatus::ReadFailed:
    case EStatus::WriteFailed:
    case EStatus::Cancelled:
        message.Format("Failed! Could not create new file %s\n%s", static_cast<const char*>(output),
                       result.strDetail.c_str());
        return message;
    }
    // "0:12 of video and 0:12 of sound"
    CString what;
    for (size_t i = 0; i < result.tracks.size(); ++i) {
        const CRebuiltTrack& track = result.tracks[i];
        const double dSeconds =
            track.nTimescale ? static_cast<double>(track.nDuration) / track.nTimescale : 0.0;
        CString part;
        part.Format("%s of %s", static_cast<const char*>(FormatDuration(dSeconds)),
                    track.eKind == CRebuiltTrack::EKind::Video   ? "video"
                    : track.eKind == CRebuiltTrack::EKind::Audio ? "sound"
                                                                 : track.strCodec.c_str());
        if (i > 0)
            what += i + 1 == result.tracks.size() ? " and " : ", ";
        what += part;
    }
    message.Format("Done! Created new file %s\n%s rebuilt: %s.", static_cast<const char*>(output),
                   static_cast<const char*>(broken), static_cast<const char*>(what));
    if (result.nBytesLeftOut > 0) {
        CString left;
        left.Format("\nLeft out: the last %s of the recording, from %s on (%s).",
                    static_cast<const char*>(FormatBytes(result.nBytesLeftOut)),
                    static_cast<const char*>(FormatDuration(result.dStoppedAt)),
                    result.strLeftOutReason.c_str());
        message += left;
    }
    for (const std::string& strTrack : result.tracksLeftOut) {
        CString left;
        left.Format("\nLeft out: %s.", strTrack.c_str());
        message += left;
    }
    return message;
}

CString FormatStartFailure(const CString& reason) {
    CString message("Cannot start the BOX program");
    if (!reason.IsEmpty())
        message += CString("\n") + reason;
    return message;
}
