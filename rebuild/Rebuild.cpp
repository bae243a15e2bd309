#include "rebuild/Rebuild.h"

#include "rebuild/ParameterSearch.h"

#include "rebuild/RecordingMatch.h"
#include "media/MediaStart.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/OutputFile.h"
#include "rebuild/PlayCopy.h"
#include "rebuild/PlayReference.h"
#include "rebuild/PlayStart.h"
#include "rebuild/RebuiltIndex.h"
#include "rebuild/SelfReference.h"
#include "rebuild/WalkTrack.h"

#include <algorithm>
#include <chrono>
#include <memory>
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

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The copy as it is being written, read back through the handle that writes it.
class COutputSource final : public CByteSource {
public:
    explicit COutputSource(COutputFile& file) : m_file(file) {}
    uint64_t Size() const override { return m_file.Position(); }
    bool ReadAt(uint64_t nOffset, void* pBuffer, size_t nCount) override {
        return nOffset <= m_file.Position() && nCount <= m_file.Position() - nOffset &&
               m_file.ReadAt(nOffset, static_cast<uint8_t*>(pBuffer), nCount);
    }

private:
    COutputFile& m_file;
};

// Turns the walks' positions into one rising percentage: the probe, then the full walk; and
// asks the observer whether the user cancelled.
class CProgress final : public CWalkProgress, public CCancelPoll, public CSearchProgress {
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
    // A search for parameter sets is the first tenth.
    void Searched(int nPercent) override { Report(nPercent / 10); }
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

using EProblem = CRebuildResult::EProblem;

CRebuildResult Fail(EStatus eStatus, EProblem eProblem) {
    CRebuildResult result;
    result.eStatus = eStatus;
    result.eProblem = eProblem;
    return result;
}

void BuildModel(const CReferenceMovie& movie,
                const std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel* pModel) {
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        pModel->AddTrack(pTrack->SampleSeconds(), movie.tracks[pTrack->ReferenceIndex()].chunks,
                         pTrack->SteadyDurations() || pTrack->Confirms());
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
    track.nTrackId = reference.nTrackId;
    track.nTimescale = reference.nTimescale;
    track.nDuration = TrackMediaDuration(tables);
    track.nSamples = static_cast<uint32_t>(tables.sizes.Count());
    return track;
}

CStretchLeftOut::EReason LeftOutReason(EWalkStop eStop) {
    switch (eStop) {
    case EWalkStop::Zeros:
        return CStretchLeftOut::EReason::Zeros;
    case EWalkStop::CutOff:
        return CStretchLeftOut::EReason::CutOff;
    case EWalkStop::SoundUnclear:
        return CStretchLeftOut::EReason::SoundUnclear;
    default:
        return CStretchLeftOut::EReason::Garbage;
    }
}

// One rebuild, step by step; each step that fails leaves its result in *pFailure.
class CRebuild {
public:
    CRebuild(CRebuildObserver& observer, const CRebuildOptions& options)
        : m_progress(observer), m_options(options), m_dBegin(Now()) {}

    bool ReadReference(const char* pszReference, CRebuildResult* pFailure);
    // Without a reference: one made from what the recording holds, once it is open.
    bool MakeReference(CRebuildResult* pFailure);
    bool OpenRecording(const char* pszBroken, const CMediaRange* pRange, CRebuildResult* pFailure);
    // Whether pszOutput names one of the two recordings, however it spells it.
    bool IsARecording(const char* pszOutput) const;
    // Before anything is written: does the recording fit the reference?
    bool CheckRecording(CRebuildResult* pFailure);
    CRebuildResult WriteCopy(const char* pszOutput);

    const CFoundSettings& Found() const { return m_found; }

private:
    // Whether the reference has a track the walk can go by and plays itself.
    bool CheckReference(CByteSource& source, CRebuildResult* pFailure);
    void BuildTracks(std::vector<std::unique_ptr<CWalkTrack>>* pTracks, CInterleaveModel* pModel);
    // What every walk is told of the reference beyond its tracks.
    void TellWalk(CMediaWalk* pWalk);

    // The copy's steps: its beginning, its end once the walk is done, and what it left out.
    bool BeginCopy(const char* pszOutput, COutputFile* pOutput, CRebuildResult* pFailure);
    bool EndCopy(COutputFile& output, const CMediaWalk& walk,
                 const std::vector<CTrackTables>& tables, uint64_t nHeader);
    void TellLeftOut(const CMediaWalk& walk, EWalkStop eStop, CRebuildResult* pResult) const;
    // The copy's check: its time, from what the rebuild took without the decoding before.
    CPlayResult CheckCopy(COutputFile& output, const std::vector<CTrackTables>& tables,
                          EDecodeRun* pRun);

    CProgress m_progress;
    const CRebuildOptions& m_options;
    const double m_dBegin;
    double m_dDecodeSeconds = 0;                  // spent decoding before the copy was begun
    std::vector<CDecodedFormat> m_referenceVideo; // per reference track, its pictures' shape
    CReferenceMovie m_movie;
    std::vector<CTrackLeftOut> m_leftOut;
    CStdioByteSource m_brokenFile;
    CFileIdentity m_reference, m_broken;
    CFoundSettings m_found;
    CMediaRange m_range;
    CSoundOrder m_soundOrder;
    double m_dByteRate = 0;
};

void CRebuild::BuildTracks(std::vector<std::unique_ptr<CWalkTrack>>* pTracks,
                           CInterleaveModel* pModel) {
    std::vector<CTrackLeftOut> ignored;
    *pTracks = MakeWalkTracks(m_movie, &ignored);
    BuildModel(m_movie, *pTracks, pModel);
    std::vector<size_t> sound;
    for (const std::unique_ptr<CWalkTrack>& pTrack : *pTracks)
        sound.push_back(pTrack->Kind() == EWalkKind::Audio ? pTrack->ReferenceIndex()
                                                           : CSoundOrder::kSilent);
    m_soundOrder.Learn(m_movie, sound);
    uint64_t nBytes = 0;
    double dSeconds = 0;
    for (const CReferenceTrack& track : m_movie.tracks) {
        nBytes += track.nTotalSampleBytes;
        if (track.nTimescale != 0)
            dSeconds = std::max(dSeconds, double(track.nMediaDuration) / track.nTimescale);
    }
    m_dByteRate = dSeconds > 0 ? double(nBytes) / dSeconds : 0;
}

void CRebuild::TellWalk(CMediaWalk* pWalk) {
    pWalk->SetProgress(&m_progress);
    pWalk->SetSoundOrder(&m_soundOrder);
    pWalk->SetByteRate(m_dByteRate);
}

bool CRebuild::ReadReference(const char* pszReference, CRebuildResult* pFailure) {
    CStdioByteSource referenceFile;
    if (!referenceFile.Open(pszReference)) {
        *pFailure = Fail(EStatus::ReadFailed, EProblem::ReferenceUnopened);
        return false;
    }
    if (!referenceFile.Identity(&m_reference)) {
        *pFailure = Fail(EStatus::ReadFailed, EProblem::ReferenceUnopened);
        return false;
    }
    EProblem eProblem = EProblem::ReferenceIndexUnreadable;
    if (!ReadReferenceMovie(referenceFile, &m_movie, &eProblem, &m_progress)) {
        *pFailure = m_progress.WasCancelled() ? Fail(EStatus::Cancelled, EProblem::Cancelled)
                                              : Fail(EStatus::ReferenceUnusable, eProblem);
        return false;
    }
    return CheckReference(referenceFile, pFailure);
}

bool CRebuild::MakeReference(CRebuildResult* pFailure) {
    EProblem eProblem = EProblem::ReferenceIndexUnreadable;
    CSelfSearch search;
    search.pCancel = &m_progress;
    search.pDecoders = m_options.pDecoders;
    search.pProgress = &m_progress;
    search.bSearch = m_options.bSearch;
    const bool bMade =
        MakeSelfReference(m_brokenFile, m_range, search, &m_movie, &m_found, &eProblem);
    if (m_progress.WasCancelled()) {
        *pFailure = Fail(EStatus::Cancelled, EProblem::Cancelled);
        return false;
    }
    CRebuildResult failure;
    if (bMade && CheckReference(m_brokenFile, &failure))
        return true;
    if (bMade &&
        (failure.eStatus == EStatus::Cancelled || failure.eStatus == EStatus::ReadFailed)) {
        *pFailure = failure;
        return false;
    }
    // What was found does not serve: its pictures do not decode with it.
    if (m_found.eMissing == CFoundSettings::EMissing::None)
        m_found.eMissing = CFoundSettings::EMissing::DoesNotDecode;
    m_found.eSource = CFoundSettings::ESource::None;
    *pFailure = Fail(EStatus::NeedsReference, EProblem::None);
    pFailure->found = m_found;
    return false;
}

bool CRebuild::CheckReference(CByteSource& referenceFile, CRebuildResult* pFailure) {
    const std::vector<std::unique_ptr<CWalkTrack>> tracks = MakeWalkTracks(m_movie, &m_leftOut);
    std::vector<std::string> codecs;
    bool bUsable = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks) {
        const CReferenceTrack& reference = m_movie.tracks[pTrack->ReferenceIndex()];
        // Its samples' own syntax is what the walk goes by: PCM alone gives it nothing.
        bUsable = bUsable || pTrack->Confirms();
        if (pTrack->Kind() == EWalkKind::Unknown)
            m_leftOut.push_back(TrackLeftOut(reference, pTrack->Problem()));
        codecs.push_back(CodecName(reference.entry));
    }
    if (!bUsable) {
        *pFailure = Fail(EStatus::ReferenceUnusable, EProblem::ReferenceWithoutUsableTrack);
        pFailure->referenceCodecs = codecs;
        return false;
    }
    if (!m_options.pDecoders)
        return true;
    // It must play itself: its first pictures and sound.
    const double dBegin = Now();
    std::vector<size_t> checked;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks) {
        if (pTrack->Kind() == EWalkKind::Video || pTrack->Kind() == EWalkKind::Audio)
            checked.push_back(pTrack->ReferenceIndex());
    }
    CDamagedFrame fault;
    EDecodeRun eRun = EDecodeRun::Clean;
    const bool bPlays = PlayReference(referenceFile, m_movie, checked, *m_options.pDecoders,
                                      &m_progress, &fault, &m_referenceVideo, &eRun);
    m_dDecodeSeconds += Now() - dBegin;
    if (eRun == EDecodeRun::Cancelled) {
        *pFailure = Fail(EStatus::Cancelled, EProblem::Cancelled);
        return false;
    }
    if (!bPlays) {
        if (eRun == EDecodeRun::ReadFailed)
            fault.strDecoder = "its samples are not where its index says";
        *pFailure = Fail(EStatus::ReferenceUnusable, EProblem::ReferenceDoesNotPlay);
        pFailure->referenceFault = fault;
        return false;
    }
    return true;
}

bool CRebuild::OpenRecording(const char* pszBroken, const CMediaRange* pRange,
                             CRebuildResult* pFailure) {
    if (!m_brokenFile.Open(pszBroken) || !m_brokenFile.Identity(&m_broken)) {
        *pFailure = Fail(EStatus::ReadFailed, EProblem::RecordingUnopened);
        return false;
    }
    if (pRange && pRange->nBegin <= pRange->nEnd && pRange->nEnd <= m_brokenFile.Size())
        m_range = *pRange;
    else if (!FindMediaData(m_brokenFile, &m_range)) {
        *pFailure = Fail(EStatus::NoMediaData, EProblem::NoMediaDataBox);
        return false;
    }
    if (m_range.nEnd <= m_range.nBegin) {
        *pFailure = Fail(EStatus::NoMediaData, EProblem::MediaDataEmpty);
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
    TellWalk(&probe);
    probe.SetLimit(kProbeBytes, kProbeSeconds);
    const EWalkStop eProbe = probe.Run();
    if (eProbe == EWalkStop::Cancelled) {
        *pFailure = Fail(EStatus::Cancelled, EProblem::Cancelled);
        return false;
    }
    if (eProbe == EWalkStop::ReadFailed) {
        *pFailure = Fail(EStatus::ReadFailed, EProblem::RecordingUnreadable);
        return false;
    }
    if (eProbe == EWalkStop::Zeros && probe.StopOffset() == m_range.nBegin) {
        *pFailure = Fail(EStatus::NoMediaData, EProblem::BeginsWithZeros);
        return false;
    }
    // Cut inside its first frame, or holding nothing but a timecode: nothing to play.
    bool bPlayable = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        bPlayable = bPlayable || ((pTrack->Confirms() || pTrack->Kind() == EWalkKind::Pcm) &&
                                  pTrack->Found() != 0);
    if (!bPlayable && eProbe != EWalkStop::Unknown) {
        *pFailure = Fail(EStatus::NoMediaData, EProblem::NoWholeFrame);
        return false;
    }
    CProbe check;
    check.pMovie = &m_movie;
    check.pTracks = &tracks;
    check.pModel = &model;
    check.eStop = eProbe;
    check.nStop = probe.StopOffset();
    check.nDataEnd = m_range.nEnd;
    CMismatch mismatch = FindMismatch(m_brokenFile, check);
    if (mismatch.eKind == CMismatch::EKind::None && m_options.pDecoders) {
        // Its start must decode with the reference's settings.
        const double dBegin = Now();
        EDecodeRun eRun = EDecodeRun::Clean;
        mismatch = PlayRecordingStart(m_brokenFile, m_movie, tracks, probe, m_referenceVideo,
                                      *m_options.pDecoders, &m_progress, &eRun);
        m_dDecodeSeconds += Now() - dBegin;
        if (eRun == EDecodeRun::Cancelled) {
            *pFailure = Fail(EStatus::Cancelled, EProblem::Cancelled);
            return false;
        }
        if (eRun == EDecodeRun::ReadFailed) {
            *pFailure = Fail(EStatus::ReadFailed, EProblem::RecordingUnreadable);
            return false;
        }
    }
    if (mismatch.eKind != CMismatch::EKind::None) {
        *pFailure = Fail(EStatus::Mismatch, EProblem::None);
        pFailure->mismatch = mismatch;
        return false;
    }
    return true;
}

CPlayResult CRebuild::CheckCopy(COutputFile& output, const std::vector<CTrackTables>& tables,
                                EDecodeRun* pRun) {
    const double dRebuild = Now() - m_dBegin - m_dDecodeSeconds;
    const double dSmall = output.Position() <= m_options.nSmallCopy
                              ? 1.0
                              : double(m_options.nSmallCopy) / double(output.Position());
    const double dBudget =
        std::max(m_options.dCheckShare * dRebuild, m_options.dMinCheckSeconds * dSmall);
    COutputSource copy(output);
    CPlayResult check = PlayCopy(copy, tables, *m_options.pDecoders, dBudget, &m_progress, pRun);
    check.dRebuildSeconds = dRebuild;
    check.dBeforeSeconds = m_dDecodeSeconds;
    return check;
}

// ftyp, and mdat's header (with room for a 64-bit size) to be written again once the media
// data's size is known. False, with why in *pFailure, when the copy cannot be begun.
bool CRebuild::BeginCopy(const char* pszOutput, COutputFile* pOutput, CRebuildResult* pFailure) {
    if (!pOutput->Create(pszOutput)) {
        *pFailure = Fail(EStatus::WriteFailed, EProblem::CopyNotCreated);
        return false;
    }
    uint8_t header[16];
    MediaDataHeader(0, header);
    if (!pOutput->Write(m_movie.ftyp.data(), m_movie.ftyp.size()) ||
        !pOutput->Write(header, sizeof header)) {
        pOutput->Remove();
        *pFailure = Fail(EStatus::WriteFailed, EProblem::CopyNotWritten);
        return false;
    }
    return true;
}

// The new index after the media data, and mdat's header, at nHeader, with the media data's size.
bool CRebuild::EndCopy(COutputFile& output, const CMediaWalk& walk,
                       const std::vector<CTrackTables>& tables, uint64_t nHeader) {
    const std::vector<uint8_t> moov = BuildMovieBox(m_movie, tables);
    uint8_t header[16];
    MediaDataHeader(walk.StopOffset() - walk.MediaBegin() - walk.OmittedBefore(walk.StopOffset()),
                    header);
    return output.Write(moov.data(), moov.size()) && output.WriteAt(nHeader, header, sizeof header);
}

// What the copy left out, its bytes and the tail after where the walk stopped, and how long
// the copy is.
void CRebuild::TellLeftOut(const CMediaWalk& walk, EWalkStop eStop, CRebuildResult* pResult) const {
    CRebuildResult& result = *pResult;
    uint64_t nTail = m_range.nEnd - walk.StopOffset();
    result.nBytesLeftOut = nTail;
    result.nMediaBytes = m_range.nEnd - m_range.nBegin;
    for (const CStretchLeftOut& stretch : result.stretchesLeftOut)
        result.nBytesLeftOut += stretch.nBytes;
    // The recording's time as the copy shows it: its video's, else its first track's.
    const CRebuiltTrack* pLead = &result.tracks[0];
    for (const CRebuiltTrack& track : result.tracks) {
        if (track.eKind == CRebuiltTrack::EKind::Video) {
            pLead = &track;
            break;
        }
    }
    result.dSeconds = double(pLead->nDuration) / pLead->nTimescale;
    if (nTail != 0) {
        CStretchLeftOut tail;
        tail.eReason = LeftOutReason(eStop);
        tail.nOffset = walk.StopOffset();
        tail.nBytes = nTail;
        tail.dAt = result.dSeconds;
        tail.bToEnd = true;
        result.stretchesLeftOut.push_back(tail);
    }
}

// The copy: its beginning, the media data as the walk confirms it, then the new index; kept
// when it plays.
CRebuildResult CRebuild::WriteCopy(const char* pszOutput) {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    CInterleaveModel model;
    BuildTracks(&tracks, &model);
    COutputFile output;
    CRebuildResult failure;
    if (!BeginCopy(pszOutput, &output, &failure))
        return failure;
    const uint64_t nHeader = m_movie.ftyp.size();
    const uint64_t nPayload = output.Position();
    m_progress.StartWrite();
    CMediaWalk walk(m_brokenFile, m_range, tracks, model);
    TellWalk(&walk);
    walk.SetSink(&output);
    const EWalkStop eStop = walk.Run();
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed) {
        output.Remove();
        if (eStop == EWalkStop::Cancelled)
            return Fail(EStatus::Cancelled, EProblem::Cancelled);
        return eStop == EWalkStop::ReadFailed
                   ? Fail(EStatus::ReadFailed, EProblem::RecordingUnreadable)
                   : Fail(EStatus::WriteFailed, EProblem::CopyNotWritten);
    }

    CRebuildResult result;
    result.tracksLeftOut = m_leftOut;
    const std::vector<CTrackTables> tables =
        IndexFromWalk(m_movie, tracks, walk, walk.MediaBegin(), nPayload, &result.tracksLeftOut,
                      &result.stretchesLeftOut);
    if (walk.MediaBegin() != m_range.nBegin) {
        // What lay before the first sample.
        CStretchLeftOut lead;
        lead.eReason = walk.LeadIsZeros() ? CStretchLeftOut::EReason::Zeros
                                          : CStretchLeftOut::EReason::Garbage;
        lead.nOffset = m_range.nBegin;
        lead.nBytes = walk.MediaBegin() - m_range.nBegin;
        result.stretchesLeftOut.insert(result.stretchesLeftOut.begin(), lead);
    }
    bool bPlayable = false;
    for (const CTrackTables& track : tables)
        bPlayable = bPlayable || track.pReference->nHandler == FourCC("vide") ||
                    track.pReference->nHandler == FourCC("soun");
    if (!bPlayable) {
        output.Remove();
        return Fail(EStatus::NoMediaData, EProblem::NoWholeFrame);
    }
    for (const CTrackTables& track : tables)
        result.tracks.push_back(Describe(*track.pReference, track));
    if (!EndCopy(output, walk, tables, nHeader)) {
        output.Remove();
        return Fail(EStatus::WriteFailed, EProblem::CopyNotWritten);
    }
    if (m_options.pDecoders) {
        EDecodeRun eRun = EDecodeRun::Clean;
        result.play = CheckCopy(output, tables, &eRun);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            output.Remove();
            return eRun == EDecodeRun::Cancelled
                       ? Fail(EStatus::Cancelled, EProblem::Cancelled)
                       : Fail(EStatus::WriteFailed, EProblem::CopyNotWritten);
        }
    }
    // A copy no player could show is no copy.
    if (result.play.bChecked && !result.play.bPlays) {
        output.Remove();
        result.eStatus = EStatus::NotPlayable;
        result.eProblem = EProblem::CopyDoesNotPlay;
        return result;
    }
    if (!output.Close()) {
        output.Remove();
        return Fail(EStatus::WriteFailed, EProblem::CopyNotWritten);
    }

    result.eStatus = EStatus::Rebuilt;
    result.eProblem = EProblem::None;
    TellLeftOut(walk, eStop, &result);
    m_progress.Report(100);
    return result;
}

CRebuildResult Rebuild(const char* pszReference, const char* pszBroken, const char* pszOutput,
                       CRebuildObserver& observer, const CRebuildOptions& options) {
    CRebuild rebuild(observer, options);
    CRebuildResult failure;
    if (pszReference) {
        if (!rebuild.ReadReference(pszReference, &failure) ||
            !rebuild.OpenRecording(pszBroken, options.pRange, &failure))
            return failure;
    } else if (!rebuild.OpenRecording(pszBroken, options.pRange, &failure) ||
               !rebuild.MakeReference(&failure)) {
        return failure;
    }
    // Told apart by what they are, not by how their names are spelt. (The copy is created
    // new, so nothing at its name is ever written; this says why.)
    if (rebuild.IsARecording(pszOutput))
        return Fail(EStatus::WriteFailed, EProblem::OverARecording);
    if (!rebuild.CheckRecording(&failure)) {
        // Without a reference there is nothing to differ from: what was found does not hold.
        if (!pszReference && failure.eStatus == EStatus::Mismatch) {
            const CMismatch::EKind eKind = failure.mismatch.eKind;
            failure = Fail(EStatus::NeedsReference, EProblem::None);
            failure.found.eMissing = eKind == CMismatch::EKind::VideoDoesNotDecode
                                         ? CFoundSettings::EMissing::DoesNotDecode
                                         : CFoundSettings::EMissing::DoesNotFit;
        }
        return failure;
    }
    CRebuildResult result = rebuild.WriteCopy(pszOutput);
    result.found = rebuild.Found();
    return result;
}

} // namespace

CRebuildResult RebuildRecording(const char* pszReference, const char* pszBroken,
                                const char* pszOutput, CRebuildObserver* pObserver,
                                const CRebuildOptions& options) {
    CNoObserver noObserver;
    CRebuildObserver& observer = pObserver ? *pObserver : noObserver;
    if (!pszBroken || !pszOutput)
        return Fail(EStatus::ReadFailed, EProblem::NameMissing);
    try {
        return Rebuild(pszReference, pszBroken, pszOutput, observer, options);
    } catch (const std::bad_alloc&) {
        // The output, if begun, was removed as its owner unwound.
        return Fail(EStatus::ReadFailed, EProblem::OutOfMemory);
    } catch (const std::exception&) {
        // Nothing may escape to the program's worker thread.
        return Fail(EStatus::ReadFailed, EProblem::Unexpected);
    }
}
