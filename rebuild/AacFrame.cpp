#include "rebuild/AacFrame.h"

#include "rebuild/AacTables.h"

#include <cstring>
#include <vector>

namespace {

// Section codebooks (sect_cb).
const int kZeroHcb = 0;
const int kEscHcb = 11;
const int kReservedHcb = 12;
const int kNoiseHcb = 13;
const int kIntensityHcb2 = 14;
const int kIntensityHcb = 15;

// window_sequence.
const int kOnlyLong = 0;
const int kLongStart = 1;
const int kEightShort = 2;
const int kLongStop = 3;

// extension_type of a fill element's payloads.
const int kExtFill = 0;
const int kExtFillData = 1;
const int kExtDataElement = 2;
const int kExtDynamicRange = 11;
const int kExtSacData = 12;
const int kExtSbrData = 13;
const int kExtSbrDataCrc = 14;

const int kMaxBands = 64;                       // per window group; 51 at most are used
const int kLcTnsMaxOrderLong = 12;              // short windows: 7, all the 3-bit field can hold
const size_t kBufferBytesPerChannel = 6144 / 8; // decoder input buffer per considered channel

uint64_t LoadBigEndian64(const uint8_t* p) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t nWord;
    std::memcpy(&nWord, p, 8);
    return __builtin_bswap64(nWord);
#else
    return (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
           (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
           (uint64_t(p[6]) << 8) | uint64_t(p[7]);
#endif
}

#if defined(__GNUC__)
#define AAC_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define AAC_ALWAYS_INLINE inline
#endif

// Reads bits MSB first through a 64-bit cache; past the end it reads zeros and remembers it
// went there, so that a parse that ran out of data can be told from one that found something
// wrong.
class CBitReader {
public:
    CBitReader(const uint8_t* pData, size_t nBytes)
        : m_pData(pData), m_nBytes(nBytes), m_nEndBits(uint64_t(nBytes) * 8) {
        Refill();
    }

    // At least 32 bits in the cache.
    AAC_ALWAYS_INLINE void Fill() {
        if (m_nCacheBits < 32)
            Refill();
    }
    AAC_ALWAYS_INLINE uint32_t Peek32() {
        Fill();
        return uint32_t(m_nCache >> 32);
    }
    // After Fill or Peek32: up to 32 bits.
    AAC_ALWAYS_INLINE void Consume(int nBits) {
        m_nCache <<= nBits;
        m_nCacheBits -= nBits;
    }
    // 1 to 32 bits.
    uint32_t Read(int nBits) {
        const uint32_t nValue = Peek32() >> (32 - nBits);
        Consume(nBits);
        return nValue;
    }
    bool ReadFlag() { return Read(1) != 0; }
    void Skip(uint64_t nBits) {
        if (nBits <= 32) {
            Fill();
            Consume(int(nBits));
        } else {
            Restart(Position() + nBits);
        }
    }
    void Align() { Skip((8 - (Position() & 7)) & 7); }
    // Whole bytes loaded, less the bits still cached.
    uint64_t Position() const { return uint64_t(m_nNextByte) * 8 - uint64_t(m_nCacheBits); }
    bool Past() const { return Position() > m_nEndBits; }

private:
    // Tops the cache up to at least 57 bits; called with fewer than 32 in it. A whole word is
    // loaded: the bits under its last whole byte are the data's own and are loaded again,
    // unchanged, by the next refill.
    void Refill() {
        const uint64_t nWord = m_nNextByte + 8 <= m_nBytes
                                   ? LoadBigEndian64(m_pData + m_nNextByte)
                                   : LoadNearEnd(m_pData, m_nBytes, m_nNextByte);
        m_nCache |= nWord >> m_nCacheBits;
        const int nTake = (64 - m_nCacheBits) >> 3;
        m_nNextByte += size_t(nTake);
        m_nCacheBits += 8 * nTake;
    }
    // Taking and giving values only, so that a reader copied into a local stays in registers.
    static uint64_t LoadNearEnd(const uint8_t* pData, size_t nBytes, size_t nAt);
    // After a long skip: the cache starts again at the byte of the new position.
    void Restart(uint64_t nPosition) {
        m_nNextByte = size_t(nPosition >> 3);
        m_nCache = 0;
        m_nCacheBits = 0;
        Refill();
        Consume(int(nPosition & 7));
    }

    const uint8_t* m_pData;
    size_t m_nBytes;
    uint64_t m_nEndBits;
    size_t m_nNextByte = 0; // the next byte to load into the cache (past the end: zeros)
    uint64_t m_nCache = 0;  // the next bits, first bit highest
    int m_nCacheBits = 0;
};

uint64_t CBitReader::LoadNearEnd(const uint8_t* pData, size_t nBytes, size_t nAt) {
    uint64_t nWord = 0;
    for (size_t i = 0; i < 8 && nAt < nBytes && i < nBytes - nAt; ++i)
        nWord |= uint64_t(pData[nAt + i]) << (56 - 8 * i);
    return nWord;
}

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

struct CTables {
    CHuffTable scalefactor;
    CHuffTable spectral[11];
    bool bOk = true;
};

CTables MakeTables() {
    CTables tables;
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
                if (b + 1 == kEscHcb && nValue == 16)
                    nEscapes |= d == 0 ? kEscapeFirst : kEscapeSecond;
            }
            words.push_back(
                CCodeword{book.pCodes[i], book.pBits[i], uint16_t(i), uint8_t(nSigns), nEscapes});
        }
        tables.bOk = tables.spectral[b].Build(words) && tables.bOk;
    }
    return tables;
}

const CTables& Tables() {
    static const CTables tables = MakeTables();
    return tables;
}

int ConsideredChannels(const CAacElement& element) {
    switch (element.type) {
    case EAacElementType::Sce:
        return 1;
    case EAacElementType::Cpe:
        return 2;
    case EAacElementType::Cce:
        return element.bIndependentCce ? 1 : 0;
    default:
        return 0; // LFE channels have no share of the buffer
    }
}

// The elements of channel configurations 1 to 7, in the order they come in a frame.
const EAacElementType kS = EAacElementType::Sce;
const EAacElementType kC = EAacElementType::Cpe;
const EAacElementType kL = EAacElementType::Lfe;
struct CImplicitLayout {
    int nCount;
    EAacElementType aTypes[5];
};
const CImplicitLayout kImplicitLayouts[8] = {
    {0, {}},
    {1, {kS}},
    {1, {kC}},
    {2, {kS, kC}},
    {3, {kS, kC, kS}},
    {3, {kS, kC, kC}},
    {4, {kS, kC, kC, kL}},
    {5, {kS, kC, kC, kC, kL}},
};

// program_config_element, from its tag on. Its byte alignment is relative to the start of the
// reader (the frame, or the AudioSpecificConfig).
bool ReadProgramConfig(CBitReader& bits, CAacProgram* pProgram, int* pProfile, int* pRateIndex) {
    bits.Read(4); // element_instance_tag
    *pProfile = int(bits.Read(2));
    *pRateIndex = int(bits.Read(4));
    const int nFront = int(bits.Read(4));
    const int nSide = int(bits.Read(4));
    const int nBack = int(bits.Read(4));
    const int nLfe = int(bits.Read(2));
    const int nAssocData = int(bits.Read(3));
    const int nCoupling = int(bits.Read(4));
    if (bits.ReadFlag())
        bits.Read(4); // mono_mixdown_element_number
    if (bits.ReadFlag())
        bits.Read(4); // stereo_mixdown_element_number
    if (bits.ReadFlag())
        bits.Read(3); // matrix_mixdown_idx, pseudo_surround_enable
    CAacProgram& program = *pProgram;
    program.nElements = 0;
    for (int i = 0; i < nFront + nSide + nBack; ++i) {
        CAacElement& element = program.aElements[program.nElements++];
        element.type = bits.ReadFlag() ? EAacElementType::Cpe : EAacElementType::Sce;
        element.nTag = uint8_t(bits.Read(4));
        element.bIndependentCce = false;
    }
    for (int i = 0; i < nLfe; ++i) {
        CAacElement& element = program.aElements[program.nElements++];
        element.type = EAacElementType::Lfe;
        element.nTag = uint8_t(bits.Read(4));
        element.bIndependentCce = false;
    }
    bits.Skip(4 * uint64_t(nAssocData)); // assoc_data_element_tag_select
    for (int i = 0; i < nCoupling; ++i) {
        CAacElement& element = program.aElements[program.nElements++];
        element.type = EAacElementType::Cce;
        element.bIndependentCce = bits.ReadFlag();
        element.nTag = uint8_t(bits.Read(4));
    }
    bits.Align();
    bits.Skip(8 * uint64_t(bits.Read(8))); // comment_field_data
    // Each element of a frame has a tag of its own within its type, so a program naming one
    // twice could never be met.
    int nChannels = 0;
    for (int i = 0; i < program.nElements; ++i) {
        nChannels += program.aElements[i].type == EAacElementType::Cce ? 0 : 1;
        for (int j = 0; j < i; ++j) {
            if (program.aElements[j].type == program.aElements[i].type &&
                program.aElements[j].nTag == program.aElements[i].nTag)
                return false;
        }
    }
    return nChannels > 0 && !bits.Past();
}

bool SameProgram(const CAacProgram& a, const CAacProgram& b) {
    if (a.nElements != b.nElements)
        return false;
    for (int i = 0; i < a.nElements; ++i) {
        if (!(a.aElements[i] == b.aElements[i]))
            return false;
    }
    return true;
}

struct CIcsInfo {
    int nWindowSequence = kOnlyLong;
    int nMaxSfb = 0;
    int nGroups = 1;
    int aGroupLength[8] = {1};
    const uint16_t* pSwbOffset = nullptr;
    int nNumSwb = 0;
};

// Which channel an individual channel stream codes; intensity stereo is coded in the second
// channel of a pair only, and an LFE has long windows only.
enum class ERole { Single, Left, Right, Lfe, Coupling };

class CFrameParser {
public:
    CFrameParser(const CAacConfig& config, const CTables& tables, CBitReader& bits,
                 CAacFrameInfo* pInfo)
        : m_config(config), m_tables(tables), m_bits(bits), m_info(*pInfo) {}

    // False when the frame breaks a rule (or the reader ran past the data on its way).
    bool Parse();

private:
    bool Admit(EAacElementType type, int nTag);
    bool ChannelElement(EAacElementType type);
    bool IcsInfo(CIcsInfo* pIcs);
    bool Ics(bool bCommonWindow, CIcsInfo& ics, ERole role);
    bool SectionData(const CIcsInfo& ics, ERole role);
    bool ScaleFactorData(const CIcsInfo& ics, int nGlobalGain);
    bool PulseData(const CIcsInfo& ics);
    bool TnsData(const CIcsInfo& ics);
    bool SpectralData(const CIcsInfo& ics);
    bool CouplingGains(bool bIndependent, int nGainLists, const CIcsInfo& ics);
    bool DataStreamElement();
    bool FillElement();
    bool DynamicRangeInfo(int nCount, int* pBytes);
    bool ProgramConfigElement();
    // A failure found with a local copy of the reader: where it stopped tells whether the
    // data ran out first.
    bool Stop(const CBitReader& bits) {
        m_bits = bits;
        return false;
    }
    // The next scalefactor codeword's difference, -60 to 60, or kNoCodeword.
    int ScalefactorDelta() { return ScalefactorDelta(m_bits); }
    AAC_ALWAYS_INLINE int ScalefactorDelta(CBitReader& bits) const {
        const CHuffEntry* pEntry = m_tables.scalefactor.Decode(bits);
        return pEntry ? int(pEntry->nValue) - 60 : kNoCodeword;
    }
    bool AddStream(int nWindowSequence);

    static const int kNoCodeword = 1000;

    const CAacConfig& m_config;
    const CTables& m_tables;
    CBitReader& m_bits;
    CAacFrameInfo& m_info;

    int m_nExpected = 0; // channel configuration: index of the next element due
    bool m_abSeen[CAacProgram::kMaxElements] = {}; // program: elements already met
    uint16_t m_anTagsUsed[4] = {};                 // per channel element type, tags already met
    bool m_bOnlyPces = true;                       // nothing but program config elements so far
    EAacElementType m_lastType = EAacElementType::End;
    bool m_bSbrAfterLast = false;
    bool m_bSbrMissing = false;
    uint8_t m_aBandCb[8 * kMaxBands]; // section codebook of each group's bands, last stream
};

bool CFrameParser::AddStream(int nWindowSequence) {
    if (m_info.nStreams == CAacFrameInfo::kMaxStreams)
        return false;
    m_info.aWindowSequence[m_info.nStreams++] = uint8_t(nWindowSequence);
    if (nWindowSequence == kEightShort)
        m_info.nTools |= kAacToolShortWindow;
    else if (nWindowSequence != kOnlyLong)
        m_info.nTools |= kAacToolStartStop;
    return true;
}

// Whether a channel element of this type and tag belongs in the frame here: the channel
// configuration fixes the elements and their order, a program the elements and their tags.
bool CFrameParser::Admit(EAacElementType type, int nTag) {
    const int nType = int(type);
    if (m_anTagsUsed[nType] & (1u << nTag))
        return false; // tags are unique within a type in a frame
    m_anTagsUsed[nType] = uint16_t(m_anTagsUsed[nType] | (1u << nTag));
    if (m_info.nElements == CAacProgram::kMaxElements)
        return false;
    CAacElement& element = m_info.aElements[m_info.nElements++];
    element.type = type;
    element.nTag = uint8_t(nTag);
    element.bIndependentCce = false;
    if (m_config.nChannelConfig != 0) {
        const CImplicitLayout& layout = kImplicitLayouts[m_config.nChannelConfig];
        return m_nExpected < layout.nCount && layout.aTypes[m_nExpected++] == type;
    }
    const CAacProgram& program = m_config.program;
    for (int i = 0; i < program.nElements; ++i) {
        if (program.aElements[i].type == type && program.aElements[i].nTag == nTag) {
            m_abSeen[i] = true;
            return true;
        }
    }
    return false;
}

bool CFrameParser::Parse() {
    for (;;) {
        if (m_bits.Past())
            return false;
        const EAacElementType type = EAacElementType(m_bits.Read(3));
        switch (type) {
        case EAacElementType::Sce:
        case EAacElementType::Cpe:
        case EAacElementType::Cce:
        case EAacElementType::Lfe:
            // SBR data follows each channel element it extends, when signalled explicitly.
            if (m_bSbrMissing)
                return false;
            if (!ChannelElement(type))
                return false;
            m_bSbrMissing = (m_config.nObjectType == 5 || m_config.nObjectType == 29) &&
                            (type == EAacElementType::Sce || type == EAacElementType::Cpe);
            m_bSbrAfterLast = false;
            break;
        case EAacElementType::Dse:
            if (!DataStreamElement())
                return false;
            break;
        case EAacElementType::Pce:
            // Program config elements come before all other elements.
            if (!m_bOnlyPces || !ProgramConfigElement())
                return false;
            break;
        case EAacElementType::Fil:
            if (!FillElement())
                return false;
            break;
        case EAacElementType::End: {
            if (m_bSbrMissing)
                return false;
            // Every channel element of the layout, each once (coupling channels may rest).
            if (m_config.nChannelConfig != 0)
                return m_nExpected == kImplicitLayouts[m_config.nChannelConfig].nCount;
            for (int i = 0; i < m_config.program.nElements; ++i) {
                if (!m_abSeen[i] && m_config.program.aElements[i].type != EAacElementType::Cce)
                    return false;
            }
            return true;
        }
        }
        if (type != EAacElementType::Pce)
            m_bOnlyPces = false;
        if (type != EAacElementType::Fil)
            m_lastType = type;
    }
}

bool CFrameParser::ChannelElement(EAacElementType type) {
    const int nTag = int(m_bits.Read(4));
    if (!Admit(type, nTag))
        return false;
    CIcsInfo ics[2];
    switch (type) {
    case EAacElementType::Sce:
        return Ics(false, ics[0], ERole::Single);
    case EAacElementType::Lfe:
        return Ics(false, ics[0], ERole::Lfe);
    case EAacElementType::Cpe: {
        const bool bCommonWindow = m_bits.ReadFlag();
        if (bCommonWindow) {
            m_info.nTools |= kAacToolCommonWindow;
            if (!IcsInfo(&ics[0]))
                return false;
            ics[1] = ics[0];
            const int nMsMaskPresent = int(m_bits.Read(2));
            if (nMsMaskPresent == 3)
                return false; // reserved
            if (nMsMaskPresent != 0)
                m_info.nTools |= kAacToolMidSide;
            if (nMsMaskPresent == 1)
                m_bits.Skip(uint64_t(ics[0].nGroups) * ics[0].nMaxSfb); // ms_used
        }
        return Ics(bCommonWindow, ics[0], ERole::Left) && Ics(bCommonWindow, ics[1], ERole::Right);
    }
    default:
        break;
    }
    // Coupling channel element.
    m_info.nTools |= kAacToolCoupling;
    const bool bIndependent = m_bits.ReadFlag(); // ind_sw_cce_flag
    const CAacProgram& program = m_config.program;
    for (int i = 0; i < program.nElements; ++i) {
        if (program.aElements[i].type == type && program.aElements[i].nTag == nTag &&
            program.aElements[i].bIndependentCce != bIndependent)
            return false; // switched otherwise than the program says
    }
    m_info.aElements[m_info.nElements - 1].bIndependentCce = bIndependent;
    const int nCoupled = int(m_bits.Read(3)) + 1;
    int nGainLists = 0;
    for (int c = 0; c < nCoupled; ++c) {
        ++nGainLists;
        const EAacElementType target =
            m_bits.ReadFlag() ? EAacElementType::Cpe : EAacElementType::Sce;
        const int nTargetTag = int(m_bits.Read(4));
        bool bKnown = false; // it must couple into a channel element of the program
        for (int i = 0; i < program.nElements; ++i)
            bKnown = bKnown || (program.aElements[i].type == target &&
                                program.aElements[i].nTag == nTargetTag);
        if (!bKnown)
            return false;
        if (target == EAacElementType::Cpe) {
            const int nLr = int(m_bits.Read(2)); // cc_l, cc_r
            if (nLr == 3)
                ++nGainLists;
        }
    }
    m_bits.Read(4); // cc_domain, gain_element_sign, gain_element_scale
    return Ics(false, ics[0], ERole::Coupling) && CouplingGains(bIndependent, nGainLists, ics[0]);
}

bool CFrameParser::CouplingGains(bool bIndependent, int nGainLists, const CIcsInfo& ics) {
    for (int c = 1; c < nGainLists; ++c) {
        const bool bCommonGain = bIndependent || m_bits.ReadFlag();
        if (bCommonGain) {
            if (ScalefactorDelta() == kNoCodeword)
                return false;
            continue;
        }
        for (int g = 0; g < ics.nGroups; ++g) {
            for (int sfb = 0; sfb < ics.nMaxSfb; ++sfb) {
                if (m_aBandCb[g * kMaxBands + sfb] != kZeroHcb && ScalefactorDelta() == kNoCodeword)
                    return false;
            }
        }
    }
    return true;
}

bool CFrameParser::IcsInfo(CIcsInfo* pIcs) {
    if (m_bits.ReadFlag())
        return false; // ics_reserved_bit
    pIcs->nWindowSequence = int(m_bits.Read(2));
    m_bits.Read(1); // window_shape: either is allowed after any other
    const int nRate = m_config.nSampleRateIndex;
    if (pIcs->nWindowSequence == kEightShort) {
        pIcs->nMaxSfb = int(m_bits.Read(4));
        const uint32_t nGrouping = m_bits.Read(7);
        pIcs->nGroups = 1;
        pIcs->aGroupLength[0] = 1;
        for (int i = 6; i >= 0; --i) {
            if (nGrouping & (1u << i))
                ++pIcs->aGroupLength[pIcs->nGroups - 1];
            else
                pIcs->aGroupLength[pIcs->nGroups++] = 1;
        }
        pIcs->pSwbOffset = kAacSwbOffsetShort[nRate];
        pIcs->nNumSwb = kAacNumSwbShort[nRate];
    } else {
        pIcs->nMaxSfb = int(m_bits.Read(6));
        // Prediction (Main) and long term prediction (LTP) are not tools of AAC LC.
        if (m_bits.ReadFlag())
            return false;
        pIcs->nGroups = 1;
        pIcs->aGroupLength[0] = 1;
        pIcs->pSwbOffset = kAacSwbOffsetLong[nRate];
        pIcs->nNumSwb = kAacNumSwbLong[nRate];
    }
    return pIcs->nMaxSfb <= pIcs->nNumSwb;
}

bool CFrameParser::Ics(bool bCommonWindow, CIcsInfo& ics, ERole role) {
    const int nGlobalGain = int(m_bits.Read(8));
    if (!bCommonWindow && !IcsInfo(&ics))
        return false;
    if (role == ERole::Lfe && ics.nWindowSequence != kOnlyLong)
        return false;
    if (!AddStream(ics.nWindowSequence))
        return false;
    if (!SectionData(ics, role) || !ScaleFactorData(ics, nGlobalGain))
        return false;
    if (m_bits.ReadFlag() && !PulseData(ics))
        return false;
    if (m_bits.ReadFlag() && !TnsData(ics))
        return false;
    // Gain control belongs to AAC SSR only.
    if (m_bits.ReadFlag())
        return false;
    return SpectralData(ics);
}

bool CFrameParser::SectionData(const CIcsInfo& ics, ERole role) {
    const int nLengthBits = ics.nWindowSequence == kEightShort ? 3 : 5;
    const uint32_t nEscape = (1u << nLengthBits) - 1;
    for (int g = 0; g < ics.nGroups; ++g) {
        uint8_t* pCb = m_aBandCb + g * kMaxBands;
        int k = 0;
        while (k < ics.nMaxSfb) {
            const int nCb = int(m_bits.Read(4));
            if (nCb == kReservedHcb)
                return false;
            if (nCb == kIntensityHcb || nCb == kIntensityHcb2) {
                if (role != ERole::Right)
                    return false; // intensity positions only make sense for a pair's second channel
                m_info.nTools |= kAacToolIntensity;
            } else if (nCb == kNoiseHcb) {
                m_info.nTools |= kAacToolNoise;
            }
            int nLength = 0;
            uint32_t nIncrement;
            do {
                nIncrement = m_bits.Read(nLengthBits);
                nLength += int(nIncrement);
                if (k + nLength > ics.nMaxSfb)
                    return false;
            } while (nIncrement == nEscape);
            // A section of no bands: no encoder writes one, and zero bits would otherwise
            // loop here until the data ends.
            if (nLength == 0)
                return false;
            for (int i = 0; i < nLength; ++i)
                pCb[k + i] = uint8_t(nCb);
            k += nLength;
        }
    }
    return true;
}

bool CFrameParser::ScaleFactorData(const CIcsInfo& ics, int nGlobalGain) {
    CBitReader bits = m_bits;
    int nScalefactor = nGlobalGain;
    int nPosition = 0;
    int nNoiseEnergy = nGlobalGain - 90;
    bool bFirstNoise = true;
    for (int g = 0; g < ics.nGroups; ++g) {
        const uint8_t* pCb = m_aBandCb + g * kMaxBands;
        for (int sfb = 0; sfb < ics.nMaxSfb; ++sfb) {
            const int nCb = pCb[sfb];
            if (nCb == kZeroHcb)
                continue;
            if (nCb == kNoiseHcb && bFirstNoise) {
                // The first noise energy is sent as a 9-bit offset, not a codeword.
                bFirstNoise = false;
                nNoiseEnergy += int(bits.Read(9)) - 256;
            } else {
                const int nDelta = ScalefactorDelta(bits);
                if (nDelta == kNoCodeword)
                    return Stop(bits);
                if (nCb == kIntensityHcb || nCb == kIntensityHcb2)
                    nPosition += nDelta;
                else if (nCb == kNoiseHcb)
                    nNoiseEnergy += nDelta;
                else
                    nScalefactor += nDelta;
            }
            // Scalefactors are 8-bit values. Intensity positions and noise energies have no
            // stated bound; these are the ranges decoders represent, which nothing real leaves.
            if (nScalefactor < 0 || nScalefactor > 255 || nPosition < -155 || nPosition > 100 ||
                nNoiseEnergy < -100 || nNoiseEnergy > 155)
                return Stop(bits);
        }
    }
    m_bits = bits;
    return true;
}

bool CFrameParser::PulseData(const CIcsInfo& ics) {
    m_info.nTools |= kAacToolPulse;
    if (ics.nWindowSequence == kEightShort)
        return false; // pulses are for long windows only
    const int nPulses = int(m_bits.Read(2)) + 1;
    const int nStartSfb = int(m_bits.Read(6));
    if (nStartSfb >= ics.nNumSwb)
        return false;
    int nLine = ics.pSwbOffset[nStartSfb];
    for (int i = 0; i < nPulses; ++i) {
        nLine += int(m_bits.Read(5)); // pulse_offset
        m_bits.Read(4);               // pulse_amp
        if (nLine >= ics.pSwbOffset[ics.nNumSwb])
            return false; // a pulse past the window's last line
    }
    return true;
}

bool CFrameParser::TnsData(const CIcsInfo& ics) {
    m_info.nTools |= kAacToolTns;
    const bool bShort = ics.nWindowSequence == kEightShort;
    const int nWindows = bShort ? 8 : 1;
    const int nMaxOrder = bShort ? 7 : kLcTnsMaxOrderLong;
    for (int w = 0; w < nWindows; ++w) {
        const int nFilters = int(m_bits.Read(bShort ? 1 : 2));
        if (nFilters == 0)
            continue;
        const int nCoefRes = int(m_bits.Read(1));
        for (int f = 0; f < nFilters; ++f) {
            m_bits.Read(bShort ? 4 : 6); // length
            const int nOrder = int(m_bits.Read(bShort ? 3 : 5));
            if (nOrder > nMaxOrder)
                return false;
            if (nOrder == 0)
                continue;
            m_bits.Read(1); // direction
            const int nCompress = int(m_bits.Read(1));
            m_bits.Skip(uint64_t(nOrder) * (3 + nCoefRes - nCompress));
        }
    }
    return true;
}

bool CFrameParser::SpectralData(const CIcsInfo& ics) {
    // The hot loop: a local copy of the reader can live in registers.
    CBitReader bits = m_bits;
    bool bEscapes = false;
    for (int g = 0; g < ics.nGroups; ++g) {
        const uint8_t* pCb = m_aBandCb + g * kMaxBands;
        for (int sfb = 0; sfb < ics.nMaxSfb; ++sfb) {
            const int nCb = pCb[sfb];
            if (nCb == kZeroHcb || nCb > kEscHcb)
                continue; // nothing coded: silent, noise or intensity bands
            const CHuffTable& table = m_tables.spectral[nCb - 1];
            const int nDim = kAacSpectralBooks[nCb - 1].nDim;
            const int nLines =
                ics.aGroupLength[g] * (ics.pSwbOffset[sfb + 1] - ics.pSwbOffset[sfb]);
            for (int i = 0; i < nLines; i += nDim) {
                const CHuffEntry* pEntry = table.Decode(bits);
                if (!pEntry)
                    return Stop(bits);
                for (uint8_t nEscape = pEntry->nExtra; nEscape != 0;
                     nEscape &= uint8_t(nEscape - 1)) {
                    // escape_sequence: N ones, a zero, then N + 4 bits; values stop at 8191.
                    bEscapes = true;
                    uint32_t nPeek = bits.Peek32();
                    int nOnes = 0;
                    while (nPeek & 0x80000000u) {
                        if (++nOnes > 8)
                            return Stop(bits);
                        nPeek <<= 1;
                    }
                    bits.Consume(2 * nOnes + 5);
                }
            }
            if (bits.Past())
                return Stop(bits);
        }
    }
    m_bits = bits;
    if (bEscapes)
        m_info.nTools |= kAacToolEscape;
    return true;
}

bool CFrameParser::DataStreamElement() {
    m_info.nTools |= kAacToolDataStream;
    m_bits.Read(4); // element_instance_tag: a data stream may span several elements
    const bool bAlign = m_bits.ReadFlag();
    uint32_t nCount = m_bits.Read(8);
    if (nCount == 255)
        nCount += m_bits.Read(8);
    if (bAlign)
        m_bits.Align();
    m_bits.Skip(8 * uint64_t(nCount));
    return true;
}

bool CFrameParser::DynamicRangeInfo(int nCount, int* pBytes) {
    m_info.nTools |= kAacToolDynamicRange;
    int nBytes = 1;
    int nBands = 1;
    if (m_bits.ReadFlag()) { // pce_tag_present
        m_bits.Read(8);
        ++nBytes;
    }
    if (m_bits.ReadFlag()) { // excluded_chns_present
        do {
            m_bits.Read(7); // exclude_mask
            ++nBytes;
        } while (m_bits.ReadFlag() && nBytes <= nCount); // additional_excluded_chns
    }
    if (m_bits.ReadFlag()) { // drc_bands_present
        nBands += int(m_bits.Read(4));
        m_bits.Read(4); // drc_interpolation_scheme
        ++nBytes;
        m_bits.Skip(8 * uint64_t(nBands)); // drc_band_top
        nBytes += nBands;
    }
    if (m_bits.ReadFlag()) { // prog_ref_level_present
        m_bits.Read(8);
        ++nBytes;
    }
    m_bits.Skip(8 * uint64_t(nBands)); // dyn_rng_sgn, dyn_rng_ctl
    nBytes += nBands;
    *pBytes = nBytes;
    return true;
}

bool CFrameParser::FillElement() {
    m_info.nTools |= kAacToolFill;
    int nCount = int(m_bits.Read(4));
    if (nCount == 15)
        nCount += int(m_bits.Read(8)) - 1;
    while (nCount > 0) {
        const int nType = int(m_bits.Read(4));
        int nUsed = nCount; // most payloads fill the rest of the element
        switch (nType) {
        case kExtFill:
            m_bits.Skip(8 * uint64_t(nCount) - 4); // other_bits, any value
            break;
        case kExtFillData:
            if (m_bits.Read(4) != 0)
                return false; // fill_nibble must be 0000
            for (int i = 0; i < nCount - 1; ++i) {
                if (m_bits.Read(8) != 0xA5)
                    return false; // fill_byte must be 10100101
            }
            break;
        case kExtDataElement:
            if (m_bits.Read(4) != 0)
                return false; // data_element_version: only ANC_DATA is defined
            {
                int nLength = 0, nLoops = 0;
                uint32_t nPart;
                do {
                    nPart = m_bits.Read(8);
                    nLength += int(nPart);
                    ++nLoops;
                } while (nPart == 255 && nLoops <= nCount);
                nUsed = nLength + nLoops + 1;
                if (nUsed > nCount)
                    return false; // decided before its bytes, which may not be there
                m_bits.Skip(8 * uint64_t(nLength));
            }
            break;
        case kExtDynamicRange:
            if (!DynamicRangeInfo(nCount, &nUsed))
                return false;
            break;
        case kExtSacData:
            m_bits.Skip(8 * uint64_t(nCount) - 4);
            break;
        case kExtSbrData:
        case kExtSbrDataCrc:
            // SBR data directly follows the SCE or CPE it extends, once.
            if ((m_lastType != EAacElementType::Sce && m_lastType != EAacElementType::Cpe) ||
                m_bSbrAfterLast)
                return false;
            m_info.nTools |= kAacToolSbr;
            m_bSbrAfterLast = true;
            m_bSbrMissing = false;
            m_bits.Skip(8 * uint64_t(nCount) - 4);
            break;
        default:
            return false; // reserved extension type
        }
        if (nUsed > nCount)
            return false; // a payload longer than its element
        nCount -= nUsed;
    }
    return true;
}

bool CFrameParser::ProgramConfigElement() {
    m_info.nTools |= kAacToolProgramConfig;
    CAacProgram program;
    int nProfile = 0, nRateIndex = 0;
    if (!ReadProgramConfig(m_bits, &program, &nProfile, &nRateIndex))
        return false;
    // It must describe this track: AAC LC (profile 1), its rate and its channel elements.
    if (nProfile != 1 || nRateIndex != m_config.nSampleRateIndex)
        return false;
    if (m_config.nChannelConfig == 0)
        return SameProgram(program, m_config.program);
    const CImplicitLayout& layout = kImplicitLayouts[m_config.nChannelConfig];
    if (program.nElements != layout.nCount)
        return false;
    for (int i = 0; i < layout.nCount; ++i) {
        if (program.aElements[i].type != layout.aTypes[i])
            return false;
    }
    return true;
}

// May a window sequence follow another? Windows overlap by halves, so a frame must start
// with the window half the previous one ended with: long after long or stop, short after
// start or short.
bool WindowFollows(int nPrevious, int nCurrent) {
    const bool bPreviousEndsShort = nPrevious == kLongStart || nPrevious == kEightShort;
    const bool bCurrentStartsShort = nCurrent == kEightShort || nCurrent == kLongStop;
    return bPreviousEndsShort == bCurrentStartsShort;
}

bool Continues(const CAacFrameInfo& previous, const CAacFrameInfo& info) {
    if (previous.nElements != info.nElements || previous.nStreams != info.nStreams)
        return false;
    for (int i = 0; i < info.nElements; ++i) {
        if (!(previous.aElements[i] == info.aElements[i]))
            return false;
    }
    for (int i = 0; i < info.nStreams; ++i) {
        if (!WindowFollows(previous.aWindowSequence[i], info.aWindowSequence[i]))
            return false;
    }
    return true;
}

bool ConfigUsable(const CAacConfig& config) {
    if (config.nObjectType != 2 && config.nObjectType != 5 && config.nObjectType != 29)
        return false;
    if (config.bFrameLength960 || config.nSampleRateIndex < 0 || config.nSampleRateIndex > 12)
        return false;
    if (config.nChannelConfig == 0)
        return config.program.nElements > 0 &&
               config.program.nElements <= CAacProgram::kMaxElements;
    return config.nChannelConfig >= 1 && config.nChannelConfig <= 7;
}

// The sampling frequency index a frequency outside the table is decoded with.
int RateIndexOf(uint32_t nFrequency) {
    static const uint32_t kLowest[] = {92017, 75132, 55426, 46009, 37566, 27713,
                                       23004, 18783, 13856, 11502, 9391};
    int i = 0;
    while (i < 11 && nFrequency < kLowest[i])
        ++i;
    return i;
}

int ReadObjectType(CBitReader& bits) {
    const int nType = int(bits.Read(5));
    return nType == 31 ? 32 + int(bits.Read(6)) : nType;
}

// samplingFrequencyIndex, with an explicit frequency mapped; -1 for a reserved index.
int ReadRateIndex(CBitReader& bits, int* pField) {
    const int nIndex = int(bits.Read(4));
    *pField = nIndex;
    if (nIndex == 15)
        return RateIndexOf(bits.Read(24));
    return nIndex <= 12 ? nIndex : -1;
}

} // namespace

bool ParseAudioSpecificConfig(const uint8_t* pData, size_t nSize, CAacConfig* pConfig) {
    CBitReader bits(pData, nSize);
    CAacConfig config;
    config.nObjectType = ReadObjectType(bits);
    int nRateField = 0, nExtensionField = 0;
    config.nSampleRateIndex = ReadRateIndex(bits, &nRateField);
    config.nChannelConfig = int(bits.Read(4));
    int nCoreType = config.nObjectType;
    if (nCoreType == 5 || nCoreType == 29) {
        if (ReadRateIndex(bits, &nExtensionField) < 0)
            return false;
        nCoreType = ReadObjectType(bits);
    }
    if (nCoreType != 2 || config.nSampleRateIndex < 0 || config.nChannelConfig > 7)
        return false;
    // GASpecificConfig
    config.bFrameLength960 = bits.ReadFlag();
    if (bits.ReadFlag())
        bits.Read(14); // coreCoderDelay
    const bool bExtension = bits.ReadFlag();
    if (config.nChannelConfig == 0) {
        int nProfile = 0, nPceRate = 0;
        if (!ReadProgramConfig(bits, &config.program, &nProfile, &nPceRate))
            return false;
        if (nProfile != 1 || (nRateField != 15 && nPceRate != nRateField))
            return false;
    }
    if (bExtension)
        bits.Read(1); // extensionFlag3
    if (bits.Past() || config.bFrameLength960)
        return false;
    *pConfig = config;
    return true;
}

EAacFrame ParseAacFrame(const CAacConfig& config, const uint8_t* pData, size_t nSize,
                        size_t* pLength, CAacFrameInfo* pInfo, const CAacFrameInfo* pPrevious) {
    const CTables& tables = Tables();
    if (!tables.bOk || !ConfigUsable(config))
        return EAacFrame::Invalid;

    // No frame is longer than the decoder's input buffer: 6144 bits per considered channel.
    int nChannels = 0;
    if (config.nChannelConfig != 0) {
        static const int kChannels[8] = {0, 1, 2, 3, 4, 5, 5, 7};
        nChannels = kChannels[config.nChannelConfig];
    } else {
        for (int i = 0; i < config.program.nElements; ++i)
            nChannels += ConsideredChannels(config.program.aElements[i]);
    }
    const size_t nLimit = kBufferBytesPerChannel * size_t(nChannels < 1 ? 1 : nChannels);

    CAacFrameInfo local;
    CAacFrameInfo& info = pInfo ? *pInfo : local;
    info.nElements = 0;
    info.nStreams = 0;
    info.nTools = 0;
    CBitReader bits(pData, nSize < nLimit ? nSize : nLimit);
    CFrameParser parser(config, tables, bits, &info);
    const bool bOk = parser.Parse();
    if (bits.Past())
        return nSize >= nLimit ? EAacFrame::Invalid : EAacFrame::Truncated;
    if (!bOk || (pPrevious && !Continues(*pPrevious, info)))
        return EAacFrame::Invalid;
    *pLength = size_t((bits.Position() + 7) / 8);
    return EAacFrame::Ok;
}
