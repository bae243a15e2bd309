// The rebuild without a reference from parameter sets the stream carries: the first SPS in
// the media data, the samples from the picture it begins on, and the sound between them found
// by trying the configurations AAC-LC has until frames of one lead exactly to the next picture.
#include "rebuild/SelfReference.h"

#include "codec/AacFrame.h"
#include "codec/AvcSyntax.h"
#include "codec/ConfigRecord.h"
#include "codec/HevcSyntax.h"
#include "codec/VideoSample.h"
#include "media/Box.h"
#include "rebuild/ParameterSearch.h"
#include "rebuild/WalkTrack.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// What is read of the media data's start to find the parameter sets and index the first
// samples: many seconds of any recording, and a bound on what a hostile file costs.
const uint64_t kScanBytes = 32u << 20;
const size_t kMaxSamples = 8192;
const uint32_t kMaxParameterSet = 1024;
// How far before an SPS its sample may begin (a delimiter, SEI messages, a VPS).
const size_t kLeadReach = 4096;
const size_t kMaxRunFrames = 512;
// How far past bytes that are neither picture nor sound the next picture is looked for.
const size_t kAheadReach = 4u << 20;
const int kLengthSize = 4;
// More than a cut-off picture or a few seconds of a text or metadata track.
const size_t kUnknownRest = 64u << 10;

bool IsParameterSet(ECodec eCodec, uint8_t nHeader) {
    if (eCodec == ECodec::H264) {
        const int nType = nHeader & 0x1F;
        return (nType == 7 || nType == 8) && (nHeader & 0x80) == 0;
    }
    const int nType = (nHeader >> 1) & 0x3F;
    return nType >= 32 && nType <= 34 && (nHeader & 0x80) == 0;
}

// NAL units that may come before a picture's slices without being one: delimiters, SEI,
// parameter sets.
bool MayLead(ECodec eCodec, uint8_t nHeader) {
    if ((nHeader & 0x80) != 0)
        return false;
    if (eCodec == ECodec::H264) {
        const int nType = nHeader & 0x1F;
        return nType == 6 || nType == 7 || nType == 8 || nType == 9;
    }
    const int nType = (nHeader >> 1) & 0x3F;
    return (nType >= 32 && nType <= 35) || nType == 39;
}

struct CFirstSps {
    ECodec eCodec = ECodec::Other;
    size_t nAt = 0; // its length prefix, in the bytes scanned
};

bool FindSps(const std::vector<uint8_t>& data, CFirstSps* pSps) {
    for (size_t i = 0; i + 4 + 4 <= data.size(); ++i) {
        const uint32_t nLength = ReadBE32(&data[i]);
        if (nLength < 4 || nLength > kMaxParameterSet || nLength > data.size() - i - 4)
            continue;
        const uint8_t* pNal = &data[i + 4];
        if ((pNal[0] & 0x9F) == 0x07 && (pNal[0] & 0x60) != 0) {
            CAvcSps sps;
            if (ParseAvcSps(pNal, nLength, &sps)) {
                pSps->eCodec = ECodec::H264;
                pSps->nAt = i;
                return true;
            }
        } else if (pNal[0] == (33 << 1) && pNal[1] == 1) {
            CHevcSps sps;
            if (ParseHevcSps(pNal, nLength, &sps)) {
                pSps->eCodec = ECodec::Hevc;
                pSps->nAt = i;
                return true;
            }
        }
    }
    return false;
}

// Where the sample holding the SPS at nSps begins: the earliest place whose chain of units
// that may lead a picture arrives at it exactly.
size_t SampleStart(ECodec eCodec, const std::vector<uint8_t>& data, size_t nSps) {
    for (size_t p = nSps > kLeadReach ? nSps - kLeadReach : 0; p < nSps; ++p) {
        size_t q = p;
        while (q < nSps && nSps - q >= 5) {
            const uint32_t nLength = ReadBE32(&data[q]);
            if (nLength == 0 || nLength > nSps - q - 4 || !MayLead(eCodec, data[q + 4]))
                break;
            q += 4 + nLength;
        }
        if (q == nSps)
            return p;
    }
    return nSps;
}

// The parameter sets of the units from nAt on, up to the first that may not lead a picture.
std::vector<std::vector<uint8_t>> ParameterSetsAt(ECodec eCodec, const std::vector<uint8_t>& data,
                                                  size_t nAt) {
    std::vector<std::vector<uint8_t>> sets;
    while (data.size() - nAt >= 5 && sets.size() < 64) {
        const uint32_t nLength = ReadBE32(&data[nAt]);
        if (nLength == 0 || nLength > data.size() - nAt - 4 || !MayLead(eCodec, data[nAt + 4]))
            break;
        if (IsParameterSet(eCodec, data[nAt + 4]))
            sets.emplace_back(&data[nAt + 4], &data[nAt + 4] + nLength);
        nAt += 4 + nLength;
    }
    return sets;
}

struct CAacTry {
    int nChannels = 0;
    int nRateIndex = 0;
};

// One configuration of each channel layout and band table AAC-LC has, the commonest first.
const CAacTry kAacTries[] = {{2, 3}, {1, 3}, {2, 6},  {1, 6},  {2, 8}, {1, 8}, {2, 5},
                             {1, 5}, {6, 3}, {2, 11}, {1, 11}, {2, 2}, {2, 0}};

// The rates that share a band table with the index tried, the commonest first.
std::vector<uint32_t> RatesOfTable(int nRateIndex) {
    switch (nRateIndex) {
    case 0:
        return {96000, 88200};
    case 3:
        return {48000, 44100};
    case 6:
        return {24000, 22050};
    case 8:
        return {16000, 12000, 11025};
    case 2:
        return {64000};
    case 5:
        return {32000};
    default:
        return {8000};
    }
}

class CStreamScan {
public:
    CStreamScan(const std::vector<uint8_t>& data, bool bAtEnd, ECodec eCodec, size_t nMaxNal)
        : m_data(data), m_bAtEnd(bAtEnd), m_eCodec(eCodec), m_nMaxNal(nMaxNal),
          m_parser(eCodec, kLengthSize, nMaxNal) {}

    bool AddParameterSet(const std::vector<uint8_t>& nal) {
        return m_parser.AddParameterSet(nal.data(), nal.size());
    }
    // A picture at nAt: its size and whether it is a key frame. The parameter sets it carries
    // are kept where bKeep.
    bool PictureAt(size_t nAt, CVideoSample* pSample, bool bKeep = true) {
        if (nAt >= m_data.size() || !m_parser.MayStartSample(&m_data[nAt], m_data.size() - nAt))
            return false;
        size_t nNeed = 0;
        if (m_parser.Parse(&m_data[nAt], m_data.size() - nAt, m_bAtEnd, pSample, &nNeed, nAt) !=
            ESampleParse::Ok)
            return false;
        if (bKeep)
            m_parser.Accept();
        else
            m_parser.Reject();
        return true;
    }
    // Sound frames of config from nAt that lead exactly to a picture (or to the end of what
    // was read, when the data ends there): their sizes.
    bool SoundRunAt(size_t nAt, const CAacConfig& config, std::vector<uint32_t>* pSizes) {
        pSizes->clear();
        CAacFrameInfo previous, info;
        while (nAt < m_data.size() && pSizes->size() < kMaxRunFrames) {
            size_t nLength = 0;
            if (ParseAacFrame(config, &m_data[nAt], m_data.size() - nAt, &nLength, &info) !=
                    EAacFrame::Ok ||
                nLength == 0 || (!pSizes->empty() && !AacFrameContinues(previous, info)))
                return false;
            previous = info;
            pSizes->push_back(static_cast<uint32_t>(nLength));
            nAt += nLength;
            CVideoSample sample;
            if ((m_bAtEnd && nAt == m_data.size()) || PictureAt(nAt, &sample, false))
                return true;
        }
        return false;
    }

    // Whether a picture begins at nAt that the end of what was read cuts off: units a picture
    // has, one after another, until one runs past the end.
    bool PictureCutOffAt(size_t nAt) const {
        while (nAt < m_data.size() && m_data.size() - nAt >= 5) {
            const uint32_t nLength = ReadBE32(&m_data[nAt]);
            const uint8_t nHeader = m_data[nAt + 4];
            if (nLength < 2 || nLength > m_nMaxNal ||
                !(MayLead(m_eCodec, nHeader) || IsSlice(nHeader)))
                return false;
            if (nLength > m_data.size() - nAt - 4)
                return true;
            nAt += 4 + nLength;
        }
        return false;
    }

    // Whether a picture begins in the next few megabytes from nFrom.
    bool PictureAhead(size_t nFrom) {
        const size_t nEnd = std::min(m_data.size(), nFrom + kAheadReach);
        for (size_t nAt = nFrom; nAt < nEnd; ++nAt) {
            CVideoSample sample;
            if (PictureAt(nAt, &sample, false))
                return true;
        }
        return false;
    }

private:
    const std::vector<uint8_t>& m_data;
    bool m_bAtEnd;
    ECodec m_eCodec;
    size_t m_nMaxNal;
    CVideoSampleParser m_parser;

    bool IsSlice(uint8_t nHeader) const {
        if ((nHeader & 0x80) != 0)
            return false;
        if (m_eCodec == ECodec::H264)
            return (nHeader & 0x1F) == 1 || (nHeader & 0x1F) == 5;
        return ((nHeader >> 1) & 0x3F) <= 21;
    }
};

const double kCommonRates[] = {23.976, 24, 25, 29.97, 30, 48, 50, 59.94, 60, 100, 120, 240};

double NearestCommonRate(double dRate, double* pOff) {
    double dBest = kCommonRates[0];
    for (double d : kCommonRates) {
        if (std::fabs(std::log(d / dRate)) < std::fabs(std::log(dBest / dRate)))
            dBest = d;
    }
    *pOff = std::fabs(std::log(dBest / dRate));
    return dBest;
}

} // namespace

bool FindStreamIndex(CByteSource& recording, const CMediaRange& range, const CSelfSearch& search,
                     std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound) {
    CCancelPoll* pCancel = search.pCancel;
    const uint64_t nRead = std::min<uint64_t>(kScanBytes, range.nEnd - range.nBegin);
    std::vector<uint8_t> data(static_cast<size_t>(nRead));
    if (nRead == 0 || !recording.ReadAt(range.nBegin, data.data(), data.size()))
        return false;
    const bool bAtEnd = range.nBegin + nRead == range.nEnd;
    CFirstSps first;
    CSearchedSets searched;
    // An H.264 stream with its sets has them before its first key frame; an SPS found after
    // one is bytes of a picture that read as one.
    size_t nKey = 0;
    const bool bKey = FindAvcKeyFrame(data, &nKey);
    const bool bInStream =
        FindSps(data, &first) && (first.eCodec == ECodec::Hevc || !bKey || first.nAt < nKey);
    if (!bInStream) {
        // None in the stream: where it has an H.264 key frame, a search may find them.
        pFound->eMissing = CFoundSettings::EMissing::NoParameterSets;
        pFound->bSearchable = bKey;
        searched.nKeyFrame = nKey;
        if (!bKey || !search.pDecoders || !search.bSearch)
            return false;
        if (!SearchAvcParameterSets(data, searched.nKeyFrame, *search.pDecoders, pCancel,
                                    search.pProgress, &searched)) {
            pFound->eMissing = CFoundSettings::EMissing::NoSize;
            return false;
        }
        pFound->eMissing = CFoundSettings::EMissing::None;
        first.eCodec = ECodec::H264;
        first.nAt = searched.nKeyFrame;
    }
    if (pCancel && pCancel->Cancelled())
        return false;
    const ECodec eCodec = first.eCodec;
    const size_t nStart = SampleStart(eCodec, data, first.nAt);
    const std::vector<std::vector<uint8_t>> sets =
        bInStream ? ParameterSetsAt(eCodec, data, nStart) : searched.sets;
    CPictureFacts facts;
    std::vector<uint8_t> entry;
    // In the samples too: HEVC's entry says so.
    if (!MakeVideoEntry(eCodec, sets, eCodec == ECodec::Hevc, &facts, &entry)) {
        pFound->eMissing = CFoundSettings::EMissing::NoParameterSets;
        return false;
    }
    CStreamScan scan(data, bAtEnd, eCodec, NalSizeLimit(0));
    for (const std::vector<uint8_t>& nal : sets)
        scan.AddParameterSet(nal);

    // The samples from the first picture on: pictures, and runs of sound between them.
    std::vector<CFoundTrack> tracks(1);
    CFoundTrack& video = tracks[0];
    std::vector<CFoundSample> sound;
    std::vector<size_t> soundBefore; // per picture, the sound frames before it
    bool bSoundKnown = false;
    CAacConfig aac;
    int nRateIndex = 0;
    size_t nAt = nStart;
    std::vector<uint32_t> run;
    // Frames of sound from nAt to the next picture, of the configuration found, or of the
    // first that leads to one.
    const auto soundRun = [&](size_t nFrom) {
        if (bSoundKnown)
            return scan.SoundRunAt(nFrom, aac, &run);
        for (const CAacTry& attempt : kAacTries) {
            CAacConfig tried;
            tried.nObjectType = 2;
            tried.nSampleRateIndex = attempt.nRateIndex;
            tried.nChannelConfig = attempt.nChannels;
            if (scan.SoundRunAt(nFrom, tried, &run)) {
                bSoundKnown = true;
                aac = tried;
                nRateIndex = attempt.nRateIndex;
                return true;
            }
        }
        return false;
    };
    const auto longRest = [&](size_t nFrom, size_t nTo) {
        return nTo - nFrom >= kUnknownRest &&
               std::any_of(data.begin() + ptrdiff_t(nFrom), data.begin() + ptrdiff_t(nTo),
                           [](uint8_t b) { return b != 0; });
    };
    // Sound the recorder wrote before its first picture; a long stretch of something else
    // there is sound no syntax tells.
    if (nStart > 0) {
        size_t nEnd = 0;
        if (soundRun(0)) {
            for (uint32_t nSize : run)
                nEnd += nSize;
        }
        if (nEnd == nStart) {
            size_t nFrame = 0;
            for (uint32_t nSize : run) {
                sound.push_back(CFoundSample{range.nBegin + nFrame, nSize, 1024, true});
                nFrame += nSize;
            }
        } else if (longRest(0, nStart)) {
            pFound->eMissing = CFoundSettings::EMissing::SoundUnknown;
            return false;
        }
    }
    while (nAt < data.size() && video.samples.size() + sound.size() < kMaxSamples) {
        if (pCancel && (video.samples.size() + sound.size()) % 256 == 0 && pCancel->Cancelled())
            return false;
        CVideoSample picture;
        if (scan.PictureAt(nAt, &picture)) {
            video.samples.push_back(CFoundSample{
                range.nBegin + nAt, static_cast<uint32_t>(picture.nSize), 0, picture.bSync});
            soundBefore.push_back(sound.size());
            nAt += picture.nSize;
            continue;
        }
        if (!soundRun(nAt)) {
            // Pictures further on: what lies between is sound of another kind (or damage),
            // which only a reference can tell. So is a long run of bytes after the last
            // picture (a chunk of PCM, say), unless it is a picture the cut left unfinished: a
            // copy without it would lose what the recording holds.
            if (scan.PictureAhead(nAt + 1) ||
                (!scan.PictureCutOffAt(nAt) && longRest(nAt, data.size()))) {
                pFound->eMissing = CFoundSettings::EMissing::SoundUnknown;
                return false;
            }
            break;
        }
        for (uint32_t nSize : run) {
            sound.push_back(CFoundSample{range.nBegin + nAt, nSize, 1024, true});
            nAt += nSize;
        }
    }
    if (video.samples.empty()) {
        pFound->eMissing = CFoundSettings::EMissing::DoesNotDecode;
        return false;
    }

    // The clocks: the pictures' from their parameter sets, the sound's rate from how many of
    // its frames lie between them; where the stream gives no clock, from the sound, else the
    // commonest rate.
    CFoundSettings found = FoundVideo(bInStream ? CFoundSettings::ESource::ParameterSets
                                                : CFoundSettings::ESource::Search,
                                      eCodec, facts);
    found.bQpAssumed = searched.bQpAssumed;
    found.nCropLines = searched.nCropLines;
    found.bBipredAssumed = searched.bBipredAssumed;
    found.bChromaAssumed = !bInStream && searched.bChromaAssumed;
    found.bScalingAssumed = !bInStream && searched.bScalingAssumed;
    const std::vector<uint32_t> rates = RatesOfTable(nRateIndex);
    // Sound frames a picture: the slope of the frames before each picture, over all of them,
    // which the writer's chunks of either track do not sway.
    double dPerPicture = double(sound.size()) / double(video.samples.size());
    bool bSlope = false; // sound lies between the pictures, not only before them
    const size_t nPictures = soundBefore.size();
    if (nPictures >= 2 && !sound.empty()) {
        double dMeanX = 0, dMeanY = 0, dXY = 0, dXX = 0;
        for (size_t i = 0; i < nPictures; ++i) {
            dMeanX += double(i) / nPictures;
            dMeanY += double(soundBefore[i]) / nPictures;
        }
        for (size_t i = 0; i < nPictures; ++i) {
            dXY += (double(i) - dMeanX) * (double(soundBefore[i]) - dMeanY);
            dXX += (double(i) - dMeanX) * (double(i) - dMeanX);
        }
        // A slope over one run of sound between pictures says nothing of their rate.
        size_t nRuns = 0;
        for (size_t i = 1; i < nPictures; ++i)
            nRuns += soundBefore[i] > soundBefore[i - 1] ? 1 : 0;
        if (dXX > 0 && dXY > 0 && nRuns >= 2) {
            dPerPicture = dXY / dXX;
            bSlope = true;
        }
    }
    uint32_t nRate = rates[0];
    double dFrameRate = 0;
    if (facts.nUnits != 0) {
        dFrameRate = double(facts.nScale) / facts.nUnits;
        const double dRate = dPerPicture * dFrameRate * 1024;
        for (uint32_t n : rates) {
            if (std::fabs(std::log(n / dRate)) < std::fabs(std::log(nRate / dRate)))
                nRate = n;
        }
    } else if (bSlope) {
        double dBestOff = 1e9;
        for (uint32_t n : rates) {
            double dOff = 0;
            const double dRate = NearestCommonRate(n / (1024 * dPerPicture), &dOff);
            if (dOff < dBestOff) {
                dBestOff = dOff;
                dFrameRate = dRate;
                nRate = n;
            }
        }
    } else {
        dFrameRate = 30;
        found.bFrameRateAssumed = true;
    }
    // The pictures' timescale: the stream's clock, fine enough for any edit; else a common one.
    uint32_t nScale = facts.nScale, nUnits = facts.nUnits;
    if (nUnits == 0) {
        nScale = 90000;
        nUnits = static_cast<uint32_t>(std::lround(nScale / dFrameRate));
    }
    while (nScale < 10000 && nScale <= 0xFFFFFFFFu / 10 && nUnits <= 0xFFFFFFFFu / 10) {
        nScale *= 10;
        nUnits *= 10;
    }
    found.dFrameRate = double(nScale) / nUnits;
    for (CFoundSample& sample : video.samples)
        sample.nDuration = nUnits;
    video.nHandler = FourCC("vide");
    video.nTimescale = nScale;
    video.nWidth = facts.nWidth;
    video.nHeight = facts.nHeight;
    video.entry = std::move(entry);
    if (!sound.empty()) {
        const int nChannels = aac.nChannelConfig;
        const std::vector<uint8_t> asc = AacConfigBytes(2, nRate, aac.nChannelConfig);
        tracks.emplace_back();
        CFoundTrack& audio = tracks.back();
        audio.nHandler = FourCC("soun");
        audio.nTimescale = nRate;
        audio.entry = AacEntry(asc, nChannels, nRate);
        audio.samples = std::move(sound);
        found.strSound = "AAC-LC";
        found.nSampleRate = nRate;
        found.nChannels = nChannels;
        found.bRateByTime = rates.size() > 1 && (bSlope || facts.nUnits != 0);
    }
    *pTracks = std::move(tracks);
    *pFound = found;
    return true;
}
