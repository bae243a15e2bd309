#include "job/ReportWords.h"

#include <string>

CString FormatDuration(double dSeconds) {
    const long long nTotal = dSeconds > 0 ? static_cast<long long>(dSeconds + 0.5) : 0;
    CString text;
    if (nTotal >= 3600)
        text.Format("%lld:%02lld:%02lld", nTotal / 3600, nTotal / 60 % 60, nTotal % 60);
    else
        text.Format("%lld:%02lld", nTotal / 60, nTotal % 60);
    return text;
}

CString FormatBytes(uint64_t nBytes) {
    CString text;
    const double dBytes = static_cast<double>(nBytes);
    if (nBytes < 1000)
        text.Format("%u bytes", static_cast<unsigned>(nBytes));
    else if (nBytes < 1000000)
        text.Format("%.0f KB", dBytes / 1e3);
    else if (nBytes < 1000000000)
        text.Format("%.1f MB", dBytes / 1e6);
    else
        text.Format("%.1f GB", dBytes / 1e9);
    return text;
}

CString FormatNumber(double dValue) {
    CString text;
    text.Format("%.3f", dValue);
    std::string str = text.str();
    while (!str.empty() && str.back() == '0')
        str.pop_back();
    if (!str.empty() && str.back() == '.')
        str.pop_back();
    return CString(str.c_str());
}

CString CountText(int64_t nCount) {
    static const char* const kWords[] = {"no", "one", "two", "three", "four", "five"};
    if (nCount >= 0 && nCount < 6)
        return kWords[nCount];
    CString text;
    text.Format("%lld", static_cast<long long>(nCount));
    return text;
}

CString DecoderWords(const std::string& strSaid) {
    const size_t kMax = 80;
    std::string str = strSaid.empty() ? "no reason given" : strSaid;
    if (str.size() > kMax)
        str = str.substr(0, kMax - 3) + "...";
    return CString(str.c_str());
}
