// A line of fields, as the rebuild tool prints its result and the window reads it back: a
// record's name, then each field after one space; text escaped (%XX) so that no field holds a
// space or a control character; numbers in decimal, never negative where they are unsigned,
// times and rates bounded. The reader takes only what the writer can write. Portable.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace fieldline {

// The longest text a field holds.
const size_t kMaxFieldText = 150;

// Times, rates and lengths are never negative and far below this (some 30 years in seconds);
// anything else is no result.
const double kMaxValue = 1e9;

inline bool Escaped(unsigned char ch) {
    return ch <= 0x20 || ch >= 0x7F || ch == '%';
}

inline int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

class CFieldWriter {
public:
    explicit CFieldWriter(const char* pszRecord) : m_line(pszRecord) {}
    const std::string& Line() {
        m_line += '\n';
        return m_line;
    }

    void Field(const std::string& str) {
        static const char kHex[] = "0123456789ABCDEF";
        m_line += ' ';
        const size_t nLength = std::min(str.size(), kMaxFieldText);
        for (size_t i = 0; i < nLength; ++i) {
            const unsigned char ch = static_cast<unsigned char>(str[i]);
            if (Escaped(ch)) {
                m_line += '%';
                m_line += kHex[ch >> 4];
                m_line += kHex[ch & 15];
            } else {
                m_line += static_cast<char>(ch);
            }
        }
        if (nLength == 0)
            m_line += "%";
    }
    void Field(bool b) { m_line += b ? " 1" : " 0"; }
    void Field(double d) {
        char text[40];
        std::snprintf(text, sizeof text, " %.17g",
                      std::isfinite(d) ? std::min(std::max(d, 0.0), kMaxValue) : 0.0);
        m_line += text;
    }
    template <typename T> std::enable_if_t<std::is_integral<T>::value> Field(T n) {
        m_line += ' ';
        m_line += std::to_string(n);
    }
    template <typename E> void Enum(E e, E) { Field(static_cast<int>(e)); }

private:
    std::string m_line;
};

class CFieldReader {
public:
    explicit CFieldReader(const std::string& str, size_t nAt) : m_str(str), m_nAt(nAt) {}
    bool Ok() const { return m_bOk && m_nAt == m_str.size(); }

    void Field(std::string& str) {
        const std::string token = Token();
        str.clear();
        if (token.empty())
            return Fail();
        if (token == "%")
            return;
        for (size_t i = 0; i < token.size() && m_bOk; ++i) {
            if (token[i] != '%') {
                str += token[i];
                continue;
            }
            const int nHigh = i + 2 < token.size() ? HexDigit(token[i + 1]) : -1;
            const int nLow = nHigh >= 0 ? HexDigit(token[i + 2]) : -1;
            if (nLow < 0 || !Escaped(static_cast<unsigned char>(nHigh * 16 + nLow)))
                m_bOk = false;
            else
                str += static_cast<char>(nHigh * 16 + nLow);
            i += 2;
        }
        if (str.size() > kMaxFieldText)
            m_bOk = false;
    }
    void Field(bool& b) {
        const std::string token = Token();
        m_bOk = m_bOk && (token == "0" || token == "1");
        b = token == "1";
    }
    void Field(double& d) {
        // Digits, a point and an exponent only: no "nan", "inf" or hexadecimal.
        const std::string token = Token();
        for (char ch : token) {
            if (!((ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '+' || ch == 'e'))
                m_bOk = false;
        }
        if (!m_bOk || token.empty())
            return Fail();
        char* pEnd = nullptr;
        d = std::strtod(token.c_str(), &pEnd);
        if (pEnd != token.c_str() + token.size() || !(d >= 0 && d <= kMaxValue))
            Fail();
    }
    template <typename T> std::enable_if_t<std::is_integral<T>::value> Field(T& n) {
        const std::string token = Token();
        const bool bNegative = !token.empty() && token[0] == '-';
        if (token.size() == size_t(bNegative) || token.size() > 21 ||
            (bNegative && !std::is_signed<T>::value))
            return Fail();
        // Magnitudes up to that of the type's least value, negated at the end.
        const unsigned long long nLimit =
            bNegative ? 0ull - static_cast<unsigned long long>(std::numeric_limits<T>::min())
                      : static_cast<unsigned long long>(std::numeric_limits<T>::max());
        unsigned long long nValue = 0;
        for (size_t i = bNegative ? 1 : 0; i < token.size(); ++i) {
            const unsigned nDigit = static_cast<unsigned>(token[i] - '0');
            if (nDigit > 9 || nValue > (nLimit - nDigit) / 10)
                return Fail();
            nValue = nValue * 10 + nDigit;
        }
        n = bNegative ? static_cast<T>(0ull - nValue) : static_cast<T>(nValue);
    }
    template <typename E> void Enum(E& e, E last) {
        int n = -1;
        Field(n);
        if (n < 0 || n > static_cast<int>(last))
            return Fail();
        e = static_cast<E>(n);
    }

private:
    void Fail() { m_bOk = false; }
    // The next field: one space, then everything up to the next space or the end.
    std::string Token() {
        if (!m_bOk || m_nAt >= m_str.size() || m_str[m_nAt] != ' ') {
            m_bOk = false;
            return std::string();
        }
        const size_t nBegin = m_nAt + 1;
        size_t nEnd = m_str.find(' ', nBegin);
        if (nEnd == std::string::npos)
            nEnd = m_str.size();
        m_nAt = nEnd;
        return m_str.substr(nBegin, nEnd - nBegin);
    }

    const std::string& m_str;
    size_t m_nAt;
    bool m_bOk = true;
};

} // namespace fieldline
