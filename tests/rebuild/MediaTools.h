// What the scenario tests need of ffmpeg and ffprobe: media made at run time, the packets of a
// file (in decoding order, with an MD5 of their bytes) and the hashes of its decoded frames.
// Programs run and files read and written through the media maker.
#pragma once

#include "tests/support/MediaMaker.h"

#include <cstdint>
#include <string>
#include <vector>

using mediamaker::FileExists;
using mediamaker::ReadBytes;
using mediamaker::WriteBytes;

struct CPacket {
    int nStream = 0;
    std::string strPts, strDts; // as ffprobe prints them ("N/A" too)
    double dPts = 0;            // in seconds
    double dDts = 0;
    uint64_t nPos = 0;
    uint64_t nSize = 0;
    std::string strFlags;
    std::string strHash;
};

// Runs a shell command line (its words quoted with Quote); its standard output goes to
// *pOutput. Returns the exit status.
int RunCommand(const std::string& strCommand, std::string* pOutput = nullptr);
std::string Quote(const std::string& strText);

std::vector<CPacket> ProbePackets(const std::string& strFile);
// Packets of one stream, in decoding order.
std::vector<CPacket> StreamPackets(const std::vector<CPacket>& packets, int nStream);
// "pts,md5" of each decoded frame of the first video stream.
std::vector<std::string> DecodedFrames(const std::string& strFile);
// What ffprobe reports for one entry, e.g. "format=duration".
std::string ProbeEntry(const std::string& strFile, const std::string& strEntry);
