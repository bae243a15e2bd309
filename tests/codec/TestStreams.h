// H.264 parameter sets and slices and AAC frames built in code, for the tests and fuzzers that
// need exact bytes no encoder writes on demand.
#pragma once

#include "tests/codec/BitWriter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testmedia {

// Baseline, 320x240, picture order type 0.
inline std::vector<uint8_t> Sps() {
    CBitWriter bits;
    bits.Bits(8, 66);
    bits.Bits(8, 0xC0);
    bits.Bits(8, 30);
    bits.Ue(0); // id
    bits.Ue(0); // log2_max_frame_num_minus4
    bits.Ue(0); // pic_order_cnt_type
    bits.Ue(2); // log2_max_pic_order_cnt_lsb_minus4
    bits.Ue(1); // max_num_ref_frames
    bits.Bits(1, 0);
    bits.Ue(19); // 320 wide
    bits.Ue(14); // 240 high
    bits.Bits(1, 1);
    bits.Bits(1, 1);
    bits.Bits(1, 0);
    bits.Bits(1, 0);
    return MakeNalUnit({0x67}, bits.Finish());
}

inline std::vector<uint8_t> Pps() {
    CBitWriter bits;
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(2, 0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(3, 0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(3, 4);
    return MakeNalUnit({0x68}, bits.Finish());
}

// A slice of a picture: IDR or P, with some slice data after its header.
inline std::vector<uint8_t> Slice(bool bIdr, uint32_t nFrameNum, uint32_t nPocLsb, size_t nData,
                                  uint32_t nFirstMb = 0) {
    CBitWriter bits;
    bits.Ue(nFirstMb);
    bits.Ue(bIdr ? 7 : 5);
    bits.Ue(0);
    bits.Bits(4, nFrameNum);
    if (bIdr)
        bits.Ue(0);
    bits.Bits(6, nPocLsb);
    if (!bIdr)
        bits.Bits(2, 0); // num_ref_idx_active_override_flag, ref_pic_list_modification_flag_l0
    bits.Bits(bIdr ? 2 : 1, 0); // dec_ref_pic_marking
    for (size_t i = 0; i < nData; ++i)
        bits.Bits(8, 0x5A + (i % 7));
    return MakeNalUnit({static_cast<uint8_t>(bIdr ? 0x65 : 0x41)}, bits.Finish());
}

// NAL units with 4-byte lengths, as an MP4 sample holds them.
inline void AppendSample(std::vector<uint8_t>* pOut,
                         const std::vector<std::vector<uint8_t>>& nals) {
    for (const std::vector<uint8_t>& nal : nals) {
        const uint32_t n = static_cast<uint32_t>(nal.size());
        const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        pOut->insert(pOut->end(), length, length + 4);
        pOut->insert(pOut->end(), nal.begin(), nal.end());
    }
}

// A silent mono AAC frame: one channel element with no bands, then END.
inline std::vector<uint8_t> AacFrame(uint8_t nGain) {
    CBitWriter bits;
    bits.Bits(3, 0);     // SCE
    bits.Bits(4, 0);     // element_instance_tag
    bits.Bits(8, nGain); // global_gain
    bits.Bits(1, 0);     // ics_reserved_bit
    bits.Bits(2, 0);     // ONLY_LONG_SEQUENCE
    bits.Bits(1, 0);     // window_shape
    bits.Bits(6, 0);     // max_sfb
    bits.Bits(1, 0);     // predictor_data_present
    bits.Bits(3, 0);     // pulse, tns, gain control
    bits.Bits(3, 7);     // END
    return bits.Pad();
}

} // namespace testmedia
