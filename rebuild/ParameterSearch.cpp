#include "rebuild/ParameterSearch.h"

#include "codec/AvcSetWriter.h"
#include "codec/ConfigRecord.h"
#include "codec/RbspReader.h"
#include "rebuild/SampleDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const uint32_t kMaxNal = 16u << 20;
const size_t kMaxPictures = 12;
// How far past bytes that are not video the next picture is looked for.
const size_t kAheadReach = 4u << 20;
// The probe's row: wider than any picture (8192 pixels), one macroblock high.
const int kWideMbs = 512;
// Pictures up to 8192x4320, the most the decoders are let make.
const int kMaxMbs = 512 * 270;
// The candidates the key frame's decode keeps: the readings that go as far as the best.
const size_t kKeep = 64;
// Macroblocks a byte of a key frame holds at most: a flat picture's, many times over.
const size_t kMbsPerByte = 64;
// Of them, how many the size is looked for with.
const size_t kSizeTries = 6;
// How far before the key frame its sample's SEI messages may begin.
const size_t kNoteReach = 4096;
// The decoder keeps the words of its first faults only: it is opened again before they run out.
const size_t kFaultsKept = 48;

struct CSlice {
    size_t nAt = 0; // its length prefix
    uint32_t nLength = 0;
};

struct CPicture {
    std::vector<CSlice> slices;
    bool bReference = false;
};

// The slice header's first three fields, and where the reader stands after them.
struct CSliceStart {
    uint32_t nFirstMb = 0, nType = 0, nPps = 0;
};

bool ReadSliceStart(CRbspReader& bits, CSliceStart* pStart) {
    pStart->nFirstMb = bits.Ue();
    pStart->nType = bits.Ue();
    pStart->nPps = bits.Ue();
    return !bits.Failed() && pStart->nType <= 9 && pStart->nPps <= 255;
}

// A slice NAL unit with a length prefix at nAt that begins a picture (first_mb_in_slice 0):
// its length, or 0.
uint32_t PictureSliceAt(const std::vector<uint8_t>& data, size_t nAt, bool bKeyOnly,
                        CSliceStart* pStart) {
    if (data.size() < 6 || nAt > data.size() - 6)
        return 0;
    const uint32_t nLength = ReadBE32(&data[nAt]);
    const uint8_t nHeader = data[nAt + 4];
    const int nType = nHeader & 0x1F;
    if (nLength < 2 || nLength > kMaxNal || nLength > data.size() - nAt - 4 ||
        (nHeader & 0x80) != 0 || (nType != 5 && (bKeyOnly || nType != 1)) ||
        (nType == 5 && (nHeader & 0x60) == 0))
        return 0;
    CRbspReader bits(&data[nAt + 5], nLength - 1);
    if (!ReadSliceStart(bits, pStart) || pStart->nFirstMb != 0)
        return 0;
    if (nType == 5 && pStart->nType % 5 != 2)
        return 0;
    return nLength;
}

// The pictures from the key frame on: its chain of NAL units, and past bytes that are not
// video (sound, say), the next picture of the same parameter set.
std::vector<CPicture> PicturesFrom(const std::vector<uint8_t>& data, size_t nKeyFrame,
                                   uint32_t nPps) {
    std::vector<CPicture> pictures;
    size_t nAt = nKeyFrame;
    while (nAt < data.size() && data.size() - nAt >= 6) {
        const uint32_t nLength = ReadBE32(&data[nAt]);
        const uint8_t nHeader = data[nAt + 4];
        const int nType = nHeader & 0x1F;
        bool bUnit = nLength >= 1 && nLength <= kMaxNal && nLength <= data.size() - nAt - 4 &&
                     (nHeader & 0x80) == 0;
        if (bUnit && (nType == 1 || nType == 5)) {
            CRbspReader bits(&data[nAt + 5], nLength - 1);
            CSliceStart start;
            bUnit = nLength >= 2 && ReadSliceStart(bits, &start) && start.nPps == nPps &&
                    (start.nFirstMb != 0 || pictures.size() < kMaxPictures) &&
                    (start.nFirstMb == 0 || !pictures.empty());
            if (bUnit) {
                if (start.nFirstMb == 0)
                    pictures.emplace_back();
                pictures.back().slices.push_back(CSlice{nAt, nLength});
                pictures.back().bReference = (nHeader & 0x60) != 0;
            }
        } else if (bUnit) {
            // Delimiters, SEI, filler: nothing the search needs.
            bUnit = nType == 6 || nType == 9 || nType == 12;
        }
        if (bUnit) {
            nAt += 4 + nLength;
            continue;
        }
        if (pictures.size() >= kMaxPictures)
            break;
        const size_t nEnd = std::min(data.size(), nAt + kAheadReach);
        size_t nNext = nAt + 1;
        CSliceStart start;
        while (nNext < nEnd &&
               (PictureSliceAt(data, nNext, false, &start) == 0 || start.nPps != nPps))
            ++nNext;
        if (nNext >= nEnd)
            break;
        nAt = nNext;
    }
    if (pictures.size() > kMaxPictures)
        pictures.resize(kMaxPictures);
    return pictures;
}

// Everything a candidate says: what its SPS and PPS would be.
using CTry = CAvcSetFields;

// How a candidate fared: the pictures decoded before the first fault, and where in the first
// picture the decoder gave up (in macroblocks, counted along the rows).
struct CProbe {
    bool bClean = false;
    size_t nCleanPictures = 0;
    int nFailedMb = -1;
};

// FFmpeg's words for a macroblock that does not decode: "error while decoding MB x y".
int FailedMbOf(const std::string& strText, int nWidth) {
    const size_t nAt = strText.find("decoding MB ");
    int nX = 0, nY = 0;
    if (nAt == std::string::npos || sscanf(strText.c_str() + nAt + 12, "%d %d", &nX, &nY) != 2 ||
        nX < 0 || nY < 0 || nX >= nWidth || nY > kMaxMbs)
        return -1;
    return nY * nWidth + nX;
}

class CSearch {
public:
    CSearch(const std::vector<uint8_t>& data, std::vector<CPicture> pictures,
            CDecoderFactory& decoders, CCancelPoll* pCancel)
        : m_pictures(std::move(pictures)), m_decoders(decoders), m_pCancel(pCancel) {
        for (const CPicture& picture : m_pictures) {
            std::vector<uint8_t> packet;
            for (const CSlice& slice : picture.slices)
                packet.insert(packet.end(), &data[slice.nAt], &data[slice.nAt] + 4 + slice.nLength);
            m_packets.push_back(std::move(packet));
        }
    }

    bool Cancelled() {
        m_bCancelled = m_bCancelled || (m_pCancel && m_pCancel->Cancelled());
        return m_bCancelled;
    }
    // Probing, the decoder only says where it gave up; checking, it also finds macroblocks
    // that a picture's data never reached.
    void SetUse(EDecoderUse eUse) {
        if (eUse != m_eUse)
            m_pDecoder.reset();
        m_eUse = eUse;
    }

    // Decodes the pictures listed (indexes into the pictures) with the candidate's sets.
    // Each candidate's sets go in before its first picture, into one decoder: opening one
    // for each of the thousands tried would cost more than their decoding.
    CProbe Probe(const CTry& t, const std::vector<size_t>& which) {
        CProbe probe;
        if (Cancelled() || which.empty())
            return probe;
        const std::vector<uint8_t> sps = WriteAvcSps(t), pps = WriteAvcPps(t);
        if (!m_pDecoder || m_pDecoder->Faults().size() >= kFaultsKept) {
            CConfigRecord record;
            std::vector<uint8_t> config;
            std::string strError;
            m_pDecoder.reset();
            if (!MakeConfigRecord(ECodec::H264, {sps, pps}, 1, 8, 8, &record) ||
                !WriteConfigRecord(record, &config))
                return probe;
            m_pDecoder =
                m_decoders.Open(ECodec::H264, config.data(), config.size(), m_eUse, &strError);
            if (!m_pDecoder)
                return probe;
        }
        CSampleDecoder& decoder = *m_pDecoder;
        decoder.Reset();
        const size_t nFaultsBefore = decoder.Faults().size();
        const int64_t nFramesBefore = decoder.Frames();
        const int64_t nFirstLabel = m_nLabel;
        std::vector<uint8_t> packet;
        bool bClean = true;
        for (size_t i = 0; i < which.size() && bClean; ++i) {
            packet.clear();
            if (i == 0) {
                for (const std::vector<uint8_t>* pSet : {&sps, &pps}) {
                    const uint32_t nSize = static_cast<uint32_t>(pSet->size());
                    const uint8_t prefix[4] = {uint8_t(nSize >> 24), uint8_t(nSize >> 16),
                                               uint8_t(nSize >> 8), uint8_t(nSize)};
                    packet.insert(packet.end(), prefix, prefix + 4);
                    packet.insert(packet.end(), pSet->begin(), pSet->end());
                }
            }
            const std::vector<uint8_t>& picture = m_packets[which[i]];
            packet.insert(packet.end(), picture.begin(), picture.end());
            bClean = decoder.Decode(packet.data(), packet.size(), m_nLabel++);
        }
        bClean =
            bClean && decoder.Finish() && decoder.Frames() - nFramesBefore == int64_t(which.size());
        const std::vector<CSampleFault> faults = decoder.Faults();
        probe.bClean = bClean && faults.size() == nFaultsBefore;
        probe.nCleanPictures = probe.bClean ? which.size() : 0;
        for (size_t i = nFaultsBefore; i < faults.size(); ++i) {
            const int64_t nPicture = faults[i].nLabel - nFirstLabel;
            if (i == nFaultsBefore)
                probe.nCleanPictures = which.size();
            probe.nCleanPictures =
                std::min(probe.nCleanPictures, size_t(std::max<int64_t>(0, nPicture)));
            if (nPicture == 0 && probe.nFailedMb < 0)
                probe.nFailedMb = FailedMbOf(faults[i].strText, t.nWidth);
        }
        m_nLabel += 1; // a gap: a late fault of one candidate names none of the next
        return probe;
    }

    const std::vector<CPicture>& Pictures() const { return m_pictures; }

private:
    std::vector<CPicture> m_pictures;
    std::vector<std::vector<uint8_t>> m_packets;
    CDecoderFactory& m_decoders;
    CCancelPoll* m_pCancel;
    std::unique_ptr<CSampleDecoder> m_pDecoder;
    EDecoderUse m_eUse = EDecoderUse::Probe;
    int64_t m_nLabel = 0;
    bool m_bCancelled = false;
};

// The key frame's slice header as a candidate would read it, to its end: false when it does
// not read, or (CABAC) when the bits to the byte are not the ones the slice data begins with.
bool KeyHeaderReads(const uint8_t* pPayload, size_t nSize, const CTry& t, int* pQpDelta) {
    CRbspReader bits(pPayload, nSize);
    CSliceStart start;
    if (!ReadSliceStart(bits, &start))
        return false;
    bits.Skip(t.nLog2Frame);
    bits.Ue(); // idr_pic_id
    if (t.nLog2Poc)
        bits.Skip(t.nLog2Poc);
    bits.Skip(2); // no_output_of_prior_pics, long_term_reference
    *pQpDelta = bits.Se();
    if (t.bDeblockingControl) {
        const uint32_t nIdc = bits.Ue();
        if (nIdc > 2)
            return false;
        if (nIdc != 1) {
            const int nAlpha = bits.Se(), nBeta = bits.Se();
            if (nAlpha < -6 || nAlpha > 6 || nBeta < -6 || nBeta > 6)
                return false;
        }
    }
    if (t.bCabac) {
        while (bits.Position() % 8 != 0 && !bits.Failed()) {
            if (!bits.Flag())
                return false;
        }
    }
    return !bits.Failed() && *pQpDelta >= -51 && *pQpDelta <= 51;
}

// The zero bits after the key frame's parameter set id: its frame_num (all zero) and the
// leading zeros of its idr_pic_id.
int ZerosAfterPps(const uint8_t* pPayload, size_t nSize) {
    CRbspReader bits(pPayload, nSize);
    CSliceStart start;
    if (!ReadSliceStart(bits, &start))
        return 0;
    int nZeros = 0;
    while (nZeros < 48 && !bits.Failed() && !bits.Flag())
        ++nZeros;
    return bits.Failed() ? 0 : nZeros;
}

// How many pictures from the key frame on step their frame_num as a frame_num of nLog2 bits
// does: by one after a reference picture, by none after another.
size_t FrameNumsFit(const std::vector<uint8_t>& data, const std::vector<CPicture>& pictures,
                    int nLog2) {
    uint32_t nExpected = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const CSlice& slice = pictures[i].slices.front();
        CRbspReader bits(&data[slice.nAt + 5], slice.nLength - 1);
        CSliceStart start;
        if (!ReadSliceStart(bits, &start))
            return i;
        const uint32_t nFrameNum = bits.Bits(nLog2);
        if (bits.Failed() || nFrameNum != nExpected)
            return i;
        if (pictures[i].bReference)
            nExpected = (nFrameNum + 1) & ((1u << nLog2) - 1);
    }
    return pictures.size();
}

// Whether a picture's width to height is 16:9 or 4:3.
bool CommonShape(int nWidth, int nHeight) {
    return nWidth * 9 == nHeight * 16 || nWidth * 3 == nHeight * 4;
}

int CommonShapeCrop(int nWidth, int nHeight) {
    if (CommonShape(nWidth, nHeight))
        return 0;
    for (int nLines = 2; nLines < 16 && nLines < nHeight; nLines += 2) {
        if (CommonShape(nWidth, nHeight - nLines))
            return nLines;
    }
    return 0;
}

struct CScored {
    CTry t;
    int nScore = 0;
};

// What x264 notes of its settings in an SEI message before its first key frame: the fields
// decoding cannot check. A number after "name=" in the note, or false.
bool EncoderNote(const std::string& note, const char* pszName, int* pValue) {
    const std::string key = std::string(" ") + pszName + "=";
    const size_t nAt = note.find(key);
    return nAt != std::string::npos && sscanf(note.c_str() + nAt + key.size(), "%d", pValue) == 1;
}

std::string EncoderNoteBefore(const std::vector<uint8_t>& data, size_t nKeyFrame) {
    static const char kTag[] = "x264 - core ";
    const size_t nFrom = nKeyFrame > kNoteReach ? nKeyFrame - kNoteReach : 0;
    const auto pEnd = data.begin() + ptrdiff_t(nKeyFrame);
    const auto pAt = std::search(data.begin() + ptrdiff_t(nFrom), pEnd, kTag, kTag + 12);
    if (pAt == pEnd)
        return std::string();
    // Its text runs to the SEI's end, a zero byte.
    const auto pStop = std::find(pAt, pEnd, uint8_t(0));
    return std::string(pAt, pStop);
}

} // namespace

bool FindAvcKeyFrame(const std::vector<uint8_t>& data, size_t* pAt) {
    for (size_t i = 0; i + 6 <= data.size(); ++i) {
        CSliceStart start;
        if (PictureSliceAt(data, i, true, &start) != 0 &&
            ZerosAfterPps(&data[i + 5], ReadBE32(&data[i]) - 1) >= 4) {
            *pAt = i;
            return true;
        }
    }
    return false;
}

bool SearchAvcParameterSets(const std::vector<uint8_t>& data, size_t nKeyFrame,
                            CDecoderFactory& decoders, CCancelPoll* pCancel,
                            CSearchProgress* pProgress, CSearchedSets* pFound) {
    CSliceStart key;
    const uint32_t nKeyLength = PictureSliceAt(data, nKeyFrame, true, &key);
    if (nKeyLength == 0)
        return false;
    const uint8_t* pKey = &data[nKeyFrame + 5];
    const int nZeros = ZerosAfterPps(pKey, nKeyLength - 1);
    if (nZeros < 4)
        return false;
    CSearch search(data, PicturesFrom(data, nKeyFrame, key.nPps), decoders, pCancel);
    const std::vector<CPicture>& pictures = search.Pictures();
    if (pictures.empty())
        return false;
    size_t nKeyBytes = 0; // all the key frame's slices
    for (const CSlice& slice : pictures.front().slices)
        nKeyBytes += slice.nLength;
    bool bBFrames = false;
    for (const CPicture& picture : pictures) {
        const CSlice& slice = picture.slices.front();
        CRbspReader bits(&data[slice.nAt + 5], slice.nLength - 1);
        CSliceStart start;
        bBFrames = bBFrames || (ReadSliceStart(bits, &start) && start.nType % 5 == 1);
    }
    const auto report = [&](int nPercent) {
        if (pProgress)
            pProgress->Searched(nPercent);
    };

    // The key frame along one wide row: the candidate that decodes furthest gets the furthest
    // before the picture's second row, at the picture's width.
    // Its frame_num and idr_pic_id together are the zeros after the parameter set id, and a
    // picture order count of type 0 follows: what tells one reading from another is the type,
    // and for type 2 frame_num's length, for type 0 how much longer its count is.
    const int nMaxLog2Frame = std::min(nZeros, 16);
    std::vector<std::pair<int, int>> layouts; // frame_num's length, the count's (0: type 2)
    for (int nLog2 = 4; nLog2 <= nMaxLog2Frame; ++nLog2)
        layouts.emplace_back(nLog2, 0);
    for (int nLonger = 4 - nMaxLog2Frame; nLonger <= 12; ++nLonger) {
        const int nLog2 = std::max(4, 4 - nLonger);
        if (nLog2 <= nMaxLog2Frame && nLog2 + nLonger <= 16)
            layouts.emplace_back(nLog2, nLog2 + nLonger);
    }
    std::vector<CScored> best;
    for (size_t nLayout = 0; nLayout < layouts.size(); ++nLayout) {
        report(int(nLayout * 50 / layouts.size()));
        for (int nControl = 0; nControl < 2; ++nControl) {
            for (int nCabac = 1; nCabac >= 0; --nCabac) {
                CTry t;
                t.nWidth = kWideMbs;
                t.bBFrames = bBFrames;
                t.nLog2Frame = layouts[nLayout].first;
                t.nLog2Poc = layouts[nLayout].second;
                t.bDeblockingControl = nControl != 0;
                t.bCabac = nCabac != 0;
                t.nPps = static_cast<int>(key.nPps);
                int nDelta = 0;
                if (!KeyHeaderReads(pKey, nKeyLength - 1, t, &nDelta))
                    continue;
                for (int n8x8 = 0; n8x8 < 2; ++n8x8) {
                    t.bTransform8x8 = n8x8 != 0;
                    // CABAC's contexts start from the slice's quantiser: each is tried. CAVLC's
                    // syntax does not depend on it.
                    for (int nQp = 0; nQp <= 51; ++nQp) {
                        if (!t.bCabac && nQp != std::clamp(26, -nDelta, 51 - nDelta))
                            continue;
                        if (nQp + nDelta < 0 || nQp + nDelta > 51)
                            continue;
                        t.nQp = nQp;
                        const CProbe probe = search.Probe(t, {0});
                        if (search.Cancelled())
                            return false;
                        // A slice that ends early, its end read where there is none, is no
                        // fault to a decoder that does not look for what is missing: no score.
                        const int nScore = probe.nFailedMb;
                        if (nScore >= 2)
                            best.push_back(CScored{t, nScore});
                    }
                }
            }
        }
    }
    std::stable_sort(best.begin(), best.end(),
                     [](const CScored& a, const CScored& b) { return a.nScore > b.nScore; });
    if (best.size() > kKeep)
        best.resize(kKeep);
    report(55);

    // The width: where the wide row broke, or a little before; the height: the most rows the
    // key frame fills with no macroblock missing. A wrong width can also decode a while, until
    // its slice seems to end: the right one fills the largest picture.
    bool bSized = false;
    int nFilled = 0;
    CTry found;
    // No taller than the key frame's bytes could fill, so that what the decoders allocate
    // follows from the file.
    const int nFillable = int(std::min<size_t>(kMaxMbs, nKeyBytes * kMbsPerByte));
    for (size_t i = 0; i < best.size() && i < kSizeTries && !bSized; ++i) {
        const int nBroke = best[i].nScore;
        for (int nWidth = nBroke; nWidth >= std::max(1, nBroke / 2); --nWidth) {
            const int nTallest = std::max(3, std::min(1024, nFillable / nWidth));
            // Three rows first: most wrong widths go wrong in them, and cost little.
            CTry t = best[i].t;
            t.nWidth = nWidth;
            t.nHeight = 3;
            if (!search.Probe(t, {0}).bClean)
                continue;
            t.nHeight = nTallest;
            if (!search.Probe(t, {0}).bClean)
                continue;
            // Upwards by doubling, then halving: the rows that a too tall picture misses, and
            // the decoder fills in, are never more than the key frame's own.
            int nLow = 0, nHigh = nTallest + 1;
            search.SetUse(EDecoderUse::Check);
            for (int nRows = 4; nRows <= nTallest; nRows *= 2) {
                t.nHeight = nRows;
                if (!search.Probe(t, {0}).bClean) {
                    nHigh = nRows;
                    break;
                }
                nLow = nRows;
            }
            while (nHigh - nLow > 1) {
                t.nHeight = (nLow + nHigh) / 2;
                (search.Probe(t, {0}).bClean ? nLow : nHigh) = t.nHeight;
                if (search.Cancelled())
                    return false;
            }
            search.SetUse(EDecoderUse::Probe);
            // A key frame whose data would fill any height is no picture.
            if (nLow > 0 && nHigh <= nTallest && nLow * nWidth > nFilled) {
                t.nHeight = nLow;
                found = t;
                nFilled = nLow * nWidth;
                bSized = true;
            }
        }
        if (search.Cancelled())
            return false;
    }
    if (!bSized)
        return false;
    report(70);

    // The later pictures: frame_num's length by how it steps, then the fields of P and B
    // slice headers a PPS gives, by decoding the reference pictures, then all.
    std::vector<size_t> references, all;
    for (size_t i = 0; i < pictures.size(); ++i) {
        all.push_back(i);
        if (pictures[i].bReference)
            references.push_back(i);
    }
    std::vector<std::pair<size_t, int>> lengths;
    for (int nLog2 = 4; nLog2 <= std::min(nZeros, 16); ++nLog2)
        lengths.emplace_back(FrameNumsFit(data, pictures, nLog2), nLog2);
    std::stable_sort(lengths.begin(), lengths.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    // Of candidates tried in order on the pictures listed, the first that decodes them all,
    // else the one that decodes the most before a fault; false when cancelled.
    CTry chosen = found;
    const auto choose = [&](const std::vector<CTry>& candidates, const std::vector<size_t>& which) {
        size_t nBestClean = 0;
        for (const CTry& t : candidates) {
            const CProbe probe = search.Probe(t, which);
            if (search.Cancelled())
                return false;
            if (probe.nCleanPictures > nBestClean) {
                nBestClean = probe.nCleanPictures;
                chosen = t;
            }
            if (probe.bClean)
                break;
        }
        return true;
    };
    // Key frame readings that went as far as the best differ in what follows it: each is
    // tried, with each length, on the reference pictures.
    std::vector<CTry> candidates;
    for (const CScored& scored : best) {
        if (scored.nScore != best.front().nScore)
            break;
        for (const auto& length : lengths) {
            // The key frame reads the same: type 2 with its own length, type 0 with the count
            // as much longer.
            const int nLog2Poc = scored.t.nLog2Poc == 0
                                     ? 0
                                     : scored.t.nLog2Poc + length.second - scored.t.nLog2Frame;
            if (scored.t.nLog2Poc == 0 ? length.second != scored.t.nLog2Frame
                                       : nLog2Poc < 4 || nLog2Poc > 16)
                continue;
            for (int nWeighted = 0; nWeighted < 2; ++nWeighted) {
                for (int nRefs = 0; nRefs < 4; ++nRefs) {
                    CTry t = scored.t;
                    t.nWidth = found.nWidth;
                    t.nHeight = found.nHeight;
                    t.nLog2Frame = length.second;
                    t.nLog2Poc = nLog2Poc;
                    t.bWeighted = nWeighted != 0;
                    t.nRefL0 = nRefs;
                    candidates.push_back(t);
                }
            }
        }
    }
    if (!choose(candidates, references))
        return false;
    report(85);
    // Then B slices' defaults, on all the pictures.
    if (bBFrames) {
        candidates.clear();
        for (int nBipred = 0; nBipred < 2; ++nBipred) {
            for (int nRefs = 0; nRefs < 2; ++nRefs) {
                CTry t = chosen;
                t.nBipred = nBipred;
                t.nRefL1 = nRefs;
                candidates.push_back(t);
            }
        }
        if (!choose(candidates, all))
            return false;
    }
    report(100);
    // Recorders hide the last lines of a picture whose height is no whole number of
    // macroblocks, to a common shape (1920x1080 of 1088 lines, 640x360 of 368): a picture
    // that is of no common shape as it is, but is one with a few lines less, is taken so.
    chosen.nCropLines = CommonShapeCrop(chosen.nWidth * 16, chosen.nHeight * 16);
    // What the encoder noted of the rest, where it did.
    const std::string note = EncoderNoteBefore(data, nKeyFrame);
    int nChromaQp = 0, nWeightB = 0, nMatrix = 1;
    const bool bChromaNoted =
        EncoderNote(note, "chroma_qp_offset", &nChromaQp) && nChromaQp >= -12 && nChromaQp <= 12;
    if (bChromaNoted)
        chosen.nChromaQp = nChromaQp;
    const bool bBipredNoted = chosen.nBipred == 0 && EncoderNote(note, "weightb", &nWeightB);
    if (bBipredNoted && nWeightB == 1)
        chosen.nBipred = 2;
    pFound->sets = {WriteAvcSps(chosen), WriteAvcPps(chosen)};
    pFound->nKeyFrame = nKeyFrame;
    pFound->bQpAssumed = !chosen.bCabac;
    pFound->nCropLines = chosen.nCropLines;
    pFound->bBipredAssumed = bBFrames && !bBipredNoted && chosen.nBipred == 0;
    pFound->bChromaAssumed = !bChromaNoted;
    pFound->bScalingAssumed = !(EncoderNote(note, "cqm", &nMatrix) && nMatrix == 0);
    return true;
}
