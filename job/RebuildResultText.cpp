#include "job/RebuildResultText.h"

#include "job/FieldLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <vector>

static_assert(fieldline::kMaxFieldText == CRebuildResultReader::kMaxText,
              "a field holds the text a result may");

namespace {

using EStatus = CRebuildResult::EStatus;
using EProblem = CRebuildResult::EProblem;

const char kHeader[] = "rebuild-result 1";
const char kEnd[] = "end";

// Each record's fields, in their order on the line, for the writer and the reader alike. The
// last value of each kind is named where it is read: a kind the engine adds goes here too.
template <typename V, typename T> void StatusFields(V& v, T& r) {
    v.Enum(r.eStatus, EStatus::NeedsReference);
    v.Enum(r.eProblem, EProblem::Unexpected);
    v.Field(r.nBytesLeftOut);
    v.Field(r.nMediaBytes);
    v.Field(r.dSeconds);
}

template <typename V, typename T> void MismatchFields(V& v, T& m) {
    v.Enum(m.eKind, CMismatch::EKind::SoundDoesNotDecode);
    v.Field(m.nRecording);
    v.Field(m.nReference);
    v.Field(m.nRecordingHeight);
    v.Field(m.nReferenceHeight);
    v.Field(m.dRecording);
    v.Field(m.dReference);
    v.Field(m.bApproximate);
}

template <typename V, typename T> void MismatchTextFields(V& v, T& m) {
    v.Field(m.strRecording);
    v.Field(m.strReference);
}

template <typename V, typename T> void FoundFields(V& v, T& f) {
    v.Enum(f.eSource, CFoundSettings::ESource::Search);
    v.Enum(f.eMissing, CFoundSettings::EMissing::NoSize);
    v.Field(f.nWidth);
    v.Field(f.nHeight);
    v.Field(f.dFrameRate);
    v.Field(f.bFrameRateAssumed);
    v.Field(f.nSampleRate);
    v.Field(f.nChannels);
    v.Field(f.bRateByTime);
    v.Field(f.bQpAssumed);
    v.Field(f.nCropLines);
    v.Field(f.bBipredAssumed);
    v.Field(f.bChromaAssumed);
    v.Field(f.bScalingAssumed);
    v.Field(f.bSearchable);
}

template <typename V, typename T> void FoundTextFields(V& v, T& f) {
    v.Field(f.strVideo);
    v.Field(f.strProfile);
    v.Field(f.strSound);
    v.Field(f.strCamera);
}

template <typename V, typename T> void FrameFields(V& v, T& f) {
    v.Field(f.bVideo);
    v.Field(f.dAt);
    v.Field(f.strDecoder);
}

template <typename V, typename T> void TrackFields(V& v, T& t) {
    v.Enum(t.eKind, CRebuiltTrack::EKind::Other);
    v.Field(t.nTrackId);
    v.Field(t.nTimescale);
    v.Field(t.nDuration);
    v.Field(t.nSamples);
    v.Field(t.strCodec);
}

template <typename V, typename T> void TrackLeftOutFields(V& v, T& t) {
    v.Field(t.nTrackId);
    v.Field(t.nHandler);
    v.Field(t.nFormat);
    v.Enum(t.eReason, CTrackLeftOut::EReason::NoneFound);
}

template <typename V, typename T> void StretchFields(V& v, T& s) {
    v.Enum(s.eReason, CStretchLeftOut::EReason::SoundUnclear);
    v.Field(s.nOffset);
    v.Field(s.nBytes);
    v.Field(s.dAt);
    v.Field(s.dSeconds);
    v.Field(s.bToEnd);
}

template <typename V, typename T> void PlayFields(V& v, T& p) {
    v.Field(p.bChecked);
    v.Field(p.bPlays);
    v.Field(p.bSoundWhole);
    v.Field(p.bSoundEnd);
    v.Field(p.nSoundPlaces);
    v.Field(p.bVideoWhole);
    v.Field(p.bVideoStart);
    v.Field(p.bVideoEnd);
    v.Field(p.nVideoPlaces);
    v.Field(p.bHevc);
    v.Field(p.nDamaged);
    v.Field(p.dSeconds);
    v.Field(p.dRebuildSeconds);
    v.Field(p.dBeforeSeconds);
}

template <typename V, typename T> void UndecodedFields(V& v, T& u) {
    v.Field(u.bVideo);
    v.Field(u.strCodec);
}

template <typename F, typename T>
void Write(std::string& text, const char* pszRecord, F fields, const T& value) {
    fieldline::CFieldWriter writer(pszRecord);
    fields(writer, value);
    text += writer.Line();
}

// Reads a record's fields into a new element of list, of at most nMax.
template <typename F, typename T>
bool ReadInto(std::vector<T>& list, size_t nMax, fieldline::CFieldReader& reader, F fields) {
    if (list.size() >= nMax)
        return false;
    list.emplace_back();
    fields(reader, list.back());
    return reader.Ok();
}

} // namespace

std::string RebuildResultText(const CRebuildResult& result) {
    std::string text = std::string(kHeader) + "\n";
    const auto status = [](auto& v, auto& r) { StatusFields(v, r); };
    const auto mismatch = [](auto& v, auto& m) { MismatchFields(v, m); };
    const auto mismatchText = [](auto& v, auto& m) { MismatchTextFields(v, m); };
    const auto frame = [](auto& v, auto& f) { FrameFields(v, f); };
    const auto codec = [](auto& v, auto& s) { v.Field(s); };
    Write(text, "status", status, result);
    Write(text, "mismatch", mismatch, result.mismatch);
    Write(text, "mismatch-text", mismatchText, result.mismatch);
    Write(text, "fault", frame, result.referenceFault);
    Write(
        text, "found", [](auto& v, auto& f) { FoundFields(v, f); }, result.found);
    Write(
        text, "found-text", [](auto& v, auto& f) { FoundTextFields(v, f); }, result.found);
    for (size_t i = 0; i < result.referenceCodecs.size() && i < CRebuildResultReader::kMaxCodecs;
         ++i)
        Write(text, "codec", codec, result.referenceCodecs[i]);
    for (size_t i = 0; i < result.tracks.size() && i < CRebuildResultReader::kMaxTracks; ++i)
        Write(
            text, "track", [](auto& v, auto& t) { TrackFields(v, t); }, result.tracks[i]);
    for (size_t i = 0; i < result.tracksLeftOut.size() && i < CRebuildResultReader::kMaxTracks; ++i)
        Write(
            text, "track-left-out", [](auto& v, auto& t) { TrackLeftOutFields(v, t); },
            result.tracksLeftOut[i]);
    for (size_t i = 0;
         i < result.stretchesLeftOut.size() && i < CRebuildResultReader::kMaxStretches; ++i)
        Write(
            text, "stretch-left-out", [](auto& v, auto& s) { StretchFields(v, s); },
            result.stretchesLeftOut[i]);
    Write(
        text, "play", [](auto& v, auto& p) { PlayFields(v, p); }, result.play);
    for (size_t i = 0; i < result.play.undecoded.size() && i < CRebuildResultReader::kMaxTracks;
         ++i)
        Write(
            text, "undecoded", [](auto& v, auto& u) { UndecodedFields(v, u); },
            result.play.undecoded[i]);
    for (size_t i = 0; i < result.play.damaged.size() && i < kMaxDamagedNamed; ++i)
        Write(text, "damaged", frame, result.play.damaged[i]);
    return text + kEnd + "\n";
}

void CRebuildResultReader::Reset() {
    m_state = State::Before;
    m_result = CRebuildResult();
}

void CRebuildResultReader::OnLine(const std::string& strLine, bool bCut) {
    if (m_state == State::Before) {
        if (strLine == kHeader && !bCut) {
            m_state = State::Reading;
            m_result = CRebuildResult();
        }
        return;
    }
    if (m_state != State::Reading)
        return;
    if (bCut)
        m_state = State::Spoiled;
    else if (strLine == kEnd)
        m_state = State::Done;
    else if (!ReadRecord(strLine))
        m_state = State::Spoiled;
}

bool CRebuildResultReader::ReadRecord(const std::string& strLine) {
    const size_t nSpace = strLine.find(' ');
    if (nSpace == std::string::npos)
        return false;
    const std::string strRecord = strLine.substr(0, nSpace);
    fieldline::CFieldReader reader(strLine, nSpace);
    CRebuildResult& r = m_result;
    if (strRecord == "status")
        StatusFields(reader, r);
    else if (strRecord == "mismatch")
        MismatchFields(reader, r.mismatch);
    else if (strRecord == "mismatch-text")
        MismatchTextFields(reader, r.mismatch);
    else if (strRecord == "fault")
        FrameFields(reader, r.referenceFault);
    else if (strRecord == "found")
        FoundFields(reader, r.found);
    else if (strRecord == "found-text")
        FoundTextFields(reader, r.found);
    else if (strRecord == "codec")
        return ReadInto(r.referenceCodecs, kMaxCodecs, reader,
                        [](fieldline::CFieldReader& v, std::string& s) { v.Field(s); });
    else if (strRecord == "track")
        return ReadInto(r.tracks, kMaxTracks, reader,
                        [](fieldline::CFieldReader& v, CRebuiltTrack& t) { TrackFields(v, t); });
    else if (strRecord == "track-left-out")
        return ReadInto(
            r.tracksLeftOut, kMaxTracks, reader,
            [](fieldline::CFieldReader& v, CTrackLeftOut& t) { TrackLeftOutFields(v, t); });
    else if (strRecord == "stretch-left-out")
        return ReadInto(
            r.stretchesLeftOut, kMaxStretches, reader,
            [](fieldline::CFieldReader& v, CStretchLeftOut& s) { StretchFields(v, s); });
    else if (strRecord == "play")
        PlayFields(reader, r.play);
    else if (strRecord == "undecoded")
        return ReadInto(
            r.play.undecoded, kMaxTracks, reader,
            [](fieldline::CFieldReader& v, CPlayResult::CUndecoded& u) { UndecodedFields(v, u); });
    else if (strRecord == "damaged")
        return ReadInto(r.play.damaged, kMaxDamagedNamed, reader,
                        [](fieldline::CFieldReader& v, CDamagedFrame& f) { FrameFields(v, f); });
    else
        return false;
    return reader.Ok();
}

bool CRebuildResultReader::Get(CRebuildResult* pResult) const {
    if (m_state != State::Done)
        return false;
    *pResult = m_result;
    return true;
}
