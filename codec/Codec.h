// The codecs whose syntax this library reads: one name for each, wherever the program names one.
#pragma once

// Motion JPEG, H.263, AMR and PCM: what older cameras and phones wrote.
enum class ECodec { H264, Hevc, Aac, Mjpeg, H263, AmrNb, AmrWb, Pcm, Other };

// As people name it ("H.264", "HEVC", "AAC", "Motion JPEG", ...); empty for Other.
inline const char* CodecText(ECodec eCodec) {
    switch (eCodec) {
    case ECodec::H264:
        return "H.264";
    case ECodec::Hevc:
        return "HEVC";
    case ECodec::Aac:
        return "AAC";
    case ECodec::Mjpeg:
        return "Motion JPEG";
    case ECodec::H263:
        return "H.263";
    case ECodec::AmrNb:
        return "AMR-NB";
    case ECodec::AmrWb:
        return "AMR-WB";
    case ECodec::Pcm:
        return "PCM";
    default:
        return "";
    }
}
