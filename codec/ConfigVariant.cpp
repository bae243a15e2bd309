#include "codec/ConfigVariant.h"

#include "codec/AvcSyntax.h"
#include "codec/ConfigRecord.h"
#include "codec/HevcSyntax.h"
#include "codec/RbspReader.h"
#include "codec/RbspWriter.h"

#include <utility>

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
    CConfigRecord record;
    if (!ReadConfigRecord(eCodec, config.data(), config.size(), &record))
        return false;
    // hvcC states the bit depths too (bytes 17 and 18, above five reserved bits).
    if (eCodec == ECodec::Hevc && shape.nBitDepth >= 8) {
        record.fields[17] = static_cast<uint8_t>(0xF8 | (shape.nBitDepth - 8));
        record.fields[18] = static_cast<uint8_t>(0xF8 | (shape.nBitDepth - 8));
    }
    int nRewritten = 0;
    for (size_t a = 0; a < record.arrays.size(); ++a) {
        if (!record.HoldsSps(a))
            continue;
        for (std::vector<uint8_t>& nal : record.arrays[a].units) {
            std::vector<uint8_t> sps;
            const bool bMade =
                eCodec == ECodec::H264
                    ? RewriteAvcSps(nal.data(), nal.size(), shape.nWidth, shape.nHeight, &sps)
                    : RewriteHevcSps(nal.data(), nal.size(), shape.nWidth, shape.nHeight,
                                     shape.nBitDepth, &sps);
            if (!bMade)
                return false;
            nal = std::move(sps);
            ++nRewritten;
        }
    }
    // All but the SPS as it was, what follows the arrays included.
    return nRewritten != 0 && WriteConfigRecord(record, pOut);
}
