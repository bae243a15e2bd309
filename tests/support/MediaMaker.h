// Media made at run time for the native tests and fuzzers: programs (ffmpeg, ffprobe) run with
// their arguments as they are, no shell between, files read and written whole, and the boxes
// of what was made walked with media/'s reader. POSIX.
#pragma once

#include "media/Box.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mediamaker {

// Runs a program found on PATH with arguments[1...] (arguments[0] names it), its standard input
// empty; its standard output to *pOutput when given, else where the caller's goes. The exit
// status, or -1 when it could not start or did not exit.
int Run(const std::vector<std::string>& arguments, std::string* pOutput = nullptr);
// The words of a line of options that hold no spaces, as separate arguments.
std::vector<std::string> Words(const std::string& strLine);
// Runs ffmpeg quietly (-nostdin -v error -y) with the arguments given, writing strOutput; the
// bytes it wrote, or none when it failed.
std::vector<uint8_t> Ffmpeg(const std::vector<std::string>& arguments,
                            const std::string& strOutput);

// The whole file, or nothing when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& strPath);
bool WriteBytes(const std::string& strPath, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& strPath);
// A folder that exists and holds nothing but dot files.
bool FolderEmpty(const std::string& strPath);

// The top-level boxes of a file, as far as they tile it.
std::vector<CBox> TopBoxes(const std::vector<uint8_t>& bytes);
// A recording cut off before its index: the boxes before mdat but moov, mdat with size 0 and
// dFraction of its payload; nothing when the file has no mdat.
std::vector<uint8_t> CutBeforeIndex(const std::vector<uint8_t>& whole, double dFraction);

} // namespace mediamaker
