#include "rebuild/MatchCheck.h"

#include "rebuild/HevcSyntax.h"
#include "rebuild/NalUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                         22050, 16000, 12000, 11025, 8000,  7350};
// The probe's timing cannot tell 29.97 from 30 frames a second: said as "about 30".
const double kFrameRates[] = {24, 25, 30, 48, 50, 60, 100, 120};

// Tracks may drift apart by this much more than the reference shows before it is a mismatch.
const double kDriftMargin = 0.25;
// And only once the first track has this much behind it.
const double kMinDriftSeconds = 3.0;

std::string Number(double dValue) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", dValue);
    std::string strText = text;
    while (!strText.empty() && strText.back() == '0')
        strText.pop_back();
    if (!strText.empty() && strText.back() == '.')
        strText.pop_back();
    return strText;
}

std::string CountText(size_t nCount) {
    static const char* const kWords[] = {"no", "one", "two", "three", "four", "five"};
    return nCount < 6 ? kWords[nCount] : std::to_string(nCount);
}

std::string RateText(int nRate) {
    return Number(nRate / 1000.0) + " kHz";
}

std::string LayoutText(int nChannelConfig) {
    static const char* const kLayouts[] = {
        "a custom channel layout", "mono", "stereo", "3.0", "4.0", "5.0", "5.1", "7.1"};
    return nChannelConfig >= 0 && nChannelConfig <= 7 ? kLayouts[nChannelConfig] : "multichannel";
}

// Frequencies that share one table of scale factor bands, which frames cannot tell apart.
int RateClass(int nRateIndex) {
    static const int kClasses[] = {0, 0, 1, 2, 2, 3, 4, 4, 5, 5, 5, 6, 6};
    return nRateIndex >= 0 && nRateIndex <= 12 ? kClasses[nRateIndex] : -1;
}

int RateIndexOf(int nRate) {
    for (int i = 0; i < 13; ++i) {
        if (kAacRates[i] == nRate)
            return i;
    }
    return -1;
}

// Frames of config that follow one another from pData on, and the bytes they take.
int CountAacFrames(const CAacConfig& config, const uint8_t* pData, size_t nSize, int nWanted,
                   size_t* pUsed) {
    int nFrames = 0;
    size_t nAt = 0;
    CAacFrameInfo info, previous;
    while (nFrames < nWanted && nAt < nSize) {
        size_t nLength = 0;
        if (ParseAacFrame(config, pData + nAt, nSize - nAt, &nLength, &info,
                          nFrames ? &previous : nullptr) != EAacFrame::Ok ||
            nLength == 0)
            break;
        previous = info;
        nAt += nLength;
        ++nFrames;
    }
    *pUsed = nAt;
    return nFrames;
}

// A run of length-prefixed NAL units with headers valid for codec: how many, and whether
// one is a coded slice.
int CountNalUnits(EVideoCodec codec, const uint8_t* pData, size_t nSize, bool* pSlice) {
    int nCount = 0;
    size_t nAt = 0;
    *pSlice = false;
    while (nSize - nAt >= 6 && nCount < 8) {
        const size_t nLength = ReadBE32(pData + nAt);
        if (nLength < 2 || nLength > nSize - nAt - 4)
            break;
        const uint8_t* pNal = pData + nAt + 4;
        if (pNal[0] & 0x80)
            break;
        bool bSlice = false, bValid = false;
        if (codec == EVideoCodec::Avc) {
            const int nType = pNal[0] & 0x1F;
            const int nRefIdc = pNal[0] >> 5;
            bSlice = nType == 1 || nType == 5;
            bValid = (bSlice && (nType != 5 || nRefIdc != 0)) ||
                     ((nType == 6 || nType == 9 || nType == 12) && nRefIdc == 0) ||
                     ((nType == 7 || nType == 8) && nRefIdc != 0);
        } else {
            const int nType = HevcNalType(pNal);
            const bool bLayer0 = ((pNal[0] & 1) == 0) && (pNal[1] >> 3) == 0 && (pNal[1] & 7) != 0;
            bSlice = nType <= 9 || (nType >= 16 && nType <= 21);
            bValid = bLayer0 && (bSlice || (nType >= 32 && nType <= 40));
        }
        if (!bValid || !IsCleanNalUnit(pNal, nLength))
            break;
        *pSlice = *pSlice || bSlice;
        ++nCount;
        nAt += 4 + nLength;
    }
    return nCount;
}

std::string CodecText(EVideoCodec codec) {
    return codec == EVideoCodec::Avc ? "H.264" : "HEVC";
}

// What the bytes where the walk stopped are, when they are video or sound of other settings.
std::string DescribeStop(CByteSource& source, const CProbe& probe) {
    const uint64_t nLeft = probe.nDataEnd - probe.nStop;
    const size_t nRead = static_cast<size_t>(std::min<uint64_t>(nLeft, 1u << 20));
    std::vector<uint8_t> data(nRead);
    if (nRead < 8 || !source.ReadAt(probe.nStop, data.data(), nRead))
        return std::string();
    const CReferenceMovie& movie = *probe.pMovie;
    const CReferenceTrack* pVideo = nullptr;
    std::vector<const CReferenceTrack*> audio;
    for (const std::unique_ptr<CWalkTrack>& pTrack : *probe.pTracks) {
        const CReferenceTrack& track = movie.tracks[pTrack->ReferenceIndex()];
        if (pTrack->Kind() == EWalkKind::Video && !pVideo)
            pVideo = &track;
        if (pTrack->Kind() == EWalkKind::Audio)
            audio.push_back(&track);
    }

    // Video of the other codec.
    for (EVideoCodec codec : {EVideoCodec::Avc, EVideoCodec::Hevc}) {
        bool bSlice = false;
        const int nCount = CountNalUnits(codec, data.data(), data.size(), &bSlice);
        if (nCount < 2 || !bSlice)
            continue;
        const std::string strOther = CodecText(codec);
        if (pVideo && CodecName(pVideo->entry) != strOther)
            return "The recording's video is " + strOther + ", the reference's is " +
                   CodecName(pVideo->entry) + ".";
        if (!pVideo)
            return "The recording has " + strOther + " video, the reference has no video.";
    }

    // Sound of another layout or frequency than the reference's.
    const EVideoCodec videoCodec =
        pVideo && pVideo->entry.eCodec == ETrackCodec::Hevc ? EVideoCodec::Hevc : EVideoCodec::Avc;
    auto soundAt = [&](const CAacConfig& config) {
        size_t nUsed = 0;
        const int nFrames = CountAacFrames(config, data.data(), data.size(), 3, &nUsed);
        if (nFrames >= 3)
            return true;
        bool bSlice = false;
        return nFrames >= 1 && pVideo &&
               CountNalUnits(videoCodec, data.data() + nUsed, data.size() - nUsed, &bSlice) >= 1 &&
               bSlice;
    };
    if (!audio.empty()) {
        const CAacConfig& reference = audio[0]->entry.aac;
        for (int nLayout = 1; nLayout <= 7; ++nLayout) {
            if (nLayout == reference.nChannelConfig)
                continue;
            CAacConfig config = reference;
            config.nChannelConfig = nLayout;
            if (soundAt(config))
                return "The recording's sound is " + LayoutText(nLayout) + ", the reference's is " +
                       LayoutText(reference.nChannelConfig) + ".";
        }
        for (int nIndex = 0; nIndex < 12; ++nIndex) {
            if (RateClass(nIndex) == RateClass(reference.nSampleRateIndex))
                continue;
            for (int nLayout = 1; nLayout <= 2; ++nLayout) {
                CAacConfig config = reference;
                config.nSampleRateIndex = nIndex;
                config.nChannelConfig = nLayout;
                if (soundAt(config))
                    return "The recording's sound is at about " + RateText(kAacRates[nIndex]) +
                           ", the reference's at " +
                           RateText(kAacRates[reference.nSampleRateIndex]) + ".";
            }
        }
    } else {
        for (int nIndex : {3, 4, 5, 6}) {
            for (int nLayout = 1; nLayout <= 2; ++nLayout) {
                CAacConfig config;
                config.nObjectType = 2;
                config.nSampleRateIndex = nIndex;
                config.nChannelConfig = nLayout;
                if (soundAt(config))
                    return "The recording has sound, the reference has none.";
            }
        }
    }
    return std::string();
}

// The standard value nearest to dValue, if within dTolerance of it (relative), else 0.
template <typename T, size_t N> T Nearest(const T (&values)[N], double dValue, double dTolerance) {
    T best = 0;
    double dBest = dTolerance;
    for (T value : values) {
        const double dOff = std::fabs(dValue / value - 1);
        if (dOff < dBest) {
            dBest = dOff;
            best = value;
        }
    }
    return best;
}

// Tracks that do not keep time with the first one the way the reference's settings say.
std::string DescribeDrift(const CProbe& probe) {
    const std::vector<std::unique_ptr<CWalkTrack>>& tracks = *probe.pTracks;
    const CReferenceMovie& movie = *probe.pMovie;
    if (tracks.size() < 2)
        return std::string();
    const CWalkTrack& lead = *tracks[0];
    const double dLead = double(lead.Found()) * lead.SampleSeconds();
    if (dLead < kMinDriftSeconds)
        return std::string();
    size_t nAudio = 0, nSilent = 0;
    std::vector<double> ratios;
    for (size_t t = 1; t < tracks.size(); ++t) {
        const CWalkTrack& track = *tracks[t];
        if (track.Kind() != EWalkKind::Audio && track.Kind() != EWalkKind::Video)
            continue;
        const double dSeconds = double(track.Found()) * track.SampleSeconds();
        const double dAllowed = probe.pModel->MaxSpread(t) + probe.pModel->MaxChunkSeconds(t) +
                                probe.pModel->MaxChunkSeconds(0) + kDriftMargin;
        const double dRatio = dSeconds / dLead;
        if (track.Kind() == EWalkKind::Audio) {
            ++nAudio;
            nSilent += track.Found() == 0 ? 1 : 0;
        }
        if (std::fabs(dSeconds - dLead) <= dAllowed || std::fabs(dRatio - 1) <= 0.02)
            continue;
        // A reference of variable frame rate gives only an average picture duration, which
        // the recording need not have (a phone slows down in the dark); its pictures are timed
        // by its sound instead, and only sound that is missing altogether tells.
        if (lead.Kind() == EWalkKind::Video && !lead.SteadyDurations() && track.Found() != 0)
            continue;
        ratios.push_back(dRatio);
        if (track.Kind() != EWalkKind::Audio || lead.Kind() != EWalkKind::Video)
            return "The recording's tracks do not keep time together as the reference's do.";
        if (track.Found() == 0)
            continue;
        const CReferenceTrack& sound = movie.tracks[track.ReferenceIndex()];
        const CReferenceTrack& picture = movie.tracks[lead.ReferenceIndex()];
        // Sound at another rate within the same band table, or video at another frame rate.
        const int nRate = RateIndexOf(kAacRates[sound.entry.aac.nSampleRateIndex]) >= 0
                              ? kAacRates[sound.entry.aac.nSampleRateIndex]
                              : 0;
        const int nImpliedRate = Nearest(kAacRates, nRate * dRatio, 0.015);
        const double dFps = double(picture.nTimescale) / picture.nTypicalDuration;
        const double dImpliedFps = Nearest(kFrameRates, dFps / dRatio, 0.015);
        if (nImpliedRate != 0 &&
            RateClass(RateIndexOf(nImpliedRate)) == RateClass(sound.entry.aac.nSampleRateIndex))
            return "The recording's sound is at " + RateText(nImpliedRate) +
                   ", the reference's at " + RateText(nRate) + ".";
        if (dImpliedFps != 0)
            return "The recording's video runs at about " + Number(dImpliedFps) +
                   " frames a second, the reference's at " + Number(dFps) + ".";
        if (nAudio == 1 && std::fabs(dRatio - 2) < 0.04)
            return "The recording has twice as much sound as the reference's settings give: it "
                   "seems to have two sound tracks where the reference has one.";
    }
    if (nAudio > 0 && nSilent == nAudio)
        return nAudio == 1 ? "The reference has sound, the recording has none."
                           : "The reference has " + CountText(nAudio) +
                                 " sound tracks, the recording has none.";
    if (nAudio > 1 && !ratios.empty()) {
        double dSum = 0;
        for (size_t t = 1; t < tracks.size(); ++t) {
            if (tracks[t]->Kind() == EWalkKind::Audio)
                dSum += double(tracks[t]->Found()) * tracks[t]->SampleSeconds() / dLead;
        }
        if (dSum < nAudio - 0.5)
            return "The reference has " + CountText(nAudio) +
                   " sound tracks, the recording seems to have fewer.";
        return "The recording's sound tracks do not keep time with its video as the "
               "reference's do.";
    }
    if (!ratios.empty())
        return "The recording's sound does not keep time with its video as the reference's does.";
    return std::string();
}

} // namespace

std::string CodecName(const CSampleEntry& entry) {
    switch (entry.eCodec) {
    case ETrackCodec::Avc:
        return "H.264";
    case ETrackCodec::Hevc:
        return "HEVC";
    case ETrackCodec::Aac:
        return "AAC";
    default:
        return "'" + FourCCText(entry.nFormat) + "'";
    }
}

std::string FindMismatch(CByteSource& source, const CProbe& probe) {
    const std::vector<std::unique_ptr<CWalkTrack>>& tracks = *probe.pTracks;
    bool bAny = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        bAny = bAny || pTrack->Found() != 0;

    // A stop on data that is another codec or sound of another layout.
    if (probe.eStop == EWalkStop::Unknown || (!bAny && probe.eStop == EWalkStop::CutOff)) {
        const std::string strStop = DescribeStop(source, probe);
        if (!strStop.empty())
            return strStop;
    }
    if (!bAny)
        return "The recording's media data does not begin with video or sound like the "
               "reference's.";

    // Parameter sets in the recording itself show its picture size.
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks) {
        const CVideoSampleParser* pParser = pTrack->VideoParser();
        if (!pParser || !pParser->HasInBandFormat() ||
            pParser->InBandFormat() == pParser->EntryFormat())
            continue;
        const CVideoFormat& own = pParser->InBandFormat();
        const CVideoFormat& ref = pParser->EntryFormat();
        if (own.nWidth != ref.nWidth || own.nHeight != ref.nHeight)
            return "The recording's video is " + std::to_string(own.nWidth) + "x" +
                   std::to_string(own.nHeight) + ", the reference's is " +
                   std::to_string(ref.nWidth) + "x" + std::to_string(ref.nHeight) + ".";
        if (own.nBitDepth != ref.nBitDepth)
            return "The recording's video has " + std::to_string(own.nBitDepth) +
                   "-bit samples, the reference's " + std::to_string(ref.nBitDepth) + "-bit.";
        return "The recording's video has another chroma format than the reference's.";
    }
    return DescribeDrift(probe);
}
