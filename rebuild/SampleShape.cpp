#include "rebuild/SampleShape.h"

#include <algorithm>

namespace {

// The modifier boxes a timed text sample may carry after its text.
const uint32_t kTextBoxes[] = {0x7374796C, 0x686C6974, 0x68636C72, 0x6B726F6B, 0x646C6179,
                               0x68726566, 0x74626F78, 0x626C6E6B, 0x74777270};
// Keys and box types learnt from the reference: at most this many.
const size_t kMaxKeys = 64;
// KLV items nest this deep at most.
const int kMaxDepth = 8;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool IsKeyChar(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
}

// Text as a timed text sample holds it: UTF-8 (with tabs and line breaks, no other controls),
// or UTF-16 behind its byte order mark. bCut: the text goes on past these bytes.
bool IsText(const uint8_t* p, size_t n, bool bCut = false) {
    if (n >= 2 && ((p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE)))
        return n % 2 == 0;
    for (size_t i = 0; i < n;) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++i;
            continue;
        }
        const size_t nMore = (c & 0xE0) == 0xC0   ? 1
                             : (c & 0xF0) == 0xE0 ? 2
                             : (c & 0xF8) == 0xF0 ? 3
                                                  : 0;
        if (nMore == 0 || c == 0xC0 || c == 0xC1)
            return false;
        if (n - i <= nMore)
            return bCut;
        for (size_t k = 1; k <= nMore; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += nMore + 1;
    }
    return true;
}

bool IsKlvType(uint8_t c) {
    static const char kTypes[] = "bBcdfFGjJlLqQsSU?";
    return c == 0 ||
           std::find(kTypes, kTypes + sizeof kTypes - 1, char(c)) != kTypes + sizeof kTypes - 1;
}

// The items of a KLV payload of nSize bytes, each whole and well formed.
bool KlvItems(const uint8_t* p, size_t nSize, int nDepth) {
    for (size_t nAt = 0; nAt < nSize;) {
        if (nSize - nAt < 8 || nDepth > kMaxDepth)
            return false;
        const uint8_t* pItem = p + nAt;
        if (!IsKeyChar(pItem[0]) || !IsKeyChar(pItem[1]) || !IsKeyChar(pItem[2]) ||
            !IsKeyChar(pItem[3]) || !IsKlvType(pItem[4]))
            return false;
        const size_t nData = size_t(pItem[5]) * ((size_t(pItem[6]) << 8) | pItem[7]);
        const size_t nPadded = (nData + 3) & ~size_t(3);
        if (nPadded > nSize - nAt - 8)
            return false;
        if (pItem[4] == 0 && !KlvItems(pItem + 8, nData, nDepth + 1))
            return false;
        nAt += 8 + nPadded;
    }
    return true;
}

} // namespace

bool CSampleShape::KnownKey(uint32_t nKey) const {
    return std::find(m_keys.begin(), m_keys.end(), nKey) != m_keys.end();
}

void CSampleShape::Learn(const std::vector<std::vector<uint8_t>>& samples) {
    m_eKind = EKind::None;
    if (samples.size() < 2)
        return;
    for (EKind eKind : {EKind::TimedText, EKind::Klv, EKind::Boxes}) {
        // The keys that begin items: every key of the reference's samples is allowed while
        // learning, then only those.
        m_keys.clear();
        bool bAll = true;
        for (const std::vector<uint8_t>& sample : samples) {
            if (eKind != EKind::TimedText) {
                for (size_t nAt = 0; nAt + 8 <= sample.size() && m_keys.size() < kMaxKeys;) {
                    const uint32_t nKey =
                        Be32(sample.data() + nAt + (eKind == EKind::Boxes ? 4 : 0));
                    if (!KnownKey(nKey))
                        m_keys.push_back(nKey);
                    const size_t nItem =
                        eKind == EKind::Boxes
                            ? Be32(sample.data() + nAt)
                            : 8 + ((size_t(sample[nAt + 5]) *
                                        ((size_t(sample[nAt + 6]) << 8) | sample[nAt + 7]) +
                                    3) &
                                   ~size_t(3));
                    if (nItem < 8)
                        break;
                    nAt += nItem;
                }
            }
            size_t nSize = 0, nNeed = 0;
            if (ParseAs(eKind, sample.data(), sample.size(), true, sample.size(), &nSize, &nNeed) !=
                    ESampleParse::Ok ||
                nSize != sample.size()) {
                bAll = false;
                break;
            }
        }
        if (bAll) {
            m_eKind = eKind;
            return;
        }
    }
    m_keys.clear();
}

ESampleParse CSampleShape::Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                                 size_t* pSize, size_t* pNeed) const {
    return ParseAs(m_eKind, pData, nAvail, bAtEnd, nMaxSize, pSize, pNeed);
}

ESampleParse CSampleShape::ParseAs(EKind eKind, const uint8_t* pData, size_t nAvail, bool bAtEnd,
                                   size_t nMaxSize, size_t* pSize, size_t* pNeed) const {
    // Items one after another: their sizes say where the next begins, and the sample ends
    // before bytes that cannot begin one.
    auto more = [&](size_t nWanted) {
        if (bAtEnd || nWanted > nMaxSize)
            return bAtEnd && nWanted <= nMaxSize ? ESampleParse::Truncated : ESampleParse::Invalid;
        *pNeed = nWanted;
        return ESampleParse::NeedMore;
    };
    size_t nAt = 0;
    switch (eKind) {
    case EKind::None:
        return ESampleParse::Invalid;
    case EKind::TimedText: {
        if (nAvail < 2)
            return more(2);
        const size_t nText = (size_t(pData[0]) << 8) | pData[1];
        if (2 + nText > nMaxSize)
            return ESampleParse::Invalid;
        // What text there is must be text before more is read for it.
        if (2 + nText > nAvail)
            return IsText(pData + 2, nAvail - 2, true) ? more(2 + nText) : ESampleParse::Invalid;
        if (!IsText(pData + 2, nText))
            return ESampleParse::Invalid;
        nAt = 2 + nText;
        for (;;) {
            if (nAvail - nAt < 8) {
                if (!bAtEnd && nAt + 8 <= nMaxSize)
                    return more(nAt + 8);
                break;
            }
            const uint32_t nBox = Be32(pData + nAt);
            const uint32_t nType = Be32(pData + nAt + 4);
            if (std::find(std::begin(kTextBoxes), std::end(kTextBoxes), nType) ==
                    std::end(kTextBoxes) ||
                nBox < 8 || nBox > nMaxSize - nAt)
                break;
            if (nBox > nAvail - nAt)
                return more(nAt + nBox);
            nAt += nBox;
        }
        break;
    }
    case EKind::Klv:
    case EKind::Boxes:
        for (;;) {
            if (nAvail - nAt < 8) {
                if (!bAtEnd && nAt + 8 <= nMaxSize)
                    return more(nAt + 8);
                break;
            }
            const uint8_t* pItem = pData + nAt;
            const bool bKlv = eKind == EKind::Klv;
            const uint32_t nKey = Be32(pItem + (bKlv ? 0 : 4));
            if (!KnownKey(nKey))
                break;
            size_t nItem = 0;
            if (bKlv) {
                if (!IsKlvType(pItem[4]))
                    break;
                nItem = 8 + ((size_t(pItem[5]) * ((size_t(pItem[6]) << 8) | pItem[7]) + 3) &
                             ~size_t(3));
            } else {
                nItem = Be32(pItem);
                if (nItem < 8)
                    break;
            }
            if (nItem > nMaxSize - nAt)
                break;
            if (nItem > nAvail - nAt)
                return more(nAt + nItem);
            if (bKlv && pItem[4] == 0 && !KlvItems(pItem + 8, nItem - 8, 1))
                break;
            nAt += nItem;
        }
        if (nAt == 0)
            return ESampleParse::Invalid;
        break;
    }
    *pSize = nAt;
    return ESampleParse::Ok;
}
