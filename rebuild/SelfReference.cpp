#include "rebuild/SelfReference.h"

#include "codec/AvcSyntax.h"
#include "codec/ConfigRecord.h"
#include "codec/GoProRecord.h"
#include "codec/HevcSyntax.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// How far into the media data the index is made: enough samples for the rebuild to learn the
// recorder's ways from, and a bound on what a hostile file can make it read.
const uint64_t kIndexBytes = 64u << 20;
const size_t kIndexSamples = 8192;
// Where the first record may begin, past what a camera writes before it.
const size_t kHeaderReach = 64u << 10;

bool Read(CByteSource& source, uint64_t nAt, uint64_t nEnd, size_t nWant,
          std::vector<uint8_t>* pBytes) {
    const size_t nHave = static_cast<size_t>(std::min<uint64_t>(nWant, nEnd - nAt));
    pBytes->resize(nHave);
    return nHave == 0 || source.ReadAt(nAt, pBytes->data(), nHave);
}

uint32_t AacRateIndex(uint32_t nRate) {
    const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
    for (uint32_t i = 0; i < sizeof kRates / sizeof kRates[0]; ++i) {
        if (kRates[i] == nRate)
            return i;
    }
    return 15;
}

// The record's track among pTracks by the kind of sample it announces, made on first sight.
struct CGoProTracks {
    int nVideo = -1, nSound = -1, nTimecode = -1, nMetadata = -1;
};

} // namespace

bool PictureFactsOf(ECodec eCodec, const std::vector<std::vector<uint8_t>>& sets,
                    CPictureFacts* pFacts) {
    bool bSps = false;
    for (const std::vector<uint8_t>& nal : sets) {
        if (eCodec == ECodec::H264) {
            CAvcSps sps;
            if (!bSps && ParseAvcSps(nal.data(), nal.size(), &sps)) {
                bSps = true;
                *pFacts = CPictureFacts{
                    sps.nWidth,        sps.nHeight,         sps.nProfile,         sps.nChromaFormat,
                    sps.nBitDepthLuma, sps.nBitDepthChroma, 2 * sps.nUnitsInTick, sps.nTimeScale};
            }
        } else {
            CHevcSps sps;
            if (!bSps && ParseHevcSps(nal.data(), nal.size(), &sps)) {
                bSps = true;
                const uint32_t nUnits = pFacts->nUnits, nScale = pFacts->nScale;
                *pFacts = CPictureFacts{
                    sps.nWidth,        sps.nHeight,         sps.nProfile, sps.nChromaFormat,
                    sps.nBitDepthLuma, sps.nBitDepthChroma, nUnits,       nScale};
            }
            uint32_t nUnits = 0, nScale = 0;
            if (ReadHevcVpsClock(nal.data(), nal.size(), &nUnits, &nScale)) {
                pFacts->nUnits = nUnits;
                pFacts->nScale = nScale;
            }
        }
    }
    if (pFacts->nUnits == 0 || pFacts->nScale == 0 ||
        double(pFacts->nScale) / pFacts->nUnits > 1000 ||
        double(pFacts->nScale) / pFacts->nUnits < 1)
        pFacts->nUnits = pFacts->nScale = 0;
    return bSps;
}

CFoundSettings FoundVideo(CFoundSettings::ESource eSource, ECodec eCodec,
                          const CPictureFacts& facts) {
    CFoundSettings found;
    found.eSource = eSource;
    found.strVideo = eCodec == ECodec::H264 ? "H.264" : "HEVC";
    found.strProfile = ProfileName(eCodec, facts.nProfile);
    found.nWidth = facts.nWidth;
    found.nHeight = facts.nHeight;
    return found;
}

bool MakeVideoEntry(ECodec eCodec, const std::vector<std::vector<uint8_t>>& sets, bool bInBand,
                    CPictureFacts* pFacts, std::vector<uint8_t>* pEntry) {
    CConfigRecord record;
    std::vector<uint8_t> config;
    if (!PictureFactsOf(eCodec, sets, pFacts) ||
        !MakeConfigRecord(eCodec, sets, pFacts->nChroma, pFacts->nDepthLuma, pFacts->nDepthChroma,
                          &record) ||
        !WriteConfigRecord(record, &config))
        return false;
    *pEntry = eCodec == ECodec::H264
                  ? VideoEntry("avc1", "avcC", config, pFacts->nWidth, pFacts->nHeight)
              : bInBand ? VideoEntry("hev1", "hvcC", config, pFacts->nWidth, pFacts->nHeight)
                        : VideoEntry("hvc1", "hvcC", config, pFacts->nWidth, pFacts->nHeight);
    return true;
}

std::vector<uint8_t> AacConfigBytes(int nObject, uint32_t nRate, int nChannels) {
    const uint32_t nIndex = AacRateIndex(nRate);
    std::vector<uint8_t> config;
    if (nIndex == 15)
        return config;
    const uint32_t nBits = (uint32_t(nObject) << 11) | (nIndex << 7) | (uint32_t(nChannels) << 3);
    config.push_back(static_cast<uint8_t>(nBits >> 8));
    config.push_back(static_cast<uint8_t>(nBits));
    return config;
}

std::string ProfileName(ECodec eCodec, int nProfile) {
    if (eCodec == ECodec::H264) {
        switch (nProfile) {
        case 66:
            return "Baseline";
        case 77:
            return "Main";
        case 88:
            return "Extended";
        case 100:
            return "High";
        case 110:
            return "High 10";
        case 122:
            return "High 4:2:2";
        case 244:
            return "High 4:4:4";
        default:
            return std::string();
        }
    }
    switch (nProfile) {
    case 1:
        return "Main";
    case 2:
        return "Main 10";
    case 3:
        return "Main Still Picture";
    case 4:
        return "Range Extensions";
    default:
        return std::string();
    }
}

bool FindGoProIndex(CByteSource& recording, const CMediaRange& range, CCancelPoll* pCancel,
                    std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound) {
    // The header that begins the records, near the media data's start.
    std::vector<uint8_t> bytes;
    if (!Read(recording, range.nBegin, range.nEnd, kHeaderReach + kGoProMaxHeader, &bytes))
        return false;
    CGoProHeader header;
    uint64_t nAt = 0;
    bool bHeader = false;
    for (size_t i = 0; i + 8 <= bytes.size() && i < kHeaderReach && !bHeader; ++i) {
        size_t nNeed = 0;
        bHeader = bytes[i] == 'G' && IsGoProHeader(&bytes[i], bytes.size() - i) &&
                  ParseGoProHeader(&bytes[i], bytes.size() - i, true, &header, &nNeed) ==
                      ESampleParse::Ok;
        nAt = range.nBegin + i;
    }
    if (!bHeader)
        return false;

    // The records' own track first; the others as their kinds are first seen (the vector grows:
    // tracks are named by index).
    std::vector<CFoundTrack> tracks(1);
    tracks[0].nHandler = FourCC("meta");
    tracks[0].entry = PlainEntry("fdsc", 0);
    tracks[0].samples.push_back(CFoundSample{nAt, static_cast<uint32_t>(header.nLength), 0, true});
    const uint64_t nLimit = nAt + std::min<uint64_t>(kIndexBytes, range.nEnd - nAt);
    nAt += header.nLength;
    CGoProTracks kinds;
    std::vector<std::vector<uint8_t>> parameterSets;
    // Each metadata sample's place on the video's clock, for that track's own clock.
    std::vector<uint64_t> metadataAt;
    uint64_t nVideoTime = 0;
    uint32_t nVideoDuration = 0;
    const size_t kRecordBytes = kGoProRecordSize + kGoProMaxSlots * kGoProSlotSize;
    while (nAt < nLimit && tracks[0].samples.size() < kIndexSamples) {
        if (pCancel && tracks[0].samples.size() % 256 == 0 && pCancel->Cancelled())
            return false;
        if (!Read(recording, nAt, range.nEnd, kRecordBytes, &bytes))
            return false;
        CGoProRecord record;
        size_t nNeed = 0;
        if (ParseGoProRecord(bytes.data(), bytes.size(), nAt + bytes.size() == range.nEnd, &record,
                             &nNeed) != ESampleParse::Ok ||
            record.nSize == 0 || record.nSize > range.nEnd - nAt - record.nLength)
            break;
        int* pTrack = nullptr;
        switch (record.Sample()) {
        case EGoProSample::Video:
            pTrack = &kinds.nVideo;
            break;
        case EGoProSample::Sound:
            pTrack = &kinds.nSound;
            break;
        case EGoProSample::Timecode:
            pTrack = &kinds.nTimecode;
            break;
        case EGoProSample::Metadata:
            pTrack = &kinds.nMetadata;
            break;
        default:
            break;
        }
        if (!pTrack)
            break;
        if (*pTrack < 0) {
            *pTrack = static_cast<int>(tracks.size());
            tracks.emplace_back();
        }
        if (parameterSets.empty())
            parameterSets = record.parameterSets;
        tracks[0].samples.push_back(
            CFoundSample{nAt, static_cast<uint32_t>(record.nLength), 0, true});
        const uint64_t nSampleAt = nAt + record.nLength;
        CFoundTrack& track = tracks[static_cast<size_t>(*pTrack)];
        const bool bVideo = pTrack == &kinds.nVideo;
        track.samples.push_back(
            CFoundSample{nSampleAt, record.nSize, record.nDuration, !bVideo || record.nFlag == 1});
        if (bVideo) {
            nVideoTime += record.nDuration;
            nVideoDuration = nVideoDuration ? nVideoDuration : record.nDuration;
        } else if (pTrack == &kinds.nMetadata) {
            metadataAt.push_back(nVideoTime);
        }
        nAt = nSampleAt + record.nSize;
    }
    if (kinds.nVideo < 0 || nVideoDuration == 0)
        return false;

    // The video, from the parameter sets the first frame's record carries: H.264, or HEVC.
    CFoundTrack& video = tracks[static_cast<size_t>(kinds.nVideo)];
    CPictureFacts facts;
    ECodec eCodec = ECodec::H264;
    if (!MakeVideoEntry(eCodec, parameterSets, false, &facts, &video.entry)) {
        eCodec = ECodec::Hevc;
        if (!MakeVideoEntry(eCodec, parameterSets, false, &facts, &video.entry)) {
            pFound->eMissing = CFoundSettings::EMissing::NoParameterSets;
            return false;
        }
    }
    const uint32_t nVideoScale = header.nTimescale ? header.nTimescale : 90000;
    video.nHandler = FourCC("vide");
    video.nTimescale = nVideoScale;
    video.nWidth = facts.nWidth;
    video.nHeight = facts.nHeight;
    tracks[0].nTimescale = nVideoScale;

    CFoundSettings found = FoundVideo(CFoundSettings::ESource::Records, eCodec, facts);
    found.dFrameRate = double(nVideoScale) / nVideoDuration;
    found.strCamera = header.strModel;
    if (kinds.nSound >= 0) {
        // The camera's sound: AAC-LC at the rate and with the channels its header gives.
        CFoundTrack& sound = tracks[static_cast<size_t>(kinds.nSound)];
        const uint32_t nRate = header.nSampleRate ? header.nSampleRate : 48000;
        const int nChannels = header.nChannels ? static_cast<int>(header.nChannels) : 2;
        const std::vector<uint8_t> asc = AacConfigBytes(2, nRate, nChannels);
        if (asc.empty())
            return false;
        sound.nHandler = FourCC("soun");
        sound.nTimescale = nRate;
        sound.entry = AacEntry(asc, nChannels, nRate);
        found.strSound = "AAC-LC";
        found.nSampleRate = nRate;
        found.nChannels = nChannels;
    }
    if (kinds.nTimecode >= 0) {
        CFoundTrack& timecode = tracks[static_cast<size_t>(kinds.nTimecode)];
        timecode.nHandler = FourCC("tmcd");
        timecode.nTimescale = nVideoScale;
        timecode.entry = TimecodeEntry(nVideoScale, nVideoDuration);
    }
    if (kinds.nMetadata >= 0) {
        // Its clock: what its samples last, over the video's time between them; where only one
        // was found, the milliseconds the cameras use.
        CFoundTrack& metadata = tracks[static_cast<size_t>(kinds.nMetadata)];
        uint32_t nScale = 1000;
        if (metadataAt.size() >= 2 && metadataAt[1] > metadataAt[0]) {
            const double dSeconds = double(metadataAt[1] - metadataAt[0]) / nVideoScale;
            const double dScale = metadata.samples[0].nDuration / dSeconds;
            if (dScale >= 1 && dScale < 1e7)
                nScale = static_cast<uint32_t>(std::lround(dScale / 10) * 10);
            nScale = std::max<uint32_t>(nScale, 1);
        }
        metadata.nHandler = FourCC("meta");
        metadata.nTimescale = nScale;
        metadata.entry = PlainEntry("gpmd", 4);
    }
    *pTracks = std::move(tracks);
    *pFound = found;
    return true;
}

bool MakeSelfReference(CByteSource& recording, const CMediaRange& range, const CSelfSearch& search,
                       CReferenceMovie* pMovie, CFoundSettings* pFound,
                       CRebuildResult::EProblem* pProblem) {
    std::vector<CFoundTrack> tracks;
    CFoundSettings found;
    CCancelPoll* pCancel = search.pCancel;
    bool bFound = FindGoProIndex(recording, range, pCancel, &tracks, &found);
    if (!bFound && found.eMissing == CFoundSettings::EMissing::None)
        bFound = FindStreamIndex(recording, range, search, &tracks, &found);
    if (!bFound && found.eMissing == CFoundSettings::EMissing::None)
        found.eMissing = CFoundSettings::EMissing::NoParameterSets;
    *pFound = found;
    if (!bFound)
        return false;
    return ReadFoundIndex(recording, tracks, found.strVideo == "HEVC" ? "hvc1" : "avc1", pMovie,
                          pProblem, pCancel);
}
