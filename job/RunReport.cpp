#include "job/RunReport.h"

#include "media/Box.h"
#include "rebuild/Rebuild.h"

#include <cmath>
#include <string>

namespace {

// The loader ends a process with one of these before its first line runs when a DLL it needs
// is missing (0xC0000135), lacks an entry point (0xC0000139), is built for another machine
// (0xC000007B) or fails to start (0xC0000142).
bool IsLoadFailure(uint32_t exitCode) {
    return exitCode == 0xC0000135u || exitCode == 0xC0000139u || exitCode == 0xC000007Bu ||
           exitCode == 0xC0000142u;
}

} // namespace

CString DescribeOutputProblem(EMp4Problem eProblem) {
    switch (eProblem) {
    case EMp4Problem::None:
        break;
    case EMp4Problem::Missing:
        return "The new file does not exist.";
    case EMp4Problem::CannotOpen:
        return "The new file cannot be opened.";
    case EMp4Problem::Empty:
        return "The new file is empty.";
    case EMp4Problem::CannotRead:
        return "The new file could not be read.";
    case EMp4Problem::NotMp4:
        return "The new file is not an MP4 file.";
    case EMp4Problem::CutShort:
        return "The new file is cut short: a box runs past its end.";
    case EMp4Problem::BadHeader:
        return "The new file is damaged: a box header is not valid.";
    case EMp4Problem::BadSize:
        return "The new file is damaged: a box has an impossible size.";
    case EMp4Problem::TooManyBoxes:
        return "The new file has too many boxes to check.";
    case EMp4Problem::NoMoov:
        return "The new file has no movie header (moov).";
    case EMp4Problem::EmptyMoov:
        return "The new file has an empty movie header (moov).";
    case EMp4Problem::NoFtyp:
        return "The new file is not an MP4 file: it has no file type box (ftyp).";
    }
    return CString();
}

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
    if (outcome.nExitCode == 0 && !outcome.bUnchanged && outcome.file.IsValid()) {
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
    const CString why = outcome.nExitCode != 0 ? DescribeExitCode(outcome.nExitCode)
                        : outcome.bUnchanged
                            ? CString("The BOX program ended without writing the new file.")
                            : DescribeOutputProblem(outcome.file.eProblem);
    message.Format("Failed! Could not create new file %s\n%s", pszOutput,
                   static_cast<const char*>(why));
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

using EProblem = CRebuildResult::EProblem;
using EKind = CMismatch::EKind;

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

// "48", "44.1", "29.97": at most three decimals, none that are zero.
CString FormatNumber(double dValue) {
    CString text;
    text.Format("%.3f", dValue);
    std::string str = text.str();
    while (!str.empty() && str.back() == '0')
        str.pop_back();
    if (!str.empty() && str.back() == '.')
        str.pop_back();
    return CString(str.c_str());
}

CString CountText(int64_t nCount) {
    static const char* const kWords[] = {"no", "one", "two", "three", "four", "five"};
    if (nCount >= 0 && nCount < 6)
        return kWords[nCount];
    CString text;
    text.Format("%lld", static_cast<long long>(nCount));
    return text;
}

CString RateText(int64_t nHertz) {
    return FormatNumber(static_cast<double>(nHertz) / 1000.0) + " kHz";
}

const char* LayoutText(int64_t nChannelConfig) {
    static const char* const kLayouts[] = {
        "a custom channel layout", "mono", "stereo", "3.0", "4.0", "5.0", "5.1", "7.1"};
    return nChannelConfig >= 0 && nChannelConfig <= 7 ? kLayouts[nChannelConfig] : "multichannel";
}

// What a handler type is called: "video", "sound", "timecode", ...
CString HandlerName(uint32_t nHandler) {
    switch (nHandler) {
    case 0x76696465: // vide
        return "video";
    case 0x736F756E: // soun
        return "sound";
    case 0x746D6364: // tmcd
        return "timecode";
    case 0x6D657461: // meta
    case 0x63616D6D: // camm
        return "metadata";
    case 0x74657874: // text
    case 0x7362746C: // sbtl
    case 0x73756274: // subt
        return "subtitles";
    case 0x68696E74: // hint
        return "hint";
    default:
        return CString("'") + FourCCText(nHandler).c_str() + "'";
    }
}

// What a decoder said, short enough for a message.
CString DecoderWords(const std::string& strSaid) {
    const size_t kMax = 80;
    std::string str = strSaid.empty() ? "no reason given" : strSaid;
    if (str.size() > kMax)
        str = str.substr(0, kMax - 3) + "...";
    return CString(str.c_str());
}

CString MismatchText(const CMismatch& m) {
    CString text;
    const char* pszRecording = m.strRecording.c_str();
    const char* pszReference = m.strReference.c_str();
    switch (m.eKind) {
    case EKind::None:
    case EKind::DoesNotBegin:
        return "The recording's media data does not begin with video or sound like the "
               "reference's.";
    case EKind::VideoCodec:
        text.Format("The recording's video is %s, the reference's is %s.", pszRecording,
                    pszReference);
        return text;
    case EKind::VideoWithoutReferenceVideo:
        text.Format("The recording has %s video, the reference has no video.", pszRecording);
        return text;
    case EKind::PictureSize:
        text.Format(
            "The recording's video is %lldx%lld: it is not %lldx%lld like the reference's.",
            static_cast<long long>(m.nRecording), static_cast<long long>(m.nRecordingHeight),
            static_cast<long long>(m.nReference), static_cast<long long>(m.nReferenceHeight));
        return text;
    case EKind::BitDepth:
        text.Format("The recording's video has %lld-bit samples, the reference's %lld-bit.",
                    static_cast<long long>(m.nRecording), static_cast<long long>(m.nReference));
        return text;
    case EKind::ChromaFormat:
        return "The recording's video has another chroma format than the reference's.";
    case EKind::SoundLayout:
        text.Format("The recording's sound is %s, the reference's is %s.", LayoutText(m.nRecording),
                    LayoutText(m.nReference));
        return text;
    case EKind::SoundRate:
        text.Format("The recording's sound is at %s%s, the reference's at %s.",
                    m.bApproximate ? "about " : "",
                    static_cast<const char*>(RateText(m.nRecording)),
                    static_cast<const char*>(RateText(m.nReference)));
        return text;
    case EKind::SoundWithoutReferenceSound:
        return "The recording has sound, the reference has none.";
    case EKind::ReferenceSoundRecordingNone:
        if (m.nReference == 1)
            return "The reference has sound, the recording has none.";
        text.Format("The reference has %s sound tracks, the recording has none.",
                    static_cast<const char*>(CountText(m.nReference)));
        return text;
    case EKind::FrameRate:
        text.Format("The recording's video runs at about %s frames a second, the reference's "
                    "at %s.",
                    static_cast<const char*>(FormatNumber(m.dRecording)),
                    static_cast<const char*>(FormatNumber(m.dReference)));
        return text;
    case EKind::TwiceTheSound:
        return "The recording has twice as much sound as the reference's settings give: it seems "
               "to have two sound tracks where the reference has one.";
    case EKind::FewerSoundTracks:
        text.Format("The reference has %s sound tracks, the recording seems to have fewer.",
                    static_cast<const char*>(CountText(m.nReference)));
        return text;
    case EKind::SoundTracksOutOfStep:
        return "The recording's sound tracks do not keep time with its video as the reference's "
               "do.";
    case EKind::SoundOutOfStep:
        return "The recording's sound does not keep time with its video as the reference's does.";
    case EKind::TracksOutOfStep:
        return "The recording's tracks do not keep time together as the reference's do.";
    case EKind::VideoDoesNotDecode:
    case EKind::SoundDoesNotDecode:
        text.Format("The recording's %s does not decode with the reference's settings (%s): it "
                    "was made with other settings.",
                    m.eKind == EKind::VideoDoesNotDecode ? "video" : "sound",
                    static_cast<const char*>(DecoderWords(m.strRecording)));
        return text;
    }
    return CString();
}

CString ProblemText(const CString& broken, const CRebuildResult& result) {
    CString text;
    switch (result.eProblem) {
    case EProblem::None:
        break;
    case EProblem::NameMissing:
        return "A file name is missing.";
    case EProblem::OverARecording:
        return "The copy cannot be written over one of the recordings.";
    case EProblem::ReferenceUnopened:
        return "The reference could not be opened.";
    case EProblem::ReferenceWithoutIndex:
        return "The reference has no index (no moov box): it must be a whole recording, not "
               "another broken one.";
    case EProblem::ReferenceIndexUnreadable:
        return "The reference's index could not be read.";
    case EProblem::ReferenceFragmented:
        return "The reference is a fragmented recording, whose index is spread through the "
               "file; it cannot show how the tracks interleave.";
    case EProblem::ReferenceWithoutSamples:
        return "The reference has no tracks with samples.";
    case EProblem::ReferenceWithTooManyTracks:
        return "The reference has more tracks than any recording has.";
    case EProblem::ReferenceWithoutUsableTrack: {
        CString codecs;
        for (const std::string& strCodec : result.referenceCodecs)
            codecs += CString(codecs.IsEmpty() ? "" : ", ") + strCodec.c_str();
        text.Format("The reference has no H.264, HEVC or AAC track to go by (it has %s).",
                    codecs.IsEmpty() ? "none" : static_cast<const char*>(codecs));
        return text;
    }
    case EProblem::ReferenceDoesNotPlay:
        text.Format("The reference does not play: its %s does not decode (%s).",
                    result.referenceFault.bVideo ? "video" : "sound",
                    static_cast<const char*>(DecoderWords(result.referenceFault.strDecoder)));
        return text;
    case EProblem::RecordingUnopened:
        return "The broken recording could not be opened.";
    case EProblem::RecordingUnreadable:
        return "The broken recording could not be read.";
    case EProblem::NoMediaDataBox:
        return "The broken recording has no media data (no mdat box).";
    case EProblem::MediaDataEmpty:
        return "The broken recording's media data is empty.";
    case EProblem::BeginsWithZeros:
        return "The broken recording's media data begins with zeros.";
    case EProblem::NoWholeFrame:
        text.Format("%s holds no whole frame of video or sound: the recording stopped before "
                    "its first frame was written.",
                    static_cast<const char*>(broken));
        return text;
    case EProblem::CopyNotCreated:
        return "The copy could not be created.";
    case EProblem::CopyNotWritten:
        return "The copy could not be written.";
    case EProblem::CopyDoesNotPlay:
        return "The rebuilt copy does not play: not one of its frames decoded, so it was removed.";
    case EProblem::Cancelled:
        return "The rebuild was cancelled.";
    case EProblem::OutOfMemory:
        return "Clipmend ran out of memory.";
    case EProblem::Unexpected:
        return "The rebuild failed unexpectedly.";
    }
    return text;
}

} // namespace

CString DescribeTrackLeftOut(const CTrackLeftOut& track) {
    static const char* const kReasons[] = {
        "it holds no samples in the reference",
        "its decoder configuration could not be read",
        ("its samples vary in size and nothing in them shows where one ends, so they cannot be "
         "found in the media data"),
        "none of its samples were found",
    };
    const size_t nReason = static_cast<size_t>(track.eReason);
    CString text;
    text.Format("Track %u (%s, '%s'): %s", static_cast<unsigned>(track.nTrackId),
                static_cast<const char*>(HandlerName(track.nHandler)),
                FourCCText(track.nFormat).c_str(),
                nReason < sizeof kReasons / sizeof kReasons[0] ? kReasons[nReason] : "");
    return text;
}

namespace {

// "0:07", or "0:07.4" for a time that a stretch of under a minute begins at.
CString StretchTime(double dSeconds) {
    if (dSeconds >= 600)
        return FormatDuration(dSeconds);
    CString text;
    const double dRounded = std::floor(dSeconds * 10 + 0.5) / 10;
    text.Format("%d:%04.1f", static_cast<int>(dRounded / 60),
                dRounded - 60 * static_cast<int>(dRounded / 60));
    return text;
}

CString StretchText(const CStretchLeftOut& stretch) {
    CString text;
    const char* pszReason = DescribeStretchReason(stretch.eReason);
    if (stretch.bToEnd) {
        text.Format("the last %s of the recording, from %s on (%s)",
                    static_cast<const char*>(FormatBytes(stretch.nBytes)),
                    static_cast<const char*>(FormatDuration(stretch.dAt)), pszReason);
        return text;
    }
    CString length;
    if (stretch.dSeconds >= 0.05)
        length.Format(", about %s seconds", static_cast<const char*>(FormatNumber(
                                                std::floor(stretch.dSeconds * 10 + 0.5) / 10)));
    text.Format("%s at %s%s (%s)", static_cast<const char*>(FormatBytes(stretch.nBytes)),
                static_cast<const char*>(StretchTime(stretch.dAt)),
                static_cast<const char*>(length), pszReason);
    return text;
}

} // namespace

const char* DescribeStretchReason(CStretchLeftOut::EReason eReason) {
    switch (eReason) {
    case CStretchLeftOut::EReason::Zeros:
        return "zeros";
    case CStretchLeftOut::EReason::Garbage:
        return "data that is neither video nor sound";
    case CStretchLeftOut::EReason::DamagedFrame:
        return "a damaged frame";
    case CStretchLeftOut::EReason::CutOff:
        return "a frame cut off at the end";
    case CStretchLeftOut::EReason::SoundUnclear:
        return "sound that could belong to more than one of its sound tracks";
    }
    return "";
}

CString DescribePlayCheck(const CPlayCheck& play) {
    if (!play.bChecked)
        return CString();
    CString text;
    if (play.nDamaged != 0) {
        text.Format("It plays, but the decoders found %s damaged %s in it.",
                    static_cast<const char*>(CountText(static_cast<int64_t>(play.nDamaged))),
                    play.nDamaged == 1 ? "frame" : "frames");
        return text;
    }
    // Said of what was decoded: all of a track, or its start, its end and places between.
    const auto part = [](bool bWhole, bool bEnd, int nPlaces, const char* pszWhat) {
        CString text;
        const int nBetween = nPlaces - (bEnd ? 2 : 1);
        if (bWhole)
            text.Format("all its %s", pszWhat);
        else if (!bEnd)
            text.Format("its %s at its start and %d %s after it", pszWhat, nBetween,
                        nBetween == 1 ? "place" : "places");
        else if (nBetween <= 0)
            text.Format("its %s at its start and its end", pszWhat);
        else
            text.Format("its %s at its start, its end and %d %s between", pszWhat, nBetween,
                        nBetween == 1 ? "place" : "places");
        return text;
    };
    // Sound and pictures checked at the same places are said once.
    const bool bAlike = play.nSoundPlaces != 0 && play.nSoundPlaces == play.nVideoPlaces &&
                        play.bSoundWhole == play.bVideoWhole && play.bSoundEnd == play.bVideoEnd;
    CString parts;
    if (bAlike) {
        parts = part(play.bVideoWhole, play.bVideoEnd, play.nVideoPlaces, "sound and pictures");
    } else {
        if (play.nSoundPlaces != 0)
            parts = part(play.bSoundWhole, play.bSoundEnd, play.nSoundPlaces, "sound");
        if (play.nVideoPlaces != 0 && !parts.IsEmpty())
            parts += CString(", and ") +
                     part(play.bVideoWhole, play.bVideoEnd, play.nVideoPlaces, "pictures") + ",";
        else if (play.nVideoPlaces != 0)
            parts = part(play.bVideoWhole, play.bVideoEnd, play.nVideoPlaces, "pictures");
    }
    if (play.bVideoWhole && play.bSoundWhole)
        text = "It plays from start to end: every picture and sound of it decoded.";
    else if ((play.nVideoPlaces == 0 || play.bVideoEnd) &&
             (play.nSoundPlaces == 0 || play.bSoundEnd))
        text.Format("It plays from start to end: %s decoded without an error.",
                    static_cast<const char*>(parts));
    else
        text.Format("It plays as far as it was checked: %s decoded without an error.",
                    static_cast<const char*>(parts));
    if (play.bHevc)
        text += " (Damage inside an HEVC picture can go unseen by this check.)";
    return text;
}

CString DescribeRebuildResult(const CString& broken, const CRebuildResult& result) {
    if (result.eStatus == CRebuildResult::EStatus::Mismatch)
        return MismatchText(result.mismatch);
    if (result.eStatus != CRebuildResult::EStatus::Rebuilt)
        return ProblemText(broken, result);
    CString text, seconds;
    seconds.Format("%.1f", result.dSeconds);
    if (result.nBytesLeftOut == 0) {
        text.Format("All %s seconds of the recording were rebuilt.",
                    static_cast<const char*>(seconds));
        return text;
    }
    text.Format("%s seconds of the recording were rebuilt; %s were left out.",
                static_cast<const char*>(seconds),
                static_cast<const char*>(FormatBytes(result.nBytesLeftOut)));
    return text;
}

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
                       static_cast<const char*>(DescribeRebuildResult(broken, result)));
        return message;
    case EStatus::ReadFailed:
    case EStatus::WriteFailed:
    case EStatus::Cancelled:
    case EStatus::NotPlayable:
        message.Format("Failed! Could not create new file %s\n%s", static_cast<const char*>(output),
                       static_cast<const char*>(DescribeRebuildResult(broken, result)));
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
    if (result.play.bChecked)
        message += CString("\n") + DescribePlayCheck(result.play);
    for (const CDamagedFrame& frame : result.play.damaged) {
        CString line;
        line.Format("\nDamaged: the %s at %s (%s).", frame.bVideo ? "picture" : "sound",
                    static_cast<const char*>(StretchTime(frame.dAt)),
                    static_cast<const char*>(DecoderWords(frame.strDecoder)));
        message += line;
    }
    if (result.play.nDamaged > result.play.damaged.size()) {
        CString more;
        more.Format(
            "\nDamaged: %llu more frames.",
            static_cast<unsigned long long>(result.play.nDamaged - result.play.damaged.size()));
        message += more;
    }
    for (const CStretchLeftOut& stretch : result.stretchesLeftOut)
        message += CString("\nLeft out: ") + StretchText(stretch) + ".";
    for (const CTrackLeftOut& track : result.tracksLeftOut)
        message += CString("\nLeft out: ") + DescribeTrackLeftOut(track) + ".";
    return message;
}

CString FormatStartFailure(const CString& reason) {
    CString message("Cannot start the BOX program");
    if (!reason.IsEmpty())
        message += CString("\n") + reason;
    return message;
}

CString FormatRebuildStartFailure(const CString& broken, const CString& reason) {
    CString message;
    message.Format("Cannot rebuild %s\n%s", static_cast<const char*>(broken),
                   static_cast<const char*>(reason));
    return message;
}

CString ReferenceChoiceTitle(const CString& broken) {
    CString title;
    title.Format("A whole recording made the same way as %s", static_cast<const char*>(broken));
    return title;
}
