// The main sentence of a rebuild's message: the difference from the reference that refused it,
// the problem that stopped it, or how much it rebuilt.
#include "job/RebuildReport.h"

#include "job/ReportWords.h"

#include <string>
#include <utility>

namespace {

using EProblem = CRebuildResult::EProblem;
using EKind = CMismatch::EKind;

CString RateText(int64_t nHertz) {
    return FormatNumber(static_cast<double>(nHertz) / 1000.0) + " kHz";
}

const char* LayoutText(int64_t nChannelConfig) {
    static const char* const kLayouts[] = {
        "a custom channel layout", "mono", "stereo", "3.0", "4.0", "5.0", "5.1", "7.1"};
    return nChannelConfig >= 0 && nChannelConfig <= 7 ? kLayouts[nChannelConfig] : "multichannel";
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
    if (result.eStatus == CRebuildResult::EStatus::NeedsReference) {
        text.Format("%s cannot be rebuilt by itself: %s.", static_cast<const char*>(broken),
                    MissingWords(result.found.eMissing));
        return text;
    }
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
        text.Format("The reference has no video or sound that Clipmend can find in a recording (it "
                    "has %s).",
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

const char* MissingWords(CFoundSettings::EMissing eMissing) {
    if (eMissing == CFoundSettings::EMissing::DoesNotDecode)
        return "its pictures do not decode with the settings found in it";
    if (eMissing == CFoundSettings::EMissing::DoesNotFit)
        return "the settings found at its start do not fit the rest of it";
    if (eMissing == CFoundSettings::EMissing::NoSize)
        return "it does not carry the settings its video was recorded with, and a search "
               "found none: its pictures give no picture size that decodes";
    if (eMissing == CFoundSettings::EMissing::SoundUnknown)
        return "its sound is of a kind Clipmend cannot make out without a reference";
    return "it does not carry the settings its video was recorded with (no H.264 or HEVC "
           "parameter sets were found in it)";
}

CString DescribeFoundSettings(const CFoundSettings& found) {
    CString text, part;
    text.Format("%s%s%s, %dx%d", found.strVideo.c_str(), found.strProfile.empty() ? "" : " ",
                found.strProfile.c_str(), found.nWidth, found.nHeight);
    const double dRate = found.dFrameRate;
    const bool bWhole = dRate == static_cast<double>(static_cast<long long>(dRate));
    part.Format(bWhole ? ", %.0f fps" : ", %.2f fps", dRate);
    text += part;
    if (found.bFrameRateAssumed)
        text += " (assumed: it does not say)";
    if (!found.strSound.empty()) {
        const char* pszLayout = found.nChannels == 1   ? "mono"
                                : found.nChannels == 2 ? "stereo"
                                                       : nullptr;
        part.Format(", %s %g kHz ", found.strSound.c_str(), found.nSampleRate / 1000.0);
        text += part;
        if (pszLayout)
            text += pszLayout;
        else {
            part.Format("%d channels", found.nChannels);
            text += part;
        }
        if (found.bRateByTime)
            text += " (its rate told by its timing)";
    }
    text += ", taken from the recording itself";
    if (found.eSource == CFoundSettings::ESource::Search) {
        // What decoding confirms, and what it cannot: a copy may still look off in these.
        text += " (found by a search and checked by decoding";
        const std::pair<bool, const char*> assumed[] = {
            {found.bChromaAssumed, "its colour quantiser offset"},
            {found.bScalingAssumed, "its scaling lists"},
            {found.bQpAssumed, "its starting quantiser"},
            {found.bBipredAssumed, "how its B pictures weigh their references"},
            {found.nCropLines > 0, "its size, a few lines hidden for a common shape"},
        };
        const char* pszJoin = "; assumed, as decoding cannot tell: ";
        for (const auto& item : assumed) {
            if (item.first) {
                text += pszJoin;
                text += item.second;
                pszJoin = ", ";
            }
        }
        text += ")";
    }
    if (found.eSource == CFoundSettings::ESource::Records) {
        if (found.strCamera.empty())
            text += " (its camera's records)";
        else {
            part.Format(" (the records of its camera, a %s)", found.strCamera.c_str());
            text += part;
        }
    }
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
