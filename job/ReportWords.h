// Numbers, lengths and sizes as the messages word them. Portable.
#pragma once

#include "framework/CString.h"

#include <cstdint>
#include <string>

// A length as a person reads it: "0:09", "12:34", "1:02:03" (rounded to the second).
CString FormatDuration(double dSeconds);
// "812 bytes", "37 KB", "1.2 MB", "3.4 GB".
CString FormatBytes(uint64_t nBytes);
// "48", "44.1", "29.97": at most three decimals, none that are zero.
CString FormatNumber(double dValue);
// "no", "one", ... "five", then digits.
CString CountText(int64_t nCount);
// What a decoder said, short enough for a message.
CString DecoderWords(const std::string& strSaid);
