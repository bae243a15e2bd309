// One reference track as the walk through the broken media data looks for it, and the samples
// the walk found of it.
#pragma once

#include "codec/AacFrame.h"
#include "codec/GoProRecord.h"
#include "codec/PictureOrder.h"
#include "codec/VideoSample.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleShape.h"
#include "rebuild/SampleSizes.h"
#include "codec/VideoSample.h"
#include "rebuild/PictureSamples.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class EWalkKind {
    Video,   // H.264 or HEVC, each sample checked NAL unit by NAL unit
    Picture, // Motion JPEG or H.263, each sample a picture found by its markers or start code
    Audio,   // AAC, each frame parsed
    Speech,  // AMR, each frame found by its header
    Pcm,     // uncompressed sound: a chunk taken whole where the interleaving predicts it and a
             // known sample follows it
    Fixed,   // samples of one size, taken where the interleaving predicts them
    Shaped,  // samples whose own structure marks their end (timed text, KLV, boxes), taken
             // where the next sample confirms that end
    Unknown, // samples that cannot be found: skipped over, left out
    // Samples of one size after a few of other sizes (the reference's first), taken where the
    // interleaving predicts them and what follows confirms them.
    Repeating,
    // Samples that all begin with the same bytes (the reference's), each ended where the next
    // sample begins: another of its own, or a confirmed one of another track.
    Marked,
    // Records that each say what the next sample is (GoPro's SOS track): the walk's index of the
    // media data.
    Records,
};

// What a try of one track at a position found.
struct CTrackTry {
    ESampleParse eResult = ESampleParse::Invalid;
    size_t nSize = 0;
    size_t nNeed = 0;
    uint32_t nSamples = 1; // samples in nSize (a chunk of PCM holds many)
    CVideoSample video;
    CAacFrameInfo aac;
    bool bRecord = false; // of Records: a record (else the header that begins them)
    CGoProRecord record;
    CPictureEnd picture; // Picture: where it may end instead
};

class CWalkTrack {
public:
    CWalkTrack(const CReferenceTrack& reference, size_t nReference);

    EWalkKind Kind() const { return m_eKind; }
    // Whether its samples' own syntax says they are its: video, pictures and sound frames.
    bool Confirms() const {
        return m_eKind == EWalkKind::Video || m_eKind == EWalkKind::Picture ||
               m_eKind == EWalkKind::Audio || m_eKind == EWalkKind::Speech;
    }
    // Pictures (a clock of its own), sound (the recording's clock).
    bool Pictures() const { return m_eKind == EWalkKind::Video || m_eKind == EWalkKind::Picture; }
    bool Sound() const {
        return m_eKind == EWalkKind::Audio || m_eKind == EWalkKind::Speech ||
               m_eKind == EWalkKind::Pcm;
    }
    size_t ReferenceIndex() const { return m_nReference; }
    double SampleSeconds() const { return m_dSampleSeconds; }
    bool SteadyDurations() const { return m_bSteady; }
    // Why the track is left out, when it is Unknown.
    CTrackLeftOut::EReason Problem() const { return m_eProblem; }
    // Bytes to have at hand before a try (a whole AAC frame fits in them).
    size_t Lookahead() const;
    uint64_t MaxChunkBytes() const { return m_nMaxChunkBytes; }
    uint32_t Handler() const { return m_nHandler; }
    // Of Records: the track (of the reference) whose sample follows each kind of record.
    const std::vector<CRecordKind>& RecordKinds() const { return m_recordKinds; }
    uint32_t MaxSampleBytes() const { return m_nMaxSampleBytes; }
    // For an Unknown track: the sample sizes the reference has most often, likeliest first.
    const std::vector<uint32_t>& CommonSizes() const { return m_commonSizes; }

    // Tries the sample at pData. For Video, NeedMore asks for nNeed bytes; for Audio, a
    // Truncated result before the data ends means the lookahead was too short. A strict try
    // of an AAC frame also wants it to continue the track's last one. nOffset is pData's
    // place in the media data (CVideoSampleParser::Parse).
    void Try(const uint8_t* pData, size_t nAvail, bool bAtEnd, bool bStrict, CTrackTry* pTry,
             uint64_t nOffset = CVideoSampleParser::kNoOffset);
    // PCM: the bytes of one of its samples, and the chunk sizes (in samples) the reference has
    // most often, likeliest first.
    uint32_t SampleBytes() const { return m_nSampleBytes; }
    const std::vector<uint32_t>& CommonChunks() const { return m_commonChunks; }
    // A chunk of nSamples PCM samples at pData (nAvail bytes, all of it when bAtEnd): Ok when it is
    // there whole; Truncated, with the whole samples there are, when the data ends inside it.
    void TryChunk(const uint8_t* pData, size_t nAvail, bool bAtEnd, uint32_t nSamples,
                  CTrackTry* pTry) const;

    // Keeps a sample that Try found, or lets go of one that is not taken.
    void Take(const CTrackTry& found);
    void Drop(const CTrackTry& found);
    // Gives back the last sample taken (one whose end damage was found at).
    void Untake();
    // Whether a sample of the track may begin at pData, by its first bytes alone.
    bool MayStart(const uint8_t* pData, size_t nAvail) const;
    // Sound whose frames parse alike (the same configuration, or rates of one band table):
    // only the frame before, and time, tell the tracks apart.
    bool SameSyntax(const CWalkTrack& other) const;
    // Whether a frame that parsed may follow this track's last one.
    bool Continues(const CTrackTry& found) const;
    // Counts samples of an Unknown track that were skipped over.
    void AddSkipped(uint32_t nSamples) { m_nSkipped += nSamples; }

    // How large a sample of it may be, as far as its kind tells.
    size_t LargestSample() const;
    // Of Marked: the bytes every sample begins with, and how long a sample may be.
    const std::vector<uint8_t>& Prefix() const { return m_prefix; }
    size_t MarkedMax() const { return m_nShapeMax; }
    // Of Fixed and Repeating: the size of its sample nIndex, and of its next.
    uint32_t SizeOf(uint64_t nIndex) const;
    uint32_t NextSize() const { return SizeOf(Count()); }
    // Samples found so far (for the interleaving, skipped ones too).
    uint64_t Count() const { return m_sizes.Count() + m_nSkipped; }
    uint64_t Found() const { return m_sizes.Count(); }
    const CSampleSizes& Sizes() const { return m_sizes; }
    const std::vector<uint32_t>& SyncSamples() const { return m_syncSamples; }
    bool AllSync() const {
        return m_eKind != EWalkKind::Video &&
               (m_eKind != EWalkKind::Picture || m_picture.AllSync());
    }
    const CPictureOrder* Order() const { return m_pOrder.get(); }
    const CVideoSampleParser* VideoParser() const { return m_pVideo.get(); }

private:
    EWalkKind m_eKind = EWalkKind::Unknown;
    size_t m_nReference;
    uint32_t m_nHandler = 0;
    double m_dSampleSeconds = 0;
    bool m_bSteady = true;
    CTrackLeftOut::EReason m_eProblem = CTrackLeftOut::EReason::SamplesNotMarked;
    std::unique_ptr<CVideoSampleParser> m_pVideo;
    std::unique_ptr<CPictureOrder> m_pOrder;
    CAacConfig m_aac;
    CAacFrameInfo m_lastAac;
    bool m_bLastAac = false;
    CSampleShape m_shape;
    size_t m_nShapeMax = 0;
    uint32_t m_nFixedSize = 0; // of Fixed, and of Repeating after its lead
    std::vector<uint32_t> m_leadSizes;
    std::vector<uint8_t> m_prefix;
    CPictureSamples m_picture;
    bool m_bWideSpeech = false;
    int m_nSpeechFrames = 1; // AMR frames a sample
    uint32_t m_nSampleBytes = 0;
    std::vector<uint32_t> m_commonChunks;
    uint64_t m_nMaxChunkBytes = 0;
    uint32_t m_nMaxSampleBytes = 0;
    std::vector<uint32_t> m_commonSizes;
    std::vector<CRecordKind> m_recordKinds;
    CSampleSizes m_sizes;
    std::vector<uint32_t> m_syncSamples;
    uint64_t m_nSkipped = 0;
};

// How long a NAL unit of a track may be, given the reference's largest sample.
size_t NalSizeLimit(uint32_t nMaxSampleSize);

// The tracks of the reference that have samples, in the order the walk uses: video, sound,
// then the others. Tracks without samples are named in pLeftOut.
std::vector<std::unique_ptr<CWalkTrack>> MakeWalkTracks(const CReferenceMovie& movie,
                                                        std::vector<CTrackLeftOut>* pLeftOut);

// The entry of a reference track left out of the copy.
CTrackLeftOut TrackLeftOut(const CReferenceTrack& track, CTrackLeftOut::EReason eReason);
