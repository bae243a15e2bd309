#include "job/RebuildReport.h"

#include "job/ReportWords.h"
#include "media/Box.h"

#include <cmath>
#include <vector>

namespace {

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

// A copy that holds less than half of the media the broken file held says so first, and which
// tracks were not found at all; empty otherwise.
CString PartSaved(const CString& broken, const CString& what, const CRebuildResult& result) {
    if (result.nMediaBytes == 0 || result.nBytesLeftOut <= result.nMediaBytes / 2)
        return CString();
    CString text;
    text.Format("Only part of %s could be rebuilt: %s; %s of the %s left out.",
                static_cast<const char*>(broken), static_cast<const char*>(what),
                static_cast<const char*>(FormatBytes(result.nBytesLeftOut)),
                static_cast<const char*>(FormatBytes(result.nMediaBytes)));
    CString missing;
    size_t nMissing = 0;
    for (const CTrackLeftOut& track : result.tracksLeftOut) {
        if (track.eReason == CTrackLeftOut::EReason::NoSamplesInReference)
            continue;
        CString name;
        name.Format("%s%s (track %u)", nMissing == 0 ? "" : ", ",
                    static_cast<const char*>(HandlerName(track.nHandler)),
                    static_cast<unsigned>(track.nTrackId));
        missing += name;
        ++nMissing;
    }
    if (nMissing != 0)
        text += CString(" Not found: its ") + missing + ".";
    return text;
}

// "a", "a and b", "a, b and c".
CString JoinWords(const std::vector<CString>& words) {
    CString text;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            text += i + 1 == words.size() ? " and " : ", ";
        text += words[i];
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

static CString DescribeDecoded(const CPlayResult& play);

// "Its Motion JPEG video and PCM sound were not decoded: ...", or empty.
static CString UndecodedText(const CPlayResult& play) {
    CString tracks;
    for (size_t i = 0; i < play.undecoded.size(); ++i) {
        const CPlayResult::CUndecoded& track = play.undecoded[i];
        if (i > 0)
            tracks += i + 1 == play.undecoded.size() ? " and " : ", ";
        tracks += CString(track.strCodec.c_str()) + (track.bVideo ? " video" : " sound");
    }
    if (tracks.IsEmpty())
        return tracks;
    CString text;
    const bool bOne = play.undecoded.size() == 1;
    text.Format("Its %s %s not decoded: Clipmend has no decoder for %s.",
                static_cast<const char*>(tracks), bOne ? "was" : "were", bOne ? "it" : "them");
    return text;
}

CString DescribePlayResult(const CPlayResult& play) {
    if (!play.bChecked)
        return CString();
    const CString undecoded = UndecodedText(play);
    if (play.nVideoPlaces == 0 && play.nSoundPlaces == 0 && play.nDamaged == 0)
        return undecoded;
    const CString played = DescribeDecoded(play);
    return undecoded.IsEmpty() ? played : played + " " + undecoded;
}

// What decoding found of the tracks that were decoded.
static CString DescribeDecoded(const CPlayResult& play) {
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
    // Only what the copy has was decoded: a copy without sound has no sound to speak of.
    if (play.bVideoWhole && play.bSoundWhole)
        text.Format("It plays from start to end: %s decoded.",
                    play.nSoundPlaces == 0   ? "every picture of it"
                    : play.nVideoPlaces == 0 ? "all its sound"
                                             : "every picture and sound of it");
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
    case EStatus::NeedsReference:
        if (reference.IsEmpty())
            message.Format("Cannot rebuild %s.\n%s\nNothing was written.",
                           static_cast<const char*>(broken),
                           static_cast<const char*>(DescribeRebuildResult(broken, result)));
        else
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
    // "0:12 of video and 0:12 of sound", then the tracks that are neither, by their codec:
    // ", with its tmcd and gpmd tracks" (a timecode or a camera's data lasts no time to speak of).
    std::vector<CString> media, others;
    for (const CRebuiltTrack& track : result.tracks) {
        const double dSeconds =
            track.nTimescale ? static_cast<double>(track.nDuration) / track.nTimescale : 0.0;
        CString part;
        part.Format("%s of %s", static_cast<const char*>(FormatDuration(dSeconds)),
                    track.eKind == CRebuiltTrack::EKind::Video ? "video" : "sound");
        if (track.eKind == CRebuiltTrack::EKind::Other)
            others.push_back(track.strCodec.c_str());
        else
            media.push_back(part);
    }
    CString what = JoinWords(media);
    if (!others.empty())
        what += CString(", with its ") + JoinWords(others) +
                (others.size() == 1 ? " track" : " tracks");
    CString saved = PartSaved(broken, what, result);
    if (saved.IsEmpty())
        saved.Format("%s rebuilt: %s.", static_cast<const char*>(broken),
                     static_cast<const char*>(what));
    message.Format("Done! Created new file %s\n%s", static_cast<const char*>(output),
                   static_cast<const char*>(saved));
    if (result.found.eSource != CFoundSettings::ESource::None)
        message += CString("\n") + DescribeFoundSettings(result.found) + ".";
    if (result.play.bChecked)
        message += CString("\n") + DescribePlayResult(result.play);
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
