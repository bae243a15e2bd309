// The SPS and PPS of an H.264 stream of 8-bit 4:2:0 frames, written from their fields: for a
// stream that carries none, whose fields are found by trying them on the decoders.
#pragma once

#include <cstdint>
#include <vector>

struct CAvcSetFields {
    int nLog2Frame = 4; // log2_max_frame_num
    int nLog2Poc = 0;   // log2_max_pic_order_cnt_lsb; 0: picture order count type 2
    bool bCabac = false;
    bool bTransform8x8 = false;
    bool bDeblockingControl = false;
    int nQp = 26; // pic_init_qp
    int nPps = 0;
    bool bWeighted = false;
    int nBipred = 0;             // weighted_bipred_idc
    int nRefL0 = 0, nRefL1 = 0;  // num_ref_idx_lX_default_active_minus1
    int nChromaQp = 0;           // chroma_qp_index_offset, for both chroma planes
    int nWidth = 1, nHeight = 1; // in macroblocks
    int nCropLines = 0;          // hidden at the bottom (8: 1088 shown as 1080); even
    bool bBFrames = false;       // pictures are reordered
};

// The SPS (id 0) of the least profile the fields need: Baseline, Main or High; its level the
// least for the picture size; a VUI that says only how far pictures are reordered.
std::vector<uint8_t> WriteAvcSps(const CAvcSetFields& fields);
std::vector<uint8_t> WriteAvcPps(const CAvcSetFields& fields);
