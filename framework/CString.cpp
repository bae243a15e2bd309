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
#else
CString::LeadByteTest CString::s_pfnIsLeadByte = nullptr;
#endif

size_t CString::CharLength(size_t i) const {
    if (s_pfnIsLeadByte && s_pfnIsLeadByte(static_cast<unsigned char>(m_str[i])) &&
        i + 1 < m_str.size() && m_str[i + 1] != '\0')
        return 2;
    return 1;
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
