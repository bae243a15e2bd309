#include "tests/rebuild/MediaTools.h"

#include <sstream>

int RunCommand(const std::string& strCommand, std::string* pOutput) {
    std::string strOutput;
    const int nStatus = mediamaker::Run({"/bin/sh", "-c", strCommand}, &strOutput);
    if (pOutput)
        pOutput->append(strOutput);
    return nStatus;
}

std::string Quote(const std::string& strText) {
    std::string strQuoted = "'";
    for (char c : strText)
        strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return strQuoted + "'";
}

std::vector<CPacket> ProbePackets(const std::string& strFile) {
    std::string strOut;
    mediamaker::Run({"ffprobe", "-v", "error", "-show_entries",
                     "packet=stream_index,pts,dts,pts_time,dts_time,size,pos,flags,data_hash",
                     "-show_data_hash", "MD5", "-of", "compact=p=0", strFile},
                    &strOut);
    std::vector<CPacket> packets;
    std::istringstream lines(strOut);
    std::string strLine;
    while (std::getline(lines, strLine)) {
        CPacket packet;
        std::istringstream fields(strLine);
        std::string strField;
        while (std::getline(fields, strField, '|')) {
            const size_t nEq = strField.find('=');
            if (nEq == std::string::npos)
                continue;
            const std::string strKey = strField.substr(0, nEq), strValue = strField.substr(nEq + 1);
            if (strKey == "stream_index")
                packet.nStream = std::stoi(strValue);
            else if (strKey == "pts")
                packet.strPts = strValue;
            else if (strKey == "dts")
                packet.strDts = strValue;
            else if (strKey == "pts_time" && strValue != "N/A")
                packet.dPts = std::stod(strValue);
            else if (strKey == "dts_time" && strValue != "N/A")
                packet.dDts = std::stod(strValue);
            else if (strKey == "size")
                packet.nSize = std::stoull(strValue);
            else if (strKey == "pos")
                packet.nPos = std::stoull(strValue);
            else if (strKey == "flags")
                packet.strFlags = strValue;
            else if (strKey == "data_hash")
                packet.strHash = strValue;
        }
        packets.push_back(packet);
    }
    return packets;
}

std::vector<CPacket> StreamPackets(const std::vector<CPacket>& packets, int nStream) {
    std::vector<CPacket> stream;
    for (const CPacket& packet : packets) {
        if (packet.nStream == nStream)
            stream.push_back(packet);
    }
    return stream;
}

std::vector<std::string> DecodedFrames(const std::string& strFile) {
    std::string strOut;
    mediamaker::Run(
        {"ffmpeg", "-v", "error", "-i", strFile, "-map", "0:v:0", "-f", "framemd5", "-"}, &strOut);
    std::vector<std::string> frames;
    std::istringstream lines(strOut);
    std::string strLine;
    while (std::getline(lines, strLine)) {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        // stream, dts, pts, duration, size, hash
        std::vector<std::string> fields;
        std::istringstream parts(strLine);
        std::string strPart;
        while (std::getline(parts, strPart, ','))
            fields.push_back(strPart.substr(strPart.find_first_not_of(' ')));
        if (fields.size() == 6)
            frames.push_back(fields[2] + "," + fields[5]);
    }
    return frames;
}

std::string ProbeEntry(const std::string& strFile, const std::string& strEntry) {
    std::string strOut;
    mediamaker::Run(
        {"ffprobe", "-v", "error", "-show_entries", strEntry, "-of", "default=nw=1:nk=1", strFile},
        &strOut);
    while (!strOut.empty() && (strOut.back() == '\n' || strOut.back() == '\r'))
        strOut.pop_back();
    return strOut;
}
