// Puts a code page's rule for characters in force for one scope of a test.
#pragma once

#include "framework/CString.h"

// Shift-JIS: 0x81-0x9F and 0xE0-0xFC lead a two-byte character whose trail may be 0x5C ('\').
inline bool ShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

class CCodePageScope {
public:
    static CCodePageScope Utf8() { return CCodePageScope(true, nullptr); }
    static CCodePageScope ShiftJis() { return CCodePageScope(false, &ShiftJisLead); }

    ~CCodePageScope() {
        CString::SetUtf8(m_bSavedUtf8);
        CString::SetLeadByteTest(m_pfnSaved);
    }
    CCodePageScope(const CCodePageScope&) = delete;
    CCodePageScope& operator=(const CCodePageScope&) = delete;

private:
    CCodePageScope(bool bUtf8, CString::LeadByteTest test) {
        CString::SetUtf8(bUtf8);
        CString::SetLeadByteTest(test);
    }

    const bool m_bSavedUtf8 = CString::IsUtf8();
    const CString::LeadByteTest m_pfnSaved = CString::GetLeadByteTest();
};
