// What a recording told of its own settings when it was rebuilt without a reference.
#pragma once

#include <cstdint>
#include <string>

struct CFoundSettings {
    enum class ESource {
        None,
        Records,       // the camera's records of its media data (GoPro's SOS track)
        ParameterSets, // parameter sets the video repeats in its samples
        Search,        // parameter sets found by trying them on the decoders
    } eSource = ESource::None;
    std::string strVideo;   // "H.264", "HEVC"
    std::string strProfile; // "High", "Main 10", ... (empty: a profile without a name)
    int nWidth = 0;
    int nHeight = 0;
    double dFrameRate = 0;
    bool bFrameRateAssumed = false; // the stream gives none: the commonest rate was taken
    std::string strSound;           // "AAC-LC"; empty when it has none
    uint32_t nSampleRate = 0;
    int nChannels = 0;
    bool bRateByTime = false; // the sound's rate told by how many frames lie between pictures
    std::string strCamera;    // the model the records name, where they do
    // What a search took as most encoders write it, decoding not telling: the starting
    // quantiser (CAVLC), the lines a picture hides, B pictures' implicit weighting,
    // the chroma quantiser offset and the scaling lists.
    bool bQpAssumed = false;
    int nCropLines = 0; // the last lines hidden, for a common shape
    bool bBipredAssumed = false;
    bool bChromaAssumed = false;
    bool bScalingAssumed = false;

    // Why nothing could be found, when eSource is None.
    enum class EMissing {
        None,
        NoParameterSets, // no H.264 or HEVC parameter sets in its media data
        DoesNotDecode,   // its pictures do not decode with the parameter sets found
        DoesNotFit,      // what was found does not fit what follows (its sound's rate, say)
        SoundUnknown,    // between its pictures lies sound of a kind not found by its syntax
        NoSize,          // a search found no picture size its key frame decodes at
    } eMissing = EMissing::None;
    // No parameter sets, but an H.264 key frame a search could start from.
    bool bSearchable = false;
};
