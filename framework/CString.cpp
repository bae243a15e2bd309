#include "framework/CString.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
static bool SystemLeadByte(unsigned char c) {
    return ::IsDBCSLeadByte(c) != FALSE;
}
CString::LeadByteTest CString::s_pfnIsLeadByte = &SystemLeadByte;
// IsDBCSLeadByte knows no UTF-8 lead bytes; the active code page says whether it is UTF-8.
bool CString::s_bUtf8 = ::GetACP() == CP_UTF8;
#else
CString::LeadByteTest CString::s_pfnIsLeadByte = nullptr;
bool CString::s_bUtf8 = false;
#endif

namespace {

// The bytes a UTF-8 lead byte announces; 1 for ASCII and for a byte that leads nothing.
size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF8)
        return 1;
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

} // namespace

size_t CString::CharLengthAt(const char* p, size_t nLeft) {
    const unsigned char lead = static_cast<unsigned char>(p[0]);
    if (s_bUtf8) {
        // The lead byte and the continuation bytes it announces. A stray continuation byte
        // or a sequence cut short stays one unit, so no cut falls inside what is there.
        const size_t nWant = Utf8SequenceLength(lead);
        size_t n = 1;
        while (n < nWant && n < nLeft && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80)
            ++n;
        return n;
    }
    if (s_pfnIsLeadByte && s_pfnIsLeadByte(lead) && nLeft > 1 && p[1] != '\0')
        return 2;
    return 1;
}

size_t CString::CharLength(size_t i) const {
    return CharLengthAt(m_str.data() + i, m_str.size() - i);
}

int CString::ReverseFind(char ch) const {
    int found = -1;
    for (size_t i = 0; i < m_str.size(); i += CharLength(i)) {
        if (m_str[i] == ch)
            found = static_cast<int>(i);
    }
    return found;
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0)
        nStart = 0;
    for (size_t i = 0; i < m_str.size(); i += CharLength(i)) {
        if (i >= static_cast<size_t>(nStart) && m_str[i] == ch)
            return static_cast<int>(i);
    }
    return -1;
}

CString CString::Left(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

int CString::GetCharCount() const {
    int count = 0;
    for (size_t i = 0; i < m_str.size(); i += CharLength(i))
        ++count;
    return count;
}

CString CString::LeftChars(int nCount) const {
    size_t i = 0;
    for (int n = 0; n < nCount && i < m_str.size(); ++n)
        i += CharLength(i);
    return CString(m_str.substr(0, i));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(nCount)));
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const char* pszFormat, va_list args) {
    va_list probe;
    va_copy(probe, args);
    const int needed = std::vsnprintf(nullptr, 0, pszFormat, probe);
    va_end(probe);
    if (needed <= 0) {
        m_str.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
    m_str.assign(buffer.data(), static_cast<size_t>(needed));
}
