// Device contexts and GDI objects. CDC borrows a DC; CPaintDC pairs BeginPaint with EndPaint;
// CFont owns the font it creates.
#pragma once

#include "framework/Handle.h"
#include "framework/Wnd.h"

class CDC {
public:
    CDC() = default;
    explicit CDC(HDC hDC) : m_hDC(hDC) {}
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    COLORREF SetTextColor(COLORREF cr) const { return ::SetTextColor(m_hDC, cr); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    int SetBkMode(int mode) const { return ::SetBkMode(m_hDC, mode); }
    int GetBkMode() const { return ::GetBkMode(m_hDC); }
    BOOL DrawIcon(int x, int y, HICON hIcon) const { return ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC = nullptr;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWindow wnd) : m_hWnd(wnd.m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};

class CFont {
public:
    CFont() = default;
    BOOL CreateFontIndirect(const LOGFONTA* lf) {
        m_font.reset(::CreateFontIndirectA(lf));
        return m_font.valid();
    }
    BOOL DeleteObject() {
        const bool had = m_font.valid();
        m_font.reset();
        return had;
    }
    HFONT GetSafeHandle() const { return static_cast<HFONT>(m_font.get()); }
    operator HFONT() const { return GetSafeHandle(); }

private:
    CGdiHandle m_font;
};

// The framework's static control: a plain CWnd bound to a "Static" window.
class CStatic : public CWnd {};
