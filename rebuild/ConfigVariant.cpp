#include "rebuild/ConfigVariant.h"

#include "codec/AvcSyntax.h"
#include "codec/HevcSyntax.h"
#include "codec/RbspReader.h"
#include "codec/RbspWriter.h"

namespace {

// Sizes in luma samples of the chroma units that cropping counts in.
void CropUnits(int nChromaArray, bool bFrames, int* pX, int* pY) {
    *pX = nChromaArray == 1 || nChromaArray == 2 ? 2 : 1;
    *pY = (nChromaArray == 1 ? 2 : 1) * (bFrames ? 1 : 2);
}

// The NAL unit's payload as its RBSP, and where its stop bit is (0 when it has none).
uint64_t ToRbsp(const uint8_t* pPayload, size_t nSize, std::vector<uint8_t>* pRbsp) {
    pRbsp->resize(nSize);
    pRbsp->resize(UnescapeRbsp(pPayload, nSize, pRbsp->data()));
    return RbspStopBit(pRbsp->data(), pRbsp->size());
}

void PutBE16(std::vector<uint8_t>* pOut, size_t nValue) {
    pOut->push_back(static_cast<uint8_t>(nValue >> 8));
    pOut->push_back(static_cast<uint8_t>(nValue));
}

// Copies nCount NAL units with 16-bit lengths from pData (nAt moving on), each SPS rewritten.
template <class TRewrite>
bool CopyNalUnits(const std::vector<uint8_t>& config, size_t* pAt, unsigned nCount, bool bSps,
                  TRewrite rewrite, std::vector<uint8_t>* pOut, int* pRewritten) {
    for (unsigned i = 0; i < nCount; ++i) {
        if (*pAt + 2 > config.size())
            return false;
        const size_t nLength = ReadBE16(config.data() + *pAt);
        *pAt += 2;
        if (nLength == 0 || *pAt + nLength > config.size())
            return false;
        const uint8_t* pNal = config.data() + *pAt;
        *pAt += nLength;
        if (!bSps) {
            PutBE16(pOut, nLength);
            pOut->insert(pOut->end(), pNal, pNal + nLength);
            continue;
        }
        std::vector<uint8_t> sps;
        if (!rewrite(pNal, nLength, &sps) || sps.size() > 0xFFFF)
            return false;
        PutBE16(pOut, sps.size());
        pOut->insert(pOut->end(), sps.begin(), sps.end());
        ++*pRewritten;
    }
    return true;
}

} // namespace

const std::vector<CPictureShape>& RecorderPictureSizes() {
    static const std::vector<CPictureShape> sizes = [] {
        const CPictureShape kLandscape[] = {
            {1920, 1080, 0}, {1280, 720, 0},  {3840, 2160, 0}, {640, 360, 0},   {2560, 1440, 0},
            {640, 480, 0},   {854, 480, 0},   {960, 540, 0},   {720, 480, 0},   {720, 576, 0},
            {1440, 1080, 0}, {426, 240, 0},   {4096, 2160, 0}, {2704, 1520, 0}, {2720, 1530, 0},
            {1280, 960, 0},  {1920, 1440, 0}, {2704, 2028, 0}, {352, 288, 0},   {1080, 1080, 0},
        };
        std::vector<CPictureShape> all(std::begin(kLandscape), std::end(kLandscape));
        for (const CPictureShape& shape : kLandscape) {
            if (shape.nWidth != shape.nHeight)
                all.push_back({shape.nHeight, shape.nWidth, 0});
        }
        return all;
    }();
    return sizes;
}

bool RewriteAvcSps(const uint8_t* pNal, size_t nSize, int nWidth, int nHeight,
                   std::vector<uint8_t>* pOut) {
    CAvcSps sps;
    if (nWidth <= 0 || nHeight <= 0 || !ParseAvcSps(pNal, nSize, &sps))
        return false;
    std::vector<uint8_t> rbsp;
    const uint64_t nStop = ToRbsp(pNal + 1, nSize - 1, &rbsp);
    if (nStop < sps.nCropEndBit)
        return false;
    int nUnitX = 1, nUnitY = 1;
    CropUnits(sps.bSeparateColourPlane ? 0 : sps.nChromaFormat, sps.bFrameMbsOnly, &nUnitX,
              &nUnitY);
    // A map unit is a macroblock, or a pair of them for streams that may code fields.
    const int nMapHeight = sps.bFrameMbsOnly ? 16 : 32;
    const int nMbs = (nWidth + 15) / 16, nMapUnits = (nHeight + nMapHeight - 1) / nMapHeight;
    const int nRight = nMbs * 16 - nWidth, nBottom = nMapUnits * nMapHeight - nHeight;
    if (nRight % nUnitX != 0 || nBottom % nUnitY != 0)
        return false;
    CRbspWriter writer;
    writer.Copy(rbsp.data(), 0, sps.nSizeBit);
    writer.Ue(static_cast<uint32_t>(nMbs - 1));
    writer.Ue(static_cast<uint32_t>(nMapUnits - 1));
    writer.Copy(rbsp.data(), sps.nSizeEndBit, sps.nCropBit);
    writer.Flag(nRight != 0 || nBottom != 0);
    if (nRight != 0 || nBottom != 0) {
        writer.Ue(0);
        writer.Ue(static_cast<uint32_t>(nRight / nUnitX));
        writer.Ue(0);
        writer.Ue(static_cast<uint32_t>(nBottom / nUnitY));
    }
    writer.Copy(rbsp.data(), sps.nCropEndBit, nStop);
    *pOut = writer.Nal(pNal, 1);
    CAvcSps check;
    return ParseAvcSps(pOut->data(), pOut->size(), &check) && check.nWidth == nWidth &&
           check.nHeight == nHeight;
}

bool RewriteHevcSps(const uint8_t* pNal, size_t nSize, int nWidth, int nHeight, int nBitDepth,
                    std::vector<uint8_t>* pOut) {
    CHevcSps sps;
    if (nWidth <= 0 || nHeight <= 0 || nBitDepth < 0 || nBitDepth > 16 ||
        (nBitDepth != 0 && nBitDepth < 8) || !ParseHevcSps(pNal, nSize, &sps))
        return false;
    std::vector<uint8_t> rbsp;
    const uint64_t nStop = ToRbsp(pNal + 2, nSize - 2, &rbsp);
    if (nStop < sps.nSizeEndBit)
        return false;
    int nUnitX = 1, nUnitY = 1;
    CropUnits(sps.bSeparateColourPlane ? 0 : sps.nChromaFormat, true, &nUnitX, &nUnitY);
    const int nCb = sps.nMinCbSize;
    const int nCodedWidth = (nWidth + nCb - 1) / nCb * nCb;
    const int nCodedHeight = (nHeight + nCb - 1) / nCb * nCb;
    const int nRight = nCodedWidth - nWidth, nBottom = nCodedHeight - nHeight;
    if (nRight % nUnitX != 0 || nBottom % nUnitY != 0)
        return false;
    const int nLuma = nBitDepth ? nBitDepth : sps.nBitDepthLuma;
    const int nChroma = nBitDepth ? nBitDepth : sps.nBitDepthChroma;
    CRbspWriter writer;
    writer.Copy(rbsp.data(), 0, sps.nSizeBit);
    writer.Ue(static_cast<uint32_t>(nCodedWidth));
    writer.Ue(static_cast<uint32_t>(nCodedHeight));
    writer.Flag(nRight != 0 || nBottom != 0);
    if (nRight != 0 || nBottom != 0) {
        writer.Ue(0);
        writer.Ue(static_cast<uint32_t>(nRight / nUnitX));
        writer.Ue(0);
        writer.Ue(static_cast<uint32_t>(nBottom / nUnitY));
    }
    writer.Ue(static_cast<uint32_t>(nLuma - 8));
    writer.Ue(static_cast<uint32_t>(nChroma - 8));
    writer.Copy(rbsp.data(), sps.nSizeEndBit, nStop);
    *pOut = writer.Nal(pNal, 2);
    CHevcSps check;
    return ParseHevcSps(pOut->data(), pOut->size(), &check) && check.nWidth == nWidth &&
           check.nHeight == nHeight && check.nBitDepthLuma == nLuma;
}

bool MakeConfigVariant(ECodec eCodec, const std::vector<uint8_t>& config,
                       const CPictureShape& shape, std::vector<uint8_t>* pOut) {
    std::vector<uint8_t> out;
    int nRewritten = 0;
    size_t nAt = 0;
    if (eCodec == ECodec::H264) {
        // version, profile, compatibility, level, length size; then the SPS and PPS lists.
        if (config.size() < 7 || config[0] != 1)
            return false;
        const auto rewrite = [&](const uint8_t* pNal, size_t nSize, std::vector<uint8_t>* pSps) {
            return RewriteAvcSps(pNal, nSize, shape.nWidth, shape.nHeight, pSps);
        };
        out.assign(config.begin(), config.begin() + 6);
        nAt = 6;
        if (!CopyNalUnits(config, &nAt, config[5] & 0x1F, true, rewrite, &out, &nRewritten) ||
            nAt >= config.size())
            return false;
        const unsigned nPps = config[nAt];
        out.push_back(config[nAt++]);
        if (!CopyNalUnits(config, &nAt, nPps, false, rewrite, &out, &nRewritten))
            return false;
    } else if (eCodec == ECodec::Hevc) {
        // 22 bytes of fields (the bit depths at 17 and 18), then the arrays of NAL units.
        if (config.size() < 23 || config[0] != 1)
            return false;
        const auto rewrite = [&](const uint8_t* pNal, size_t nSize, std::vector<uint8_t>* pSps) {
            return RewriteHevcSps(pNal, nSize, shape.nWidth, shape.nHeight, shape.nBitDepth, pSps);
        };
        out.assign(config.begin(), config.begin() + 23);
        if (shape.nBitDepth >= 8) {
            out[17] = static_cast<uint8_t>(0xF8 | (shape.nBitDepth - 8));
            out[18] = static_cast<uint8_t>(0xF8 | (shape.nBitDepth - 8));
        }
        nAt = 23;
        for (unsigned nArray = 0; nArray < config[22]; ++nArray) {
            if (nAt + 3 > config.size())
                return false;
            const bool bSps = (config[nAt] & 0x3F) == 33;
            const unsigned nCount = ReadBE16(config.data() + nAt + 1);
            out.insert(out.end(), config.begin() + static_cast<ptrdiff_t>(nAt),
                       config.begin() + static_cast<ptrdiff_t>(nAt + 3));
            nAt += 3;
            if (!CopyNalUnits(config, &nAt, nCount, bSps, rewrite, &out, &nRewritten))
                return false;
        }
    } else {
        return false;
    }
    if (nRewritten == 0)
        return false;
    // What follows the lists (H.264's chroma and bit depth fields of high profiles) as it is.
    out.insert(out.end(), config.begin() + static_cast<ptrdiff_t>(nAt), config.end());
    *pOut = std::move(out);
    return true;
}
