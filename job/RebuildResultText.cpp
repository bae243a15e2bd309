#include "job/RebuildResultText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

using EStatus = CRebuildResult::EStatus;
using EProblem = CRebuildResult::EProblem;

const char kHeader[] = "rebuild-result 1";
const char kEnd[] = "end";
// Times, rates and lengths are never negative and far below this (some 30 years in seconds);
// anything else is no result.
const double kMaxValue = 1e9;

bool Escaped(unsigned char ch) {
    return ch <= 0x20 || ch >= 0x7F || ch == '%';
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

class CWriter {
public:
    explicit CWriter(const char* pszRecord) : m_line(pszRecord) {}
    const std::string& Line() {
        m_line += '\n';
        return m_line;
    }

    void Field(const std::string& str) {
        static const char kHex[] = "0123456789ABCDEF";
        m_line += ' ';
        const size_t nLength = std::min(str.size(), CRebuildResultReader::kMaxText);
        for (size_t i = 0; i < nLength; ++i) {
            const unsigned char ch = static_cast<unsigned char>(str[i]);
            if (Escaped(ch)) {
                m_line += '%';
                m_line += kHex[ch >> 4];
                m_line += kHex[ch & 15];
            } else {
                m_line += static_cast<char>(ch);
            }
        }
        if (nLength == 0)
            m_line += "%";
    }
    void Field(bool b) { m_line += b ? " 1" : " 0"; }
    void Field(double d) {
        char text[40];
        std::snprintf(text, sizeof text, " %.17g",
                      std::isfinite(d) ? std::min(std::max(d, 0.0), kMaxValue) : 0.0);
        m_line += text;
    }
    template <typename T> std::enable_if_t<std::is_integral<T>::value> Field(T n) {
        m_line += ' ';
        m_line += std::to_string(n);
    }
    template <typename E> void Enum(E e, E) { Field(static_cast<int>(e)); }

private:
    std::string m_line;
};

class CReader {
public:
    explicit CReader(const std::string& str, size_t nAt) : m_str(str), m_nAt(nAt) {}
    bool Ok() const { return m_bOk && m_nAt == m_str.size(); }

    void Field(std::string& str) {
        const std::string token = Token();
        str.clear();
        if (token.empty())
            return Fail();
        if (token == "%")
            return;
        for (size_t i = 0; i < token.size() && m_bOk; ++i) {
            if (token[i] != '%') {
                str += token[i];
                continue;
            }
            const int nHigh = i + 2 < token.size() ? HexDigit(token[i + 1]) : -1;
            const int nLow = nHigh >= 0 ? HexDigit(token[i + 2]) : -1;
            if (nLow < 0 || !Escaped(static_cast<unsigned char>(nHigh * 16 + nLow)))
                m_bOk = false;
            else
                str += static_cast<char>(nHigh * 16 + nLow);
            i += 2;
        }
        if (str.size() > CRebuildResultReader::kMaxText)
            m_bOk = false;
    }
    void Field(bool& b) {
        const std::string token = Token();
        m_bOk = m_bOk && (token == "0" || token == "1");
        b = token == "1";
    }
    void Field(double& d) {
        // Digits, a point and an exponent only: no "nan", "inf" or hexadecimal.
        const std::string token = Token();
        for (char ch : token) {
            if (!((ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '+' || ch == 'e'))
                m_bOk = false;
        }
        if (!m_bOk || token.empty())
            return Fail();
        char* pEnd = nullptr;
        d = std::strtod(token.c_str(), &pEnd);
        if (pEnd != token.c_str() + token.size() || !(d >= 0 && d <= kMaxValue))
            Fail();
    }
    template <typename T> std::enable_if_t<std::is_integral<T>::value> Field(T& n) {
        const std::string token = Token();
        const bool bNegative = !token.empty() && token[0] == '-';
        if (token.size() == size_t(bNegative) || token.size() > 21 ||
            (bNegative && !std::is_signed<T>::value))
            return Fail();
        // Magnitudes up to that of the type's least value, negated at the end.
        const unsigned long long nLimit =
            bNegative ? 0ull - static_cast<unsigned long long>(std::numeric_limits<T>::min())
                      : static_cast<unsigned long long>(std::numeric_limits<T>::max());
        unsigned long long nValue = 0;
        for (size_t i = bNegative ? 1 : 0; i < token.size(); ++i) {
            const unsigned nDigit = static_cast<unsigned>(token[i] - '0');
            if (nDigit > 9 || nValue > (nLimit - nDigit) / 10)
                return Fail();
            nValue = nValue * 10 + nDigit;
        }
        n = bNegative ? static_cast<T>(0ull - nValue) : static_cast<T>(nValue);
    }
    template <typename E> void Enum(E& e, E last) {
        int n = -1;
        Field(n);
        if (n < 0 || n > static_cast<int>(last))
            return Fail();
        e = static_cast<E>(n);
    }

private:
    void Fail() { m_bOk = false; }
    // The next field: one space, then everything up to the next space or the end.
    std::string Token() {
        if (!m_bOk || m_nAt >= m_str.size() || m_str[m_nAt] != ' ') {
            m_bOk = false;
            return std::string();
        }
        const size_t nBegin = m_nAt + 1;
        size_t nEnd = m_str.find(' ', nBegin);
        if (nEnd == std::string::npos)
            nEnd = m_str.size();
        m_nAt = nEnd;
        return m_str.substr(nBegin, nEnd - nBegin);
    }

    const std::string& m_str;
    size_t m_nAt;
    bool m_bOk = true;
};

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
    v.Enum(f.eSource, CFoundSettings::ESource::ParameterSets);
    v.Enum(f.eMissing, CFoundSettings::EMissing::DoesNotFit);
    v.Field(f.nWidth);
    v.Field(f.nHeight);
    v.Field(f.dFrameRate);
    v.Field(f.bFrameRateAssumed);
    v.Field(f.nSampleRate);
    v.Field(f.nChannels);
    v.Field(f.bRateByTime);
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
    CWriter writer(pszRecord);
    fields(writer, value);
    text += writer.Line();
}

// Reads a record's fields into a new element of list, of at most nMax.
template <typename F, typename T>
bool ReadInto(std::vector<T>& list, size_t nMax, CReader& reader, F fields) {
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
    CReader reader(strLine, nSpace);
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
                        [](CReader& v, std::string& s) { v.Field(s); });
    else if (strRecord == "track")
        return ReadInto(r.tracks, kMaxTracks, reader,
                        [](CReader& v, CRebuiltTrack& t) { TrackFields(v, t); });
    else if (strRecord == "track-left-out")
        return ReadInto(r.tracksLeftOut, kMaxTracks, reader,
                        [](CReader& v, CTrackLeftOut& t) { TrackLeftOutFields(v, t); });
    else if (strRecord == "stretch-left-out")
        return ReadInto(r.stretchesLeftOut, kMaxStretches, reader,
                        [](CReader& v, CStretchLeftOut& s) { StretchFields(v, s); });
    else if (strRecord == "play")
        PlayFields(reader, r.play);
    else if (strRecord == "undecoded")
        return ReadInto(r.play.undecoded, kMaxTracks, reader,
                        [](CReader& v, CPlayResult::CUndecoded& u) { UndecodedFields(v, u); });
    else if (strRecord == "damaged")
        return ReadInto(r.play.damaged, kMaxDamagedNamed, reader,
                        [](CReader& v, CDamagedFrame& f) { FrameFields(v, f); });
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
