#include "codec/AvcSetWriter.h"

#include "codec/RbspWriter.h"

#include <algorithm>

namespace {

// The lowest level whose pictures may be this large.
int LevelFor(int nMbs) {
    if (nMbs <= 1620)
        return 30;
    if (nMbs <= 3600)
        return 31;
    if (nMbs <= 8704)
        return 42;
    if (nMbs <= 36864)
        return 51;
    return 60;
}

} // namespace

std::vector<uint8_t> WriteAvcSps(const CAvcSetFields& f) {
    const int nProfile = f.bTransform8x8 ? 100 : (f.bCabac || f.bBFrames) ? 77 : 66;
    CRbspWriter w;
    w.Bits(8, static_cast<uint32_t>(nProfile));
    w.Bits(8, 0);
    w.Bits(8, static_cast<uint32_t>(LevelFor(f.nWidth * f.nHeight)));
    w.Ue(0);
    if (nProfile == 100) {
        w.Ue(1); // 4:2:0
        w.Ue(0); // 8 bits
        w.Ue(0);
        w.Flag(false);
        w.Flag(false); // flat scaling lists
    }
    w.Ue(static_cast<uint32_t>(f.nLog2Frame - 4));
    w.Ue(f.nLog2Poc ? 0 : 2);
    if (f.nLog2Poc)
        w.Ue(static_cast<uint32_t>(f.nLog2Poc - 4));
    const int nRefs = std::max(4, std::max(f.nRefL0, f.nRefL1) + 1);
    w.Ue(static_cast<uint32_t>(nRefs));
    w.Flag(false);
    w.Ue(static_cast<uint32_t>(f.nWidth - 1));
    w.Ue(static_cast<uint32_t>(f.nHeight - 1));
    w.Flag(true); // frames only
    w.Flag(true); // direct 8x8 inference
    w.Flag(f.nCropLines > 0);
    if (f.nCropLines > 0) {
        w.Ue(0);
        w.Ue(0);
        w.Ue(0);
        w.Ue(static_cast<uint32_t>(f.nCropLines / 2)); // in units of two lines
    }
    // Without how far pictures are reordered, a decoder learns it late and drops a picture as
    // it does.
    w.Flag(true);
    w.Bits(8, 0); // no aspect ratio, overscan, signal type, chroma location, timing, HRD
    w.Flag(true); // bitstream restriction
    w.Flag(true);
    w.Ue(2);
    w.Ue(1);
    w.Ue(16);
    w.Ue(16);
    w.Ue(static_cast<uint32_t>(f.bBFrames ? nRefs : 0));
    w.Ue(static_cast<uint32_t>(nRefs));
    const uint8_t nHeader = 0x67;
    return w.Nal(&nHeader, 1);
}

std::vector<uint8_t> WriteAvcPps(const CAvcSetFields& f) {
    CRbspWriter w;
    w.Ue(static_cast<uint32_t>(f.nPps));
    w.Ue(0);
    w.Flag(f.bCabac);
    w.Flag(false); // bottom_field_pic_order_in_frame_present
    w.Ue(0);       // one slice group
    w.Ue(static_cast<uint32_t>(f.nRefL0));
    w.Ue(static_cast<uint32_t>(f.nRefL1));
    w.Flag(f.bWeighted);
    w.Bits(2, static_cast<uint32_t>(f.nBipred));
    w.Se(f.nQp - 26);
    w.Se(0);
    w.Se(f.nChromaQp);
    w.Flag(f.bDeblockingControl);
    w.Flag(false); // constrained intra prediction
    w.Flag(false); // redundant_pic_cnt
    if (f.bTransform8x8) {
        w.Flag(true);
        w.Flag(false);
        w.Se(f.nChromaQp);
    }
    const uint8_t nHeader = 0x68;
    return w.Nal(&nHeader, 1);
}
