// The codecs whose syntax this library reads: one name for each, wherever the program names one.
#pragma once

enum class ECodec { H264, Hevc, Aac, Other };

// As people name it ("H.264", "HEVC", "AAC"); empty for Other.
inline const char* CodecText(ECodec eCodec) {
    switch (eCodec) {
    case ECodec::H264:
        return "H.264";
    case ECodec::Hevc:
        return "HEVC";
    case ECodec::Aac:
        return "AAC";
    default:
        return "";
    }
}
