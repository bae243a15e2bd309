// AAC's Huffman codebooks (the scalefactor book and spectrum books 1 to 11) as lookup tables,
// built once from the data of AacTables. Portable.
#pragma once

#include "codec/AacBitReader.h"

#include <cstdint>
#include <vector>

// A Huffman codebook as lookup tables: the first kRootBits of a codeword index the root; a
// longer codeword's root entry points to a second table for the bits that follow.
struct CHuffEntry {
    uint16_t nValue; // the codeword's index; for a link, where its second table starts
    uint8_t nBits;   // codeword length with the sign bits after it; 0: a link, or no codeword
    uint8_t nExtra;  // spectral codebooks: escapes; for a link, the second table's width
};

struct CCodeword {
    uint32_t nCode;
    uint8_t nBits;
    uint16_t nValue;
    uint8_t nSigns; // sign bits that follow it
    uint8_t nExtra;
};

class CHuffTable {
public:
    static const int kRootBits = 9;

    // False if two codewords overlap (the table data would be wrong).
    bool Build(const std::vector<CCodeword>& words) {
        m_entries.assign(1u << kRootBits, CHuffEntry{0, 0, 0});
        int aWidth[1 << kRootBits] = {};
        for (const CCodeword& w : words) {
            if (w.nBits > kRootBits) {
                const uint32_t nPrefix = w.nCode >> (w.nBits - kRootBits);
                if (w.nBits - kRootBits > aWidth[nPrefix])
                    aWidth[nPrefix] = w.nBits - kRootBits;
            }
        }
        for (uint32_t p = 0; p < (1u << kRootBits); ++p) {
            if (aWidth[p] != 0) {
                m_entries[p] = CHuffEntry{uint16_t(m_entries.size()), 0, uint8_t(aWidth[p])};
                m_entries.resize(m_entries.size() + (size_t(1) << aWidth[p]), CHuffEntry{0, 0, 0});
            }
        }
        if (m_entries.size() > 0xFFFF)
            return false;
        for (const CCodeword& w : words) {
            size_t nFirst, nCount;
            if (w.nBits <= kRootBits) {
                nFirst = size_t(w.nCode) << (kRootBits - w.nBits);
                nCount = size_t(1) << (kRootBits - w.nBits);
            } else {
                const int nRest = w.nBits - kRootBits;
                const uint32_t nPrefix = w.nCode >> nRest;
                const int nWidth = aWidth[nPrefix];
                nFirst = m_entries[nPrefix].nValue +
                         (size_t(w.nCode & ((1u << nRest) - 1)) << (nWidth - nRest));
                nCount = size_t(1) << (nWidth - nRest);
            }
            // A filled entry (or a link) here means one codeword prefixes another.
            for (size_t i = nFirst; i < nFirst + nCount; ++i) {
                if (m_entries[i].nBits != 0 || m_entries[i].nExtra != 0)
                    return false;
                m_entries[i] = CHuffEntry{w.nValue, uint8_t(w.nBits + w.nSigns), w.nExtra};
            }
        }
        return true;
    }

    // The codeword at the reader, consumed with its sign bits; nullptr when no codeword starts
    // with these bits.
    AAC_ALWAYS_INLINE const CHuffEntry* Decode(CBitReader& bits) const {
        const uint32_t nPeek = bits.Peek32();
        const CHuffEntry* pEntries = m_entries.data();
        const CHuffEntry* p = &pEntries[nPeek >> (32 - kRootBits)];
        if (p->nBits == 0) {
            if (p->nExtra == 0)
                return nullptr;
            p = &pEntries[p->nValue + ((nPeek << kRootBits) >> (32 - p->nExtra))];
            if (p->nBits == 0)
                return nullptr;
        }
        bits.Consume(p->nBits);
        return p;
    }

private:
    std::vector<CHuffEntry> m_entries;
};

// nExtra of a spectral codeword: which of its values escape.
const uint8_t kEscapeFirst = 1;
const uint8_t kEscapeSecond = 2;

struct CAacCodebooks {
    CHuffTable scalefactor;
    CHuffTable spectral[11];
    bool bOk = true;
};

// The tables, built on first use; bOk is false if the table data were wrong.
const CAacCodebooks& AacCodebooks();
