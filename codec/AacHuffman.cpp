#include "codec/AacHuffman.h"

#include "codec/AacTables.h"

namespace {

CAacCodebooks MakeTables() {
    CAacCodebooks tables;
    std::vector<CCodeword> words;
    for (int i = 0; i < 121; ++i)
        words.push_back(
            CCodeword{kAacScalefactorCodes[i], kAacScalefactorBits[i], uint16_t(i), 0, 0});
    tables.bOk = tables.scalefactor.Build(words);
    for (int b = 0; b < 11; ++b) {
        const CAacSpectralBook& book = kAacSpectralBooks[b];
        // Values per index: a quad is base 3, a pair base (2 lav + 1) or (lav + 1).
        const int nBase = book.nDim == 4 ? 3 : (book.bSigned ? 2 * book.nLav + 1 : book.nLav + 1);
        const int nOffset = book.bSigned ? (book.nDim == 4 ? 1 : book.nLav) : 0;
        words.clear();
        for (int i = 0; i < book.nCount; ++i) {
            int nIndex = i, nSigns = 0;
            uint8_t nEscapes = 0;
            for (int d = book.nDim - 1; d >= 0; --d) {
                const int nValue = nIndex % nBase - nOffset;
                nIndex /= nBase;
                if (!book.bSigned && nValue != 0)
                    ++nSigns;
                if (b + 1 == 11 && nValue == 16) // codebook 11 escapes its 16s
                    nEscapes |= d == 0 ? kEscapeFirst : kEscapeSecond;
            }
            words.push_back(
                CCodeword{book.pCodes[i], book.pBits[i], uint16_t(i), uint8_t(nSigns), nEscapes});
        }
        tables.bOk = tables.spectral[b].Build(words) && tables.bOk;
    }
    return tables;
}

} // namespace

const CAacCodebooks& AacCodebooks() {
    static const CAacCodebooks tables = MakeTables();
    return tables;
}
