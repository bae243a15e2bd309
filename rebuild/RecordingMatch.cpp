#include "rebuild/RecordingMatch.h"

#include <algorithm>
#include <cmath>

namespace {

// The probe's timing cannot tell 29.97 from 30 frames a second: said as "about 30".
const double kFrameRates[] = {24, 25, 30, 48, 50, 60, 100, 120};

// Tracks may drift apart by this much more than the reference shows before it is a mismatch.
const double kDriftMargin = 0.25;
// And only once the first track has this much behind it.
const double kMinDriftSeconds = 3.0;

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

CMismatch Mismatch(CMismatch::EKind eKind) {
    CMismatch mismatch;
    mismatch.eKind = eKind;
    return mismatch;
}

CMismatch Values(CMismatch::EKind eKind, int64_t nRecording, int64_t nReference) {
    CMismatch mismatch = Mismatch(eKind);
    mismatch.nRecording = nRecording;
    mismatch.nReference = nReference;
    return mismatch;
}

// What the bytes where the walk stopped are, when they are video or sound of other settings.
CMismatch DescribeStop(CByteSource& source, const CProbe& probe) {
    using EKind = CMismatch::EKind;
    const uint64_t nLeft = probe.nDataEnd - probe.nStop;
    const size_t nRead = static_cast<size_t>(std::min<uint64_t>(nLeft, 1u << 20));
    std::vector<uint8_t> data(nRead);
    if (nRead < 8 || !source.ReadAt(probe.nStop, data.data(), nRead))
        return CMismatch();
    const CReferenceMovie& movie = *probe.pMovie;
    const CReferenceTrack* pVideo = nullptr;
    std::vector<const CReferenceTrack*> audio;
    bool bSound = false; // of any codec
    for (const std::unique_ptr<CWalkTrack>& pTrack : *probe.pTracks) {
        const CReferenceTrack& track = movie.tracks[pTrack->ReferenceIndex()];
        if (pTrack->Pictures() && !pVideo)
            pVideo = &track;
        if (pTrack->Kind() == EWalkKind::Audio)
            audio.push_back(&track);
        bSound = bSound || pTrack->Sound();
    }
    const int nLengthSize = pVideo && pVideo->entry.nLengthSize ? pVideo->entry.nLengthSize : 4;

    // Video of the other codec.
    for (ECodec codec : {ECodec::H264, ECodec::Hevc}) {
        bool bSlice = false;
        const int nCount = CountNalUnits(codec, nLengthSize, data.data(), data.size(), 8, &bSlice);
        if (nCount < 2 || !bSlice)
            continue;
        const std::string strOther = CodecText(codec);
        if (pVideo && CodecName(pVideo->entry) != strOther) {
            CMismatch mismatch = Mismatch(EKind::VideoCodec);
            mismatch.strRecording = strOther;
            mismatch.strReference = CodecName(pVideo->entry);
            return mismatch;
        }
        if (!pVideo) {
            CMismatch mismatch = Mismatch(EKind::VideoWithoutReferenceVideo);
            mismatch.strRecording = strOther;
            return mismatch;
        }
    }

    // Sound of another layout or frequency than the reference's.
    const ECodec videoCodec =
        pVideo && pVideo->entry.eCodec == ECodec::Hevc ? ECodec::Hevc : ECodec::H264;
    auto soundAt = [&](const CAacConfig& config) {
        size_t nUsed = 0;
        const int nFrames = CountAacFrames(config, data.data(), data.size(), 3, &nUsed);
        if (nFrames >= 3)
            return true;
        bool bSlice = false;
        return nFrames >= 1 && pVideo &&
               CountNalUnits(videoCodec, nLengthSize, data.data() + nUsed, data.size() - nUsed, 8,
                             &bSlice) >= 1 &&
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
                return Values(EKind::SoundLayout, nLayout, reference.nChannelConfig);
        }
        for (int nIndex = 0; nIndex < 12; ++nIndex) {
            if (AacSameBandTables(nIndex, reference.nSampleRateIndex))
                continue;
            for (int nLayout = 1; nLayout <= 2; ++nLayout) {
                CAacConfig config = reference;
                config.nSampleRateIndex = nIndex;
                config.nChannelConfig = nLayout;
                if (soundAt(config)) {
                    CMismatch mismatch = Values(EKind::SoundRate, AacSampleRate(nIndex),
                                                AacSampleRate(reference.nSampleRateIndex));
                    mismatch.bApproximate = true; // one of the rates of its band table
                    return mismatch;
                }
            }
        }
    } else if (!bSound) {
        for (int nIndex : {3, 4, 5, 6}) {
            for (int nLayout = 1; nLayout <= 2; ++nLayout) {
                CAacConfig config;
                config.nObjectType = 2;
                config.nSampleRateIndex = nIndex;
                config.nChannelConfig = nLayout;
                if (soundAt(config))
                    return Mismatch(EKind::SoundWithoutReferenceSound);
            }
        }
    }
    return CMismatch();
}

// The frame rate nearest to dValue, if within dTolerance of it (relative), else 0.
double NearestFrameRate(double dValue, double dTolerance) {
    double best = 0;
    double dBest = dTolerance;
    for (double value : kFrameRates) {
        const double dOff = std::fabs(dValue / value - 1);
        if (dOff < dBest) {
            dBest = dOff;
            best = value;
        }
    }
    return best;
}

// Tracks that do not keep time with the first one the way the reference's settings say.
CMismatch DescribeDrift(const CProbe& probe) {
    using EKind = CMismatch::EKind;
    const std::vector<std::unique_ptr<CWalkTrack>>& tracks = *probe.pTracks;
    const CReferenceMovie& movie = *probe.pMovie;
    if (tracks.size() < 2)
        return CMismatch();
    const CWalkTrack& lead = *tracks[0];
    // Samples that damage took count as the tracks' time.
    const double dLead = double(lead.Count()) * lead.SampleSeconds();
    if (dLead < kMinDriftSeconds)
        return CMismatch();
    size_t nAudio = 0, nSilent = 0;
    std::vector<double> ratios;
    for (size_t t = 1; t < tracks.size(); ++t) {
        const CWalkTrack& track = *tracks[t];
        if (track.Kind() != EWalkKind::Audio && track.Kind() != EWalkKind::Video)
            continue;
        const double dSeconds = double(track.Count()) * track.SampleSeconds();
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
            return Mismatch(EKind::TracksOutOfStep);
        if (track.Found() == 0)
            continue;
        const CReferenceTrack& sound = movie.tracks[track.ReferenceIndex()];
        const CReferenceTrack& picture = movie.tracks[lead.ReferenceIndex()];
        // Sound at another rate within the same band table, or video at another frame rate.
        const int nRate = AacSampleRate(sound.entry.aac.nSampleRateIndex);
        int nImpliedRate = 0;
        for (int nIndex = 0; AacSampleRate(nIndex) != 0; ++nIndex) {
            if (std::fabs(nRate * dRatio / AacSampleRate(nIndex) - 1) < 0.015)
                nImpliedRate = AacSampleRate(nIndex);
        }
        const double dFps = double(picture.nTimescale) / picture.nTypicalDuration;
        const double dImpliedFps = NearestFrameRate(dFps / dRatio, 0.015);
        if (nImpliedRate != 0 && AacSameBandTables(AacRateIndexOf(uint32_t(nImpliedRate)),
                                                   sound.entry.aac.nSampleRateIndex))
            return Values(EKind::SoundRate, nImpliedRate, nRate);
        if (dImpliedFps != 0) {
            CMismatch mismatch = Mismatch(EKind::FrameRate);
            mismatch.dRecording = dImpliedFps;
            mismatch.dReference = dFps;
            return mismatch;
        }
        if (nAudio == 1 && std::fabs(dRatio - 2) < 0.04)
            return Mismatch(EKind::TwiceTheSound);
    }
    if (nAudio > 0 && nSilent == nAudio)
        return Values(EKind::ReferenceSoundRecordingNone, 0, int64_t(nAudio));
    if (nAudio > 1 && !ratios.empty()) {
        double dSum = 0;
        for (size_t t = 1; t < tracks.size(); ++t) {
            if (tracks[t]->Kind() == EWalkKind::Audio)
                dSum += double(tracks[t]->Count()) * tracks[t]->SampleSeconds() / dLead;
        }
        if (dSum < nAudio - 0.5)
            return Values(EKind::FewerSoundTracks, 0, int64_t(nAudio));
        return Mismatch(EKind::SoundTracksOutOfStep);
    }
    if (!ratios.empty())
        return Mismatch(EKind::SoundOutOfStep);
    return CMismatch();
}

} // namespace

std::string CodecName(const CSampleEntry& entry) {
    if (entry.eCodec == ECodec::Other)
        return "'" + FourCCText(entry.nFormat) + "'";
    return CodecText(entry.eCodec);
}

CMismatch FindMismatch(CByteSource& source, const CProbe& probe) {
    using EKind = CMismatch::EKind;
    const std::vector<std::unique_ptr<CWalkTrack>>& tracks = *probe.pTracks;
    bool bAny = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        bAny = bAny || pTrack->Found() != 0;

    // A stop on data that is another codec or sound of another layout.
    if (probe.eStop == EWalkStop::Unknown || (!bAny && probe.eStop == EWalkStop::CutOff)) {
        const CMismatch stop = DescribeStop(source, probe);
        if (stop.eKind != EKind::None)
            return stop;
    }
    if (!bAny)
        return Mismatch(EKind::DoesNotBegin);

    // Parameter sets in the recording itself show its picture size.
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks) {
        const CVideoSampleParser* pParser = pTrack->VideoParser();
        if (!pParser || !pParser->HasInBandFormat() ||
            pParser->InBandFormat() == pParser->EntryFormat())
            continue;
        const CVideoFormat& own = pParser->InBandFormat();
        const CVideoFormat& ref = pParser->EntryFormat();
        if (own.nWidth != ref.nWidth || own.nHeight != ref.nHeight) {
            CMismatch mismatch = Values(EKind::PictureSize, own.nWidth, ref.nWidth);
            mismatch.nRecordingHeight = own.nHeight;
            mismatch.nReferenceHeight = ref.nHeight;
            return mismatch;
        }
        if (own.nBitDepth != ref.nBitDepth)
            return Values(EKind::BitDepth, own.nBitDepth, ref.nBitDepth);
        return Mismatch(EKind::ChromaFormat);
    }
    return DescribeDrift(probe);
}
