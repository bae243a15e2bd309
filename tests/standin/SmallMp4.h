// A small hand-made MP4 file: ftyp, moov with a movie header, and mdat. Enough for a reader
// that walks the boxes; the stand-in writes it as its output, the tests use it as a source.
#pragma once

#include <string>

inline void AppendMp4Box(std::string& file, const char* type, const std::string& payload) {
    const size_t size = payload.size() + 8;
    const char header[8] = {static_cast<char>(size >> 24),
                            static_cast<char>(size >> 16),
                            static_cast<char>(size >> 8),
                            static_cast<char>(size),
                            type[0],
                            type[1],
                            type[2],
                            type[3]};
    file.append(header, 8);
    file += payload;
}

inline std::string SmallMp4() {
    std::string file;
    AppendMp4Box(file, "ftyp", std::string("isom\0\0\x02\0isommp41", 16));
    std::string mvhd(100, '\0');
    mvhd[14] = 0x03; // time scale 1000
    mvhd[15] = static_cast<char>(0xE8);
    mvhd[20] = 0x01; // rate 1.0
    mvhd[24] = 0x01; // volume 1.0
    mvhd[99] = 0x02; // next track id
    std::string moov;
    AppendMp4Box(moov, "mvhd", mvhd);
    AppendMp4Box(file, "moov", moov);
    AppendMp4Box(file, "mdat", std::string(4096, '\x5A'));
    return file;
}
