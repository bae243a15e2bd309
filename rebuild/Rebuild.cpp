#include "rebuild/Rebuild.h"

#include "rebuild/MatchCheck.h"
#include "rebuild/MediaStart.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/OutputFile.h"
#include "rebuild/RebuiltIndex.h"
#include "rebuild/WalkTrack.h"

#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace {

using EStatus = CRebuildResult::EStatus;

// The probe that decides whether the recording fits the reference reads at most this much
// of its start, or this many seconds of its first track.
const uint64_t kProbeBytes = 32u << 20;
const double kProbeSeconds = 60;

class CNoObserver : public CRebuildObserver {};

// Turns the walks' positions into one rising percentage: the probe, then the full walk; and
// asks the observer whether the user cancelled.
class CProgress final : public CWalkProgress, public CCancelCheck {
public:
    explicit CProgress(CRebuildObserver& observer) : m_observer(observer) {}

    void SetRange(uint64_t nBegin, uint64_t nProbe, uint64_t nMedia) {
        m_nBegin = nBegin;
        m_nProbe = nProbe;
        m_nTotal = nProbe + nMedia;
    }
    void StartWrite() { m_bWriting = true; }
    bool Continue(uint64_t nOffset) override {
        uint64_t nDone = nOffset - m_nBegin;
        nDone = m_bWriting ? m_nProbe + nDone : std::min(nDone, m_nProbe);
        Report(m_nTotal ? int(std::min<uint64_t>(99, nDone * 100 / m_nTotal)) : 0);
        return !Cancelled();
    }
    bool Cancelled() override {
        m_bCancelled = m_bCancelled || m_observer.IsCancelled();
        return m_bCancelled;
    }
    bool WasCancelled() const { return m_bCancelled; }
    void Report(int nPercent) {
        if (nPercent > m_nPercent) {
            m_nPercent = nPercent;
            m_observer.OnProgress(nPercent);
        }
    }

private:
    CRebuildObserver& m_observer;
    uint64_t m_nBegin = 0;
    uint64_t m_nProbe = 0;
    uint64_t m_nTotal = 0;
    bool m_bWriting = false;
    bool m_bCancelled = false;
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
    track.nSamples = static_cast<uint32_t>(tables.sizes.Count());
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

// One rebuild, step by step; each step that fails leaves its result in *pFailure.
class CRebuild {
public:
    explicit CRebuild(CRebuildObserver& observer) : m_progress(observer) {}

    bool ReadReference(const char* pszReference, CRebuildResult* pFailure);
    bool OpenRecording(const char* pszBroken, CRebuildResult* pFailure);
    // Whether pszOutput names one of the two recordings, however it spells it.
    bool IsARecording(const char* pszOutput) const;
    // Before anything is written: does the recording fit the reference?
    bool CheckRecording(CRebuildResult* pFailure);
    CRebuildResult WriteCopy(const char* pszOutput);

private:
    void BuildTracks(std::vector<std::unique_ptr<CWalkTrack>>* pTracks, CInterleaveModel* pModel);

    CProgress m_progress;
    CReferenceMovie m_movie;
    std::vector<std::string> m_leftOut;
    CStdioByteSource m_brokenFile;
    CFileIdentity m_reference, m_broken;
    CMediaRange m_range;
};

void CRebuild::BuildTracks(std::vector<std::unique_ptr<CWalkTrack>>* pTracks,
                           CInterleaveModel* pModel) {
    std::vector<std::string> empty;
    *pTracks = MakeWalkTracks(m_movie, &empty);
    BuildModel(m_movie, *pTracks, pModel);
}

bool CRebuild::ReadReference(const char* pszReference, CRebuildResult* pFailure) {
    CStdioByteSource referenceFile;
    if (!referenceFile.Open(pszReference)) {
        *pFailure = Fail(EStatus::ReadFailed, "The reference could not be opened.");
        return false;
    }
    if (!referenceFile.Identity(&m_reference)) {
        *pFailure = Fail(EStatus::ReadFailed, "The reference could not be opened.");
        return false;
    }
    std::string strProblem;
    if (!ReadReferenceMovie(referenceFile, &m_movie, &strProblem, &m_progress)) {
        *pFailure = m_progress.WasCancelled()
                        ? Fail(EStatus::Cancelled, "The rebuild was cancelled.")
                        : Fail(EStatus::ReferenceUnusable, strProblem);
        return false;
    }
    const std::vector<std::unique_ptr<CWalkTrack>> tracks = MakeWalkTracks(m_movie, &m_leftOut);
    std::string strCodecs;
    bool bUsable = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks) {
        const CReferenceTrack& reference = m_movie.tracks[pTrack->ReferenceIndex()];
        bUsable =
            bUsable || pTrack->Kind() == EWalkKind::Video || pTrack->Kind() == EWalkKind::Audio;
        if (pTrack->Kind() == EWalkKind::Unknown)
            m_leftOut.push_back(TrackLabel(reference) + ": " + pTrack->Problem());
        strCodecs += (strCodecs.empty() ? "" : ", ") + CodecName(reference.entry);
    }
    if (!bUsable) {
        *pFailure = Fail(EStatus::ReferenceUnusable,
                         "The reference has no H.264, HEVC or AAC track to go by (it has " +
                             (strCodecs.empty() ? std::string("none") : strCodecs) + ").");
        return false;
    }
    return true;
}

bool CRebuild::OpenRecording(const char* pszBroken, CRebuildResult* pFailure) {
    if (!m_brokenFile.Open(pszBroken) || !m_brokenFile.Identity(&m_broken)) {
        *pFailure = Fail(EStatus::ReadFailed, "The broken recording could not be opened.");
        return false;
    }
    if (!FindMediaData(m_brokenFile, &m_range)) {
        *pFailure =
            Fail(EStatus::NoMediaData, "The broken recording has no media data (no mdat box).");
        return false;
    }
    if (m_range.nEnd <= m_range.nBegin) {
        *pFailure = Fail(EStatus::NoMediaData, "The broken recording's media data is empty.");
        return false;
    }
    const uint64_t nMedia = m_range.nEnd - m_range.nBegin;
    m_progress.SetRange(m_range.nBegin, std::min(nMedia, kProbeBytes), nMedia);
    m_progress.Report(0);
    return true;
}

bool CRebuild::IsARecording(const char* pszOutput) const {
    CFileIdentity output;
    return FileIdentityOf(pszOutput, &output) && (output == m_reference || output == m_broken);
}

bool CRebuild::CheckRecording(CRebuildResult* pFailure) {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    CInterleaveModel model;
    BuildTracks(&tracks, &model);
    CMediaWalk probe(m_brokenFile, m_range, tracks, model);
    probe.SetProgress(&m_progress);
    probe.SetLimit(kProbeBytes, kProbeSeconds);
    const EWalkStop eProbe = probe.Run();
    if (eProbe == EWalkStop::Cancelled) {
        *pFailure = Fail(EStatus::Cancelled, "The rebuild was cancelled.");
        return false;
    }
    if (eProbe == EWalkStop::ReadFailed) {
        *pFailure = Fail(EStatus::ReadFailed, "The broken recording could not be read.");
        return false;
    }
    if (eProbe == EWalkStop::Zeros && probe.StopOffset() == m_range.nBegin) {
        *pFailure =
            Fail(EStatus::NoMediaData, "The broken recording's media data begins with zeros.");
        return false;
    }
    CProbe check;
    check.pMovie = &m_movie;
    check.pTracks = &tracks;
    check.pModel = &model;
    check.eStop = eProbe;
    check.nStop = probe.StopOffset();
    check.nDataEnd = m_range.nEnd;
    const std::string strMismatch = FindMismatch(m_brokenFile, check);
    if (!strMismatch.empty()) {
        *pFailure = Fail(EStatus::Mismatch, strMismatch);
        return false;
    }
    return true;
}

// ftyp, mdat's header (with room for a 64-bit size), the media data as the walk confirms it,
// then the new index.
CRebuildResult CRebuild::WriteCopy(const char* pszOutput) {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    CInterleaveModel model;
    BuildTracks(&tracks, &model);
    COutputFile output;
    if (!output.Create(pszOutput))
        return Fail(EStatus::WriteFailed, "The copy could not be created.");
    uint8_t header[16];
    MediaDataHeader(0, header);
    const uint64_t nHeader = m_movie.ftyp.size();
    if (!output.Write(m_movie.ftyp.data(), m_movie.ftyp.size()) ||
        !output.Write(header, sizeof header)) {
        output.Remove();
        return Fail(EStatus::WriteFailed, "The copy could not be written.");
    }
    const uint64_t nPayload = output.Position();
    m_progress.StartWrite();
    CMediaWalk walk(m_brokenFile, m_range, tracks, model);
    walk.SetProgress(&m_progress);
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
    result.tracksLeftOut = m_leftOut;
    const std::vector<CTrackTables> tables =
        IndexFromWalk(m_movie, tracks, walk, m_range.nBegin, nPayload, &result.tracksLeftOut);
    if (tables.empty()) {
        output.Remove();
        return Fail(EStatus::NoMediaData, "No sample of the reference's tracks was found.");
    }
    for (const CTrackTables& track : tables)
        result.tracks.push_back(Describe(*track.pReference, track));
    const std::vector<uint8_t> moov = BuildMovieBox(m_movie, tables);
    MediaDataHeader(walk.StopOffset() - m_range.nBegin, header);
    if (!output.Write(moov.data(), moov.size()) ||
        !output.WriteAt(nHeader, header, sizeof header) || !output.Close()) {
        output.Remove();
        return Fail(EStatus::WriteFailed, "The copy could not be written.");
    }

    result.eStatus = EStatus::Rebuilt;
    result.nBytesLeftOut = m_range.nEnd - walk.StopOffset();
    // The recording's time as the copy shows it: its video's, else its first track's.
    const CRebuiltTrack* pLead = &result.tracks[0];
    for (const CRebuiltTrack& track : result.tracks) {
        if (track.eKind == CRebuiltTrack::EKind::Video) {
            pLead = &track;
            break;
        }
    }
    const double dSeconds = double(pLead->nDuration) / pLead->nTimescale;
    const std::string strSeconds = SecondsText(dSeconds);
    if (result.nBytesLeftOut != 0) {
        result.strLeftOutReason = LeftOutReason(eStop);
        result.dStoppedAt = dSeconds;
        result.strDetail = strSeconds + " seconds of the recording were rebuilt; the last " +
                           SizeText(result.nBytesLeftOut) + " were left out (" +
                           result.strLeftOutReason + ").";
    } else {
        result.strDetail = "All " + strSeconds + " seconds of the recording were rebuilt.";
    }
    m_progress.Report(100);
    return result;
}

CRebuildResult Rebuild(const char* pszReference, const char* pszBroken, const char* pszOutput,
                       CRebuildObserver& observer) {
    CRebuild rebuild(observer);
    CRebuildResult failure;
    if (!rebuild.ReadReference(pszReference, &failure) ||
        !rebuild.OpenRecording(pszBroken, &failure))
        return failure;
    // Told apart by what they are, not by how their names are spelt. (The copy is created
    // new, so nothing at its name is ever written; this says why.)
    if (rebuild.IsARecording(pszOutput))
        return Fail(EStatus::WriteFailed, "The copy cannot be written over one of the recordings.");
    if (!rebuild.CheckRecording(&failure))
        return failure;
    return rebuild.WriteCopy(pszOutput);
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
    } catch (const std::exception&) {
        // Nothing may escape to the program's worker thread.
        return Fail(EStatus::ReadFailed, "The rebuild failed unexpectedly.");
    }
}
