#include "codec/AacConfig.h"

namespace {

const int kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};

const EAacElementType kS = EAacElementType::Sce;
const EAacElementType kC = EAacElementType::Cpe;
const EAacElementType kL = EAacElementType::Lfe;
const CAacImplicitLayout kImplicitLayouts[8] = {
    {0, {}},
    {1, {kS}},
    {1, {kC}},
    {2, {kS, kC}},
    {3, {kS, kC, kS}},
    {3, {kS, kC, kC}},
    {4, {kS, kC, kC, kL}},
    {5, {kS, kC, kC, kC, kL}},
};

int ReadObjectType(CBitReader& bits) {
    const int nType = int(bits.Read(5));
    return nType == 31 ? 32 + int(bits.Read(6)) : nType;
}

// samplingFrequencyIndex, with an explicit frequency mapped; -1 for a reserved index.
int ReadRateIndex(CBitReader& bits, int* pField) {
    const int nIndex = int(bits.Read(4));
    *pField = nIndex;
    if (nIndex == 15)
        return AacRateIndexOf(bits.Read(24));
    return nIndex <= 12 ? nIndex : -1;
}

} // namespace

const CAacImplicitLayout& AacImplicitLayout(int nChannelConfig) {
    return kImplicitLayouts[nChannelConfig >= 0 && nChannelConfig <= 7 ? nChannelConfig : 0];
}

int AacConsideredChannels(const CAacElement& element) {
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

bool ReadAacProgramConfig(CBitReader& bits, CAacProgram* pProgram, int* pProfile, int* pRateIndex) {
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

bool AacSameProgram(const CAacProgram& a, const CAacProgram& b) {
    if (a.nElements != b.nElements)
        return false;
    for (int i = 0; i < a.nElements; ++i) {
        if (!(a.aElements[i] == b.aElements[i]))
            return false;
    }
    return true;
}

bool AacConfigUsable(const CAacConfig& config) {
    if (config.nObjectType != 2 && config.nObjectType != 5 && config.nObjectType != 29)
        return false;
    if (config.bFrameLength960 || config.nSampleRateIndex < 0 || config.nSampleRateIndex > 12)
        return false;
    if (config.nChannelConfig == 0)
        return config.program.nElements > 0 &&
               config.program.nElements <= CAacProgram::kMaxElements;
    return config.nChannelConfig >= 1 && config.nChannelConfig <= 7;
}

int AacSampleRate(int nRateIndex) {
    return nRateIndex >= 0 && nRateIndex <= 12 ? kAacRates[nRateIndex] : 0;
}

int AacRateIndexOf(uint32_t nFrequency) {
    static const uint32_t kLowest[] = {92017, 75132, 55426, 46009, 37566, 27713,
                                       23004, 18783, 13856, 11502, 9391};
    int i = 0;
    while (i < 11 && nFrequency < kLowest[i])
        ++i;
    return i;
}

bool AacSameBandTables(int nRateIndexA, int nRateIndexB) {
    static const int kClasses[13] = {0, 0, 1, 2, 2, 3, 4, 4, 5, 5, 5, 6, 6};
    return nRateIndexA >= 0 && nRateIndexA <= 12 && nRateIndexB >= 0 && nRateIndexB <= 12 &&
           kClasses[nRateIndexA] == kClasses[nRateIndexB];
}

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
        if (!ReadAacProgramConfig(bits, &config.program, &nProfile, &nPceRate))
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
