#include "rebuild/MovieWriter.h"

#include "media/BoxWriter.h"

#include <algorithm>

namespace {

// Opens mvhd or mdhd up to its duration: version 1 with 64-bit times when the duration needs
// them. No creation or modification time: the copy is not the recording's own.
size_t OpenTimedBox(CBoxWriter& box, const char (&type)[5], uint32_t nTimescale,
                    uint64_t nDuration) {
    const bool bWide = nDuration > 0xFFFFFFFFu;
    const size_t nBox = box.OpenFull(type, bWide ? 1 : 0, 0);
    if (bWide) {
        box.U64(0);
        box.U64(0);
        box.U32(nTimescale);
        box.U64(nDuration);
    } else {
        box.U32(0);
        box.U32(0);
        box.U32(nTimescale);
        box.U32(static_cast<uint32_t>(nDuration));
    }
    return nBox;
}

uint64_t Rescale(uint64_t nValue, uint32_t nFrom, uint32_t nTo) {
    if (nFrom == 0)
        return 0;
    return nValue / nFrom * nTo + (nValue % nFrom * nTo + nFrom / 2) / nFrom;
}

struct CEditPlan {
    std::vector<CEdit> edits;
    uint64_t nDuration = 0; // in the movie's timescale
};

// The reference's edit list carried over: its leading empty edits as they are, then one edit
// over the samples from the reference's start time (or, for reordered video, from the first
// picture shown) to their end. Where the reference's edit hides the end of its own samples (a
// Live Photo's sound and pictures past the photo, an encoder's last frame), the copy hides as
// much of its end, and shows no more than the reference does unless it has more media.
CEditPlan PlanEdits(const CReferenceMovie& movie, const CTrackTables& track) {
    const CReferenceTrack& reference = *track.pReference;
    // Where the last picture shown ends: past the samples' duration when the pictures shown
    // last (B-frames) were cut off. Pictures decoded in bursts are shown a frame's time each.
    uint64_t nMedia = TrackMediaDuration(track);
    const bool bBursts = reference.composition.eKind == CCompositionPattern::EKind::Bunched;
    uint64_t nEnd = 0; // of the sample in decoding order
    size_t nRun = 0;
    uint32_t nInRun = 0;
    for (size_t i = 0; i < track.compositionOffsets.size(); ++i) {
        uint32_t nDuration = track.nSampleDuration;
        if (nRun < track.durations.size()) {
            nDuration = track.durations[nRun].nDuration;
            if (++nInRun == track.durations[nRun].nCount) {
                ++nRun;
                nInRun = 0;
            }
        }
        nEnd += nDuration;
        const int64_t nShownEnd = int64_t(nEnd) + track.compositionOffsets[i] +
                                  (bBursts ? int64_t(reference.composition.nFrame) - nDuration : 0);
        nMedia = std::max<uint64_t>(nMedia, static_cast<uint64_t>(std::max<int64_t>(0, nShownEnd)));
    }
    CEditPlan plan;
    int64_t nMediaTime = 0;
    uint32_t nRate = 0x10000;
    bool bFound = false;
    unsigned nShown = 0; // edits that show media
    uint64_t nShownEnd = 0;
    for (const CEdit& edit : reference.edits) {
        if (edit.nMediaTime == -1 && !bFound) {
            plan.edits.push_back(edit);
            plan.nDuration += edit.nSegmentDuration;
            continue;
        }
        if (edit.nMediaTime >= 0)
            ++nShown;
        if (!bFound) {
            nMediaTime = edit.nMediaTime;
            nRate = edit.nRate;
            bFound = true;
            nShownEnd = uint64_t(std::max<int64_t>(0, edit.nMediaTime)) +
                        Rescale(edit.nSegmentDuration, movie.nTimescale, reference.nTimescale);
        }
    }
    // What the reference's one edit hides of its samples' end, past what rounding to the
    // movie's timescale may have left.
    uint64_t nHidden = 0;
    const uint64_t nRounding =
        movie.nTimescale ? reference.nTimescale / (2 * uint64_t(movie.nTimescale)) : 0;
    if (nShown == 1 && nRate == 0x10000 && reference.nMediaDuration > nShownEnd + nRounding)
        nHidden = reference.nMediaDuration - nShownEnd;
    if (nHidden != 0)
        nMedia = std::min(nMedia, std::max(nShownEnd, nMedia > nHidden ? nMedia - nHidden : 0));
    if (!track.compositionOffsets.empty())
        nMediaTime = track.nCompositionShift;
    if (reference.edits.empty() && track.nCompositionShift == 0) {
        plan.nDuration = Rescale(nMedia, reference.nTimescale, movie.nTimescale);
        return plan;
    }
    CEdit main;
    main.nMediaTime = std::max<int64_t>(0, std::min<int64_t>(nMediaTime, int64_t(nMedia)));
    main.nRate = nRate;
    main.nSegmentDuration =
        Rescale(nMedia - uint64_t(main.nMediaTime), reference.nTimescale, movie.nTimescale);
    plan.edits.push_back(main);
    plan.nDuration += main.nSegmentDuration;
    return plan;
}

void WriteSampleTable(CBoxWriter& box, const CTrackTables& track) {
    const size_t nStbl = box.Open("stbl");
    box.Bytes(track.pReference->stsd);
    const uint32_t nCount = static_cast<uint32_t>(track.sizes.Count());

    size_t nBox = box.OpenFull("stts", 0, 0);
    if (!track.durations.empty()) {
        box.U32(static_cast<uint32_t>(track.durations.size()));
        for (const CTrackTables::CDurationRun& run : track.durations) {
            box.U32(run.nCount);
            box.U32(run.nDuration);
        }
    } else {
        box.U32(nCount ? 1 : 0);
        if (nCount) {
            box.U32(nCount);
            box.U32(track.nSampleDuration);
        }
    }
    box.Close(nBox);

    if (!track.compositionOffsets.empty()) {
        std::vector<std::pair<uint32_t, int32_t>> runs;
        bool bNegative = false;
        for (int32_t nOffset : track.compositionOffsets) {
            bNegative = bNegative || nOffset < 0;
            if (!runs.empty() && runs.back().second == nOffset)
                ++runs.back().first;
            else
                runs.emplace_back(1, nOffset);
        }
        // Offsets below zero are version 1's.
        nBox = box.OpenFull("ctts", bNegative ? 1 : 0, 0);
        box.U32(static_cast<uint32_t>(runs.size()));
        for (const auto& run : runs) {
            box.U32(run.first);
            box.U32(static_cast<uint32_t>(run.second));
        }
        box.Close(nBox);
    }

    if (!track.bAllSync) {
        nBox = box.OpenFull("stss", 0, 0);
        box.U32(static_cast<uint32_t>(track.syncSamples.size()));
        for (uint32_t nSample : track.syncSamples)
            box.U32(nSample + 1);
        box.Close(nBox);
    }

    nBox = box.OpenFull("stsc", 0, 0);
    std::vector<std::pair<uint32_t, uint32_t>> runs; // first chunk (1-based), samples
    for (size_t c = 0; c < track.chunks.size(); ++c) {
        if (runs.empty() || runs.back().second != track.chunks[c].nSamples)
            runs.emplace_back(static_cast<uint32_t>(c + 1), track.chunks[c].nSamples);
    }
    box.U32(static_cast<uint32_t>(runs.size()));
    for (const auto& run : runs) {
        box.U32(run.first);
        box.U32(run.second);
        box.U32(1);
    }
    box.Close(nBox);

    // Samples of one size need no entry each.
    const bool bSame = track.sizes.OneSize();
    nBox = box.OpenFull("stsz", 0, 0);
    box.U32(bSame ? track.sizes.Runs()[0].nSize : 0);
    box.U32(nCount);
    if (!bSame) {
        for (const CSampleSizes::CRun& run : track.sizes.Runs()) {
            for (uint32_t i = 0; i < run.nCount; ++i)
                box.U32(run.nSize);
        }
    }
    box.Close(nBox);

    const bool bWide =
        std::any_of(track.chunks.begin(), track.chunks.end(),
                    [](const CTrackTables::CChunk& c) { return c.nOffset > 0xFFFFFFFFu; });
    nBox = box.OpenFull(bWide ? "co64" : "stco", 0, 0);
    box.U32(static_cast<uint32_t>(track.chunks.size()));
    for (const CTrackTables::CChunk& chunk : track.chunks) {
        if (bWide)
            box.U64(chunk.nOffset);
        else
            box.U32(static_cast<uint32_t>(chunk.nOffset));
    }
    box.Close(nBox);
    box.Close(nStbl);
}

void WriteTrack(CBoxWriter& box, const CReferenceMovie& movie, const CTrackTables& track,
                const std::vector<uint32_t>& keptIds, uint64_t* pDuration) {
    const CReferenceTrack& reference = *track.pReference;
    const CEditPlan plan = PlanEdits(movie, track);
    const uint64_t nMedia = TrackMediaDuration(track);
    *pDuration = plan.nDuration;
    const size_t nTrak = box.Open("trak");

    const bool bWideTkhd = plan.nDuration > 0xFFFFFFFFu;
    size_t nBox = box.OpenFull("tkhd", bWideTkhd ? 1 : 0, reference.nTrackFlags);
    // No creation time: the reference's would be another recording's.
    if (bWideTkhd) {
        box.U64(0);
        box.U64(0);
        box.U32(reference.nTrackId);
        box.U32(0);
        box.U64(plan.nDuration);
    } else {
        box.U32(0);
        box.U32(0);
        box.U32(reference.nTrackId);
        box.U32(0);
        box.U32(static_cast<uint32_t>(plan.nDuration));
    }
    box.Zeros(8);
    box.U16(static_cast<uint16_t>(reference.nLayer));
    box.U16(static_cast<uint16_t>(reference.nAlternateGroup));
    box.U16(reference.nVolume);
    box.U16(0);
    box.Bytes(reference.matrix, sizeof reference.matrix);
    box.U32(reference.nWidth);
    box.U32(reference.nHeight);
    box.Close(nBox);

    if (!plan.edits.empty()) {
        const bool bWide = std::any_of(plan.edits.begin(), plan.edits.end(), [](const CEdit& e) {
            return e.nSegmentDuration > 0xFFFFFFFFu || e.nMediaTime > INT32_MAX;
        });
        const size_t nEdts = box.Open("edts");
        nBox = box.OpenFull("elst", bWide ? 1 : 0, 0);
        box.U32(static_cast<uint32_t>(plan.edits.size()));
        for (const CEdit& edit : plan.edits) {
            if (bWide) {
                box.U64(edit.nSegmentDuration);
                box.U64(static_cast<uint64_t>(edit.nMediaTime));
            } else {
                box.U32(static_cast<uint32_t>(edit.nSegmentDuration));
                box.U32(static_cast<uint32_t>(static_cast<int32_t>(edit.nMediaTime)));
            }
            box.U32(edit.nRate);
        }
        box.Close(nBox);
        box.Close(nEdts);
    }

    // A reference to a track that is not in the copy would dangle.
    const bool bTref =
        !reference.tref.empty() &&
        std::all_of(reference.trefIds.begin(), reference.trefIds.end(), [&](uint32_t n) {
            return std::find(keptIds.begin(), keptIds.end(), n) != keptIds.end();
        });
    if (bTref)
        box.Bytes(reference.tref);

    const size_t nMdia = box.Open("mdia");
    nBox = OpenTimedBox(box, "mdhd", reference.nTimescale, nMedia);
    box.U16(reference.nLanguage);
    box.U16(0);
    box.Close(nBox);
    box.Bytes(reference.hdlr);
    const size_t nMinf = box.Open("minf");
    box.Bytes(reference.mediaInfoHeaders);
    WriteSampleTable(box, track);
    box.Close(nMinf);
    box.Close(nMdia);
    if (!reference.udta.empty())
        box.Bytes(reference.udta);
    box.Close(nTrak);
}

} // namespace

void MediaDataHeader(uint64_t nPayload, uint8_t header[16]) {
    std::vector<uint8_t> bytes;
    CBoxWriter box(bytes);
    if (nPayload + 8 <= 0xFFFFFFFFu) {
        box.U32(8);
        box.Bytes("free", 4);
        box.U32(static_cast<uint32_t>(nPayload + 8));
        box.Bytes("mdat", 4);
    } else {
        box.U32(1);
        box.Bytes("mdat", 4);
        box.U64(nPayload + 16);
    }
    std::copy(bytes.begin(), bytes.end(), header);
}

uint64_t TrackMediaDuration(const CTrackTables& track) {
    if (track.durations.empty())
        return track.sizes.Count() * track.nSampleDuration;
    uint64_t nDuration = 0;
    for (const CTrackTables::CDurationRun& run : track.durations)
        nDuration += uint64_t(run.nCount) * run.nDuration;
    return nDuration;
}

std::vector<uint8_t> BuildMovieBox(const CReferenceMovie& movie,
                                   const std::vector<CTrackTables>& tracks) {
    std::vector<uint8_t> tracksOut, out;
    CBoxWriter trackBoxes(tracksOut);
    std::vector<uint32_t> keptIds;
    uint32_t nNextId = 1;
    for (const CTrackTables& track : tracks) {
        keptIds.push_back(track.pReference->nTrackId);
        nNextId = std::max(nNextId, track.pReference->nTrackId + 1);
    }
    uint64_t nMovieDuration = 0;
    for (const CTrackTables& track : tracks) {
        uint64_t nDuration = 0;
        WriteTrack(trackBoxes, movie, track, keptIds, &nDuration);
        nMovieDuration = std::max(nMovieDuration, nDuration);
    }

    CBoxWriter box(out);
    const size_t nMoov = box.Open("moov");
    const size_t nMvhd = OpenTimedBox(box, "mvhd", movie.nTimescale, nMovieDuration);
    box.U32(movie.nRate);
    box.U16(movie.nVolume);
    box.Zeros(10);
    box.Bytes(movie.matrix, sizeof movie.matrix);
    box.Zeros(24);
    box.U32(nNextId);
    box.Close(nMvhd);
    box.Bytes(tracksOut);
    if (!movie.udta.empty()) {
        const size_t nUdta = box.Open("udta");
        box.Bytes(movie.udta);
        box.Close(nUdta);
    }
    box.Close(nMoov);
    return out;
}
