#include "decode/Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

const size_t kMaxConfigSize = 1 << 20;
// No sample of these codecs comes near it; FFmpeg's packets hold an int of bytes.
const size_t kMaxPacketSize = 1 << 28;
const size_t kMaxFaults = 64;
// Pictures leave the decoder at most this many packets late: a packet already named among the
// last ones is not named again.
const size_t kRecentFaults = 16;
const size_t kMaxLogText = 400;

struct CContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct CFrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct CPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CContextPtr = std::unique_ptr<AVCodecContext, CContextFree>;
using CFramePtr = std::unique_ptr<AVFrame, CFrameFree>;
using CPacketPtr = std::unique_ptr<AVPacket, CPacketFree>;

std::string ErrorText(int nError) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(nError, text, sizeof text);
    return text;
}

// What a frame's error flags say, for a frame the decoder logged nothing about.
std::string FlagsText(int nFlags) {
    std::string text;
    const auto add = [&](int nFlag, const char* pszWhat) {
        if (nFlags & nFlag)
            text += (text.empty() ? "" : ", ") + std::string(pszWhat);
    };
    add(FF_DECODE_ERROR_INVALID_BITSTREAM, "invalid bitstream");
    add(FF_DECODE_ERROR_MISSING_REFERENCE, "missing reference picture");
    add(FF_DECODE_ERROR_CONCEALMENT_ACTIVE, "errors concealed");
    add(FF_DECODE_ERROR_DECODE_SLICES, "slices not decoded");
    return text.empty() ? "frame marked corrupt" : text;
}

// FNV-1a over the picture's samples, row by row, on from nHash.
uint64_t HashPicture(const AVFrame& f, uint64_t nHash) {
    const auto eFormat = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* pDesc = av_pix_fmt_desc_get(eFormat);
    if (!pDesc || (pDesc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return nHash;
    for (int nPlane = 0; nPlane < 4 && f.data[nPlane]; ++nPlane) {
        const int nBytes = av_image_get_linesize(eFormat, f.width, nPlane);
        const int nRows =
            nPlane == 1 || nPlane == 2 ? -((-f.height) >> pDesc->log2_chroma_h) : f.height;
        for (int y = 0; y < nRows && nBytes > 0; ++y) {
            const uint8_t* pRow = f.data[nPlane] + ptrdiff_t(y) * f.linesize[nPlane];
            for (int x = 0; x < nBytes; ++x)
                nHash = (nHash ^ pRow[x]) * 0x100000001B3ull;
        }
    }
    return nHash;
}

int ChromaOf(const AVPixFmtDescriptor* pDesc) {
    if (pDesc->nb_components < 3)
        return 400;
    if (pDesc->log2_chroma_w == 1)
        return pDesc->log2_chroma_h == 1 ? 420 : 422;
    return pDesc->log2_chroma_w == 0 && pDesc->log2_chroma_h == 0 ? 444 : 0;
}

} // namespace

struct CDecoder::CImpl {
    CContextPtr context;
    CFramePtr frame;
    CPacketPtr packet;
    CDecodeLimits limits;
    bool bCancelled = false;
    std::vector<CDecodeFault> faults;
    int64_t nFaults = 0;
    int64_t recent[kRecentFaults] = {};
    int64_t nFrames = 0;
    int64_t nLastPacket = 0;
    uint64_t nPictureHash = 0xCBF29CE484222325ull;
    CStreamFormat format;
    std::string strError;
    std::string strLog; // what the decoder said during the current call

    static void Log(void* pObject, int nLevel, const char* pszFormat, va_list args);
    void AddFault(int64_t nPacket, const std::string& strText);
    bool Receive(int64_t nPacket);
    bool Send(const AVPacket* pPacket, int64_t nPacket);
    bool IsCancelled();
    void TakeFormat(const AVFrame& frame);
    bool Open(EDecodeCodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
              const CDecodeLimits& limitsGiven);
};

// One callback for the process: FFmpeg's log is global. Lines of a codec context go to the
// decoder that owns it; nothing reaches stderr.
void CDecoder::CImpl::Log(void* pObject, int nLevel, const char* pszFormat, va_list args) {
    if (nLevel > AV_LOG_ERROR || !pObject ||
        *static_cast<const AVClass**>(pObject) != avcodec_get_class())
        return;
    auto* pSelf = static_cast<CImpl*>(static_cast<AVCodecContext*>(pObject)->opaque);
    if (!pSelf || pSelf->strLog.size() >= kMaxLogText)
        return;
    char line[256];
    const int nLength = vsnprintf(line, sizeof line, pszFormat, args);
    if (nLength <= 0)
        return;
    try {
        std::string text(line, strnlen(line, sizeof line));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!pSelf->strLog.empty())
            pSelf->strLog += "; ";
        pSelf->strLog += text;
    } catch (...) {
    }
}

void CDecoder::CImpl::AddFault(int64_t nPacket, const std::string& strText) {
    const size_t nRecent = static_cast<size_t>(std::min<int64_t>(nFaults, kRecentFaults));
    for (size_t i = 0; i < nRecent; ++i) {
        if (recent[i] == nPacket)
            return;
    }
    recent[nFaults % kRecentFaults] = nPacket;
    ++nFaults;
    if (faults.size() < kMaxFaults)
        faults.push_back({nPacket, strText});
}

bool CDecoder::CImpl::IsCancelled() {
    if (limits.pCancel && limits.pCancel->load())
        bCancelled = true;
    return bCancelled;
}

void CDecoder::CImpl::TakeFormat(const AVFrame& f) {
    if (context->codec_type == AVMEDIA_TYPE_AUDIO) {
        format.nSampleRate = f.sample_rate;
        format.nChannels = f.ch_layout.nb_channels;
        return;
    }
    format.nWidth = f.width;
    format.nHeight = f.height;
    const auto eFormat = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* pDesc = av_pix_fmt_desc_get(eFormat);
    format.nBitDepth = pDesc ? pDesc->comp[0].depth : 0;
    format.nChroma = pDesc ? ChromaOf(pDesc) : 0;
    const char* pszName = av_get_pix_fmt_name(eFormat);
    format.strPixelFormat = pszName ? pszName : "";
}

// Takes every frame the decoder has ready. A frame carries the label of the packet it began in.
bool CDecoder::CImpl::Receive(int64_t nPacket) {
    bool bClean = true;
    for (;;) {
        const int nResult = avcodec_receive_frame(context.get(), frame.get());
        if (nResult == AVERROR(EAGAIN) || nResult == AVERROR_EOF)
            return bClean;
        if (nResult < 0) {
            AddFault(nPacket, strLog.empty() ? ErrorText(nResult) : strLog);
            return false;
        }
        ++nFrames;
        TakeFormat(*frame);
        if (limits.bHashPictures && context->codec_type == AVMEDIA_TYPE_VIDEO)
            nPictureHash = HashPicture(*frame, nPictureHash);
        const int64_t nFrom = frame->pts != AV_NOPTS_VALUE ? frame->pts : nPacket;
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
            // What the decoder said now is about this call's packet, not an earlier one.
            const bool bSaid = nFrom == nPacket && !strLog.empty();
            AddFault(nFrom, bSaid ? strLog : FlagsText(frame->decode_error_flags));
            bClean = false;
        }
        av_frame_unref(frame.get());
    }
}

bool CDecoder::CImpl::Send(const AVPacket* pPacket, int64_t nPacket) {
    strLog.clear();
    int nResult = avcodec_send_packet(context.get(), pPacket);
    bool bClean = true;
    if (nResult == AVERROR(EAGAIN)) {
        // Frames were left waiting; take them, then the packet goes in.
        bClean = Receive(nPacket);
        nResult = avcodec_send_packet(context.get(), pPacket);
    }
    if (nResult < 0 && nResult != AVERROR_EOF) {
        AddFault(nPacket, strLog.empty() ? ErrorText(nResult) : strLog);
        bClean = false;
    }
    return Receive(nPacket) && bClean;
}

CDecoder::CDecoder() = default;
CDecoder::~CDecoder() = default;
CDecoder::CDecoder(CDecoder&&) noexcept = default;
CDecoder& CDecoder::operator=(CDecoder&&) noexcept = default;

bool CDecoder::Open(EDecodeCodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
                    const CDecodeLimits& limits) {
    try {
        m_pImpl = std::make_unique<CImpl>();
    } catch (...) {
        m_pImpl.reset();
        return false;
    }
    try {
        return m_pImpl->Open(eCodec, pConfig, nConfigSize, limits);
    } catch (...) {
        m_pImpl->context.reset();
        return false;
    }
}

bool CDecoder::CImpl::Open(EDecodeCodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
                           const CDecodeLimits& limitsGiven) {
    limits = limitsGiven;
    static std::once_flag logOnce;
    std::call_once(logOnce, [] { av_log_set_callback(&CImpl::Log); });
    const auto fail = [&](const std::string& strWhy) {
        context.reset();
        strError = strWhy;
        return false;
    };

    const AVCodecID eId = eCodec == EDecodeCodec::H264   ? AV_CODEC_ID_H264
                          : eCodec == EDecodeCodec::Hevc ? AV_CODEC_ID_HEVC
                                                         : AV_CODEC_ID_AAC;
    const AVCodec* pCodec = avcodec_find_decoder(eId);
    if (!pCodec)
        return fail("this build has no decoder for the codec");
    if (nConfigSize > kMaxConfigSize || (nConfigSize && !pConfig))
        return fail("the decoder configuration is too large");
    context.reset(avcodec_alloc_context3(pCodec));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!context || !frame || !packet)
        return fail("out of memory");
    AVCodecContext& c = *context;
    c.opaque = this;
    // One thread decodes in packet order: the same faults on every run, and no threads to end.
    c.thread_count = 1;
    c.err_recognition = AV_EF_EXPLODE | AV_EF_CRCCHECK;
    c.max_pixels = limits.nMaxPixels;
    c.max_samples = limits.nMaxSamples;
    if (nConfigSize) {
        c.extradata = static_cast<uint8_t*>(av_mallocz(nConfigSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c.extradata)
            return fail("out of memory");
        memcpy(c.extradata, pConfig, nConfigSize);
        c.extradata_size = static_cast<int>(nConfigSize);
    }
    strLog.clear();
    AVDictionary* pOptions = nullptr;
    if (eId == AV_CODEC_ID_H264 && !limits.bConceal &&
        av_dict_set(&pOptions, "enable_er", "0", 0) < 0)
        return fail("out of memory");
    const int nResult = avcodec_open2(&c, pCodec, &pOptions);
    av_dict_free(&pOptions);
    if (nResult < 0)
        return fail(strLog.empty() ? ErrorText(nResult) : strLog);
    return true;
}

bool CDecoder::Decode(const uint8_t* pData, size_t nSize, int64_t nPacket) {
    if (!IsOpen() || m_pImpl->IsCancelled())
        return false;
    CImpl& d = *m_pImpl;
    try {
        if (nSize == 0 || nSize > kMaxPacketSize || !pData) {
            d.AddFault(nPacket, nSize ? "the sample is too large" : "the sample is empty");
            return false;
        }
        av_packet_unref(d.packet.get());
        if (av_new_packet(d.packet.get(), static_cast<int>(nSize)) < 0) {
            d.AddFault(nPacket, "out of memory");
            return false;
        }
        memcpy(d.packet->data, pData, nSize);
        d.nLastPacket = nPacket;
        d.packet->pts = nPacket;
        d.packet->dts = nPacket;
        const bool bClean = d.Send(d.packet.get(), nPacket);
        av_packet_unref(d.packet.get());
        return bClean;
    } catch (...) {
        return false;
    }
}

bool CDecoder::Finish() {
    if (!IsOpen() || m_pImpl->IsCancelled())
        return false;
    CImpl& d = *m_pImpl;
    try {
        const bool bClean = d.Send(nullptr, d.nLastPacket);
        avcodec_flush_buffers(d.context.get());
        return bClean;
    } catch (...) {
        return false;
    }
}

void CDecoder::Reset() {
    if (IsOpen())
        avcodec_flush_buffers(m_pImpl->context.get());
}

bool CDecoder::IsOpen() const {
    return m_pImpl && m_pImpl->context;
}

bool CDecoder::Cancelled() const {
    return m_pImpl && m_pImpl->bCancelled;
}

const std::vector<CDecodeFault>& CDecoder::Faults() const {
    static const std::vector<CDecodeFault> none;
    return m_pImpl ? m_pImpl->faults : none;
}

int64_t CDecoder::FaultCount() const {
    return m_pImpl ? m_pImpl->nFaults : 0;
}

int64_t CDecoder::Frames() const {
    return m_pImpl ? m_pImpl->nFrames : 0;
}

const CStreamFormat& CDecoder::Format() const {
    static const CStreamFormat none;
    return m_pImpl ? m_pImpl->format : none;
}

uint64_t CDecoder::PictureHash() const {
    return m_pImpl ? m_pImpl->nPictureHash : 0;
}

const std::string& CDecoder::Error() const {
    static const std::string notOpened = "the decoder could not start";
    return m_pImpl ? m_pImpl->strError : notOpened;
}
