// An ANSI string with value semantics, the subset of the framework's CString the program
// uses. Portable: it needs no Windows API, so the naming rules are tested natively.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* pch, int nLength) : m_str(pch, static_cast<size_t>(nLength)) {}
    CString(const std::string& s) : m_str(s) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    operator const char*() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }
    char GetAt(int nIndex) const { return m_str.at(static_cast<size_t>(nIndex)); }

    CString& operator=(const char* psz) {
        m_str = psz ? psz : "";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_str += s.m_str;
        return *this;
    }
    CString& operator+=(const char* psz) {
        m_str += psz ? psz : "";
        return *this;
    }
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) {
        return CString(a.m_str + b.m_str);
    }
    friend CString operator+(const CString& a, const char* b) {
        return CString(a.m_str + (b ? b : ""));
    }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_str != b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }

    // Index of the last occurrence of ch, or -1. Walks characters, not bytes, so a DBCS
    // trail byte that happens to equal ch (0x5C in Shift-JIS) is never taken for it.
    int ReverseFind(char ch) const;
    // Index of the first occurrence of ch at or after nStart, or -1 (character-aware too).
    int Find(char ch, int nStart = 0) const;

    // Substrings clamp their arguments to the string, as the framework's do.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;

    // printf-style formatting at any length. The pattern is always the program's own text;
    // user data goes in through %s, never as the pattern.
    void Format(const char* pszFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* pszFormat, va_list args);

    // Character-wise counterparts of GetLength and Left: a multibyte character counts once
    // and is never split.
    int GetCharCount() const;
    CString LeftChars(int nCount) const;

    // How the ANSI code page in force groups bytes into characters: UTF-8 sequences when it is
    // UTF-8 (code page 65001, which the manifest asks for), else a lead byte and its trail
    // byte where the lead-byte test says so (null: a single-byte code page). Windows builds
    // follow the system; tests set their own.
    using LeadByteTest = bool (*)(unsigned char);
    static void SetLeadByteTest(LeadByteTest test) {
        s_pfnIsLeadByte = test;
    }
    static LeadByteTest GetLeadByteTest() {
        return s_pfnIsLeadByte;
    }
    static void SetUtf8(bool bUtf8) {
        s_bUtf8 = bUtf8;
    }
    static bool IsUtf8() {
        return s_bUtf8;
    }
    // Length in bytes of the character that starts at p, nLeft (> 0) bytes being left.
    static size_t CharLengthAt(const char* p, size_t nLeft);

private:
    // Length in bytes of the character that starts at byte index i.
    size_t CharLength(size_t i) const;

    std::string m_str;
    static LeadByteTest s_pfnIsLeadByte;
    static bool s_bUtf8;
};
