#include "codec/AacFrame.h"

#include "codec/AacHuffman.h"
#include "codec/AacTables.h"

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
    CFrameParser(const CAacConfig& config, const CAacCodebooks& tables, CBitReader& bits,
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
    const CAacCodebooks& m_tables;
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
        const CAacImplicitLayout& layout = AacImplicitLayout(m_config.nChannelConfig);
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
                return m_nExpected == AacImplicitLayout(m_config.nChannelConfig).nCount;
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
    if (!ReadAacProgramConfig(m_bits, &program, &nProfile, &nRateIndex))
        return false;
    // It must describe this track: AAC LC (profile 1), its rate and its channel elements.
    if (nProfile != 1 || nRateIndex != m_config.nSampleRateIndex)
        return false;
    if (m_config.nChannelConfig == 0)
        return AacSameProgram(program, m_config.program);
    const CAacImplicitLayout& layout = AacImplicitLayout(m_config.nChannelConfig);
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

} // namespace

bool AacFrameContinues(const CAacFrameInfo& previous, const CAacFrameInfo& info) {
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

EAacFrame ParseAacFrame(const CAacConfig& config, const uint8_t* pData, size_t nSize,
                        size_t* pLength, CAacFrameInfo* pInfo, const CAacFrameInfo* pPrevious) {
    const CAacCodebooks& tables = AacCodebooks();
    if (!tables.bOk || !AacConfigUsable(config))
        return EAacFrame::Invalid;

    // No frame is longer than the decoder's input buffer: 6144 bits per considered channel.
    int nChannels = 0;
    if (config.nChannelConfig != 0) {
        static const int kChannels[8] = {0, 1, 2, 3, 4, 5, 5, 7};
        nChannels = kChannels[config.nChannelConfig];
    } else {
        for (int i = 0; i < config.program.nElements; ++i)
            nChannels += AacConsideredChannels(config.program.aElements[i]);
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
    if (!bOk || (pPrevious && !AacFrameContinues(*pPrevious, info)))
        return EAacFrame::Invalid;
    *pLength = size_t((bits.Position() + 7) / 8);
    return EAacFrame::Ok;
}
