#include "rebuild/Rebuild.h"

#include "rebuild/MatchCheck.h"
#include "rebuild/MediaStart.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/OutputFile.h"
#include "rebuild/RebuiltIndex.h"
#include "rebuild/WalkTrack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

using EStatus = CRebuildResult::EStatus;

// The probe that decides whether the recording fits the reference reads at most this much
// of its start, or this many seconds of its first track.
const uint64_t kProbeBytes = 32u << 20;
const double kProbeSeconds = 60;

class CNoObserver : public CRebuildObserver {};

// Turns the walks' positions into one rising percentage: the probe, then the full walk.
class CProgress : public CWalkProgress {
public:
    CProgress(CRebuildObserver& observer, uint64_t nBegin, uint64_t nProbe, uint64_t nMedia)
        : m_observer(observer), m_nBegin(nBegin), m_nProbe(nProbe), m_nTotal(nProbe + nMedia) {}

    void StartWrite() { m_bWriting = true; }
    bool Continue(uint64_t nOffset) override {
        uint64_t nDone = nOffset - m_nBegin;
        nDone = m_bWriting ? m_nProbe + nDone : std::min(nDone, m_nProbe);
        Report(m_nTotal ? int(std::min<uint64_t>(99, nDone * 100 / m_nTotal)) : 0);
        return !m_observer.IsCancelled();
    }
    void Report(int nPercent) {
        if (nPercent > m_nPercent) {
            m_nPercent = nPercent;
            m_observer.OnProgress(nPercent);
        }
    }

private:
    CRebuildObserver& m_observer;
    uint64_t m_nBegin;
    uint64_t m_nProbe;
    uint64_t m_nTotal;
    bool m_bWriting = false;
    int m_nPercent = -1;
};

CRebuildResult Fail(EStatus eStatus, const std::string& strDetail) {
    CRebuildResult result;
    result.eStatus = eStatus;
    result.strDetail = strDetail;
    return result;
}

std::string SizeText(uint64_t nBytes) {
    char text[48];
    if (nBytes < 10000)
        std::snprintf(text, sizeof text, "%u bytes", static_cast<unsigned>(nBytes));
    else if (nBytes < 10000000)
        std::snprintf(text, sizeof text, "%.0f KB", nBytes / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB", nBytes / 1000000.0);
    return text;
}

std::string SecondsText(double dSeconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", dSeconds);
    return text;
}

void BuildModel(const CReferenceMovie& movie,
                const std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel* pModel) {
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        pModel->AddTrack(pTrack->SampleSeconds(), movie.tracks[pTrack->ReferenceIndex()].chunks,
                         pTrack->SteadyDurations() || pTrack->Kind() == EWalkKind::Video ||
                             pTrack->Kind() == EWalkKind::Audio);
    pModel->Build();
}

CRebuiltTrack Describe(const CReferenceTrack& reference, const CTrackTables& tables) {
    CRebuiltTrack track;
    track.eKind = reference.nHandler == FourCC("vide")   ? CRebuiltTrack::EKind::Video
                  : reference.nHandler == FourCC("soun") ? CRebuiltTrack::EKind::Audio
                                                         : CRebuiltTrack::EKind::Other;
    track.strCodec = CodecName(reference.entry);
    if (track.strCodec.front() == '\'')
        track.strCodec = FourCCText(reference.entry.nFormat);
    track.nTimescale = reference.nTimescale;
    track.nDuration = TrackMediaDuration(tables);
    track.nSamples = static_cast<uint32_t>(tables.sizes.size());
    return track;
}

std::string LeftOutReason(EWalkStop eStop) {
    switch (eStop) {
    case EWalkStop::Zeros:
        return "zeros";
    case EWalkStop::CutOff:
        return "a frame cut off at the end";
    default:
        return "data that is neither video nor sound";
    }
}

CRebuildResult Rebuild(const char* pszReference, const char* pszBroken, const char* pszOutput,
                       CRebuildObserver& observer) {
    if (std::strcmp(pszOutput, pszReference) == 0 || std::strcmp(pszOutput, pszBroken) == 0)
        return Fail(EStatus::WriteFailed, "The copy cannot be written over one of the recordings.");

    CStdioByteSource referenceFile;
    if (!referenceFile.Open(pszReference))
        return Fail(EStatus::ReadFailed, "The reference could not be opened.");
    CReferenceMovie movie;
    std::string strProblem;
    if (!ReadReferenceMovie(referenceFile, &movie, &strProblem))
        return Fail(EStatus::ReferenceUnusable, strProblem);
    referenceFile.Close();

    std::vector<std::string> leftOut;
    std::vector<std::unique_ptr<CWalkTrack>> probeTracks = MakeWalkTracks(movie, &leftOut);
    std::string strCodecs;
    bool bUsable = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : probeTracks) {
        const CReferenceTrack& reference = movie.tracks[pTrack->ReferenceIndex()];
        bUsable =
            bUsable || pTrack->Kind() == EWalkKind::Video || pTrack->Kind() == EWalkKind::Audio;
        if (pTrack->Kind() == EWalkKind::Unknown)
            leftOut.push_back(TrackLabel(reference) + ": " + pTrack->Problem());
        strCodecs += (strCodecs.empty() ? "" : ", ") + CodecName(reference.entry);
    }
    if (!bUsable)
        return Fail(EStatus::ReferenceUnusable,
                    "The reference has no H.264, HEVC or AAC track to go by (it has " +
                        (strCodecs.empty() ? std::string("none") : strCodecs) + ").");

    CStdioByteSource brokenFile;
    if (!brokenFile.Open(pszBroken))
        return Fail(EStatus::ReadFailed, "The broken recording could not be opened.");
    CMediaRange range;
    if (!FindMediaData(brokenFile, &range))
        return Fail(EStatus::NoMediaData, "The broken recording has no media data (no mdat box).");
    if (range.nEnd <= range.nBegin)
        return Fail(EStatus::NoMediaData, "The broken recording's media data is empty.");

    CInterleaveModel probeModel;
    BuildModel(movie, probeTracks, &probeModel);
    const uint64_t nMedia = range.nEnd - range.nBegin;
    CProgress progress(observer, range.nBegin, std::min(nMedia, kProbeBytes), nMedia);
    progress.Report(0);

    // Before anything is written: does the recording fit the reference?
    CMediaWalk probe(brokenFile, range, probeTracks, probeModel);
    probe.SetProgress(&progress);
    probe.SetLimit(kProbeBytes, kProbeSeconds);
    const EWalkStop eProbe = probe.Run();
    if (eProbe == EWalkStop::Cancelled)
        return Fail(EStatus::Cancelled, "The rebuild was cancelled.");
    if (eProbe == EWalkStop::ReadFailed)
        return Fail(EStatus::ReadFailed, "The broken recording could not be read.");
    if (eProbe == EWalkStop::Zeros && probe.StopOffset() == range.nBegin)
        return Fail(EStatus::NoMediaData, "The broken recording's media data begins with zeros.");
    CProbe check;
    check.pMovie = &movie;
    check.pTracks = &probeTracks;
    check.pModel = &probeModel;
    check.eStop = eProbe;
    check.nStop = probe.StopOffset();
    check.nDataEnd = range.nEnd;
    const std::string strMismatch = FindMismatch(brokenFile, check);
    if (!strMismatch.empty())
        return Fail(EStatus::Mismatch, strMismatch);
    probeTracks.clear();

    // The copy: ftyp, then mdat's header (room for a 64-bit size), the media data as the walk
    // confirms it, then the new index.
    std::vector<std::string> unused;
    std::vector<std::unique_ptr<CWalkTrack>> tracks = MakeWalkTracks(movie, &unused);
    CInterleaveModel model;
    BuildModel(movie, tracks, &model);
    COutputFile output;
    if (!output.Open(pszOutput))
        return Fail(EStatus::WriteFailed, "The copy could not be created.");
    uint8_t header[16];
    MediaDataHeader(0, header);
    const uint64_t nHeader = movie.ftyp.size();
    if (!output.Write(movie.ftyp.data(), movie.ftyp.size()) ||
        !output.Write(header, sizeof header)) {
        output.Remove();
        return Fail(EStatus::WriteFailed, "The copy could not be written.");
    }
    const uint64_t nPayload = output.Position();
    progress.StartWrite();
    CMediaWalk walk(brokenFile, range, tracks, model);
    walk.SetProgress(&progress);
    walk.SetSink(&output);
    const EWalkStop eStop = walk.Run();
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed) {
        output.Remove();
        if (eStop == EWalkStop::Cancelled)
            return Fail(EStatus::Cancelled, "The rebuild was cancelled.");
        return eStop == EWalkStop::ReadFailed
                   ? Fail(EStatus::ReadFailed, "The broken recording could not be read.")
                   : Fail(EStatus::WriteFailed, "The copy could not be written.");
    }

    CRebuildResult result;
    const std::vector<CTrackTables> tables =
        IndexFromWalk(movie, tracks, walk, range.nBegin, nPayload, &leftOut);
    for (const CTrackTables& track : tables)
        result.tracks.push_back(Describe(*track.pReference, track));
    if (tables.empty()) {
        output.Remove();
        return Fail(EStatus::NoMediaData, "No sample of the reference's tracks was found.");
    }
    const std::vector<uint8_t> moov = BuildMovieBox(movie, tables);
    MediaDataHeader(walk.StopOffset() - range.nBegin, header);
    if (!output.Write(moov.data(), moov.size()) ||
        !output.WriteAt(nHeader, header, sizeof header) || !output.Close()) {
        output.Remove();
        return Fail(EStatus::WriteFailed, "The copy could not be written.");
    }

    result.eStatus = EStatus::Rebuilt;
    result.tracksLeftOut = leftOut;
    result.nBytesLeftOut = range.nEnd - walk.StopOffset();
    const std::string strSeconds = SecondsText(walk.LeadSeconds());
    if (result.nBytesLeftOut != 0) {
        result.strLeftOutReason = LeftOutReason(eStop);
        result.dStoppedAt = walk.LeadSeconds();
        result.strDetail = strSeconds + " seconds of the recording were rebuilt; the last " +
                           SizeText(result.nBytesLeftOut) + " were left out (" +
                           result.strLeftOutReason + ").";
    } else {
        result.strDetail = "All " + strSeconds + " seconds of the recording were rebuilt.";
    }
    progress.Report(100);
    return result;
}

} // namespace

CRebuildResult RebuildRecording(const char* pszReference, const char* pszBroken,
                                const char* pszOutput, CRebuildObserver* pObserver) {
    CNoObserver noObserver;
    CRebuildObserver& observer = pObserver ? *pObserver : noObserver;
    if (!pszReference || !pszBroken || !pszOutput)
        return Fail(EStatus::ReadFailed, "A file name is missing.");
    try {
        return Rebuild(pszReference, pszBroken, pszOutput, observer);
    } catch (const std::bad_alloc&) {
        // The output, if begun, was removed as its owner unwound.
        return Fail(EStatus::ReadFailed, "There was not enough memory for the rebuild.");
    }
}
