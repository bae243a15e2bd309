// Static message maps: a table of plain entries per class, walked derived-first.
//
// Each entry carries a small thunk generated next to it from the typed handler, so a handler
// with the wrong signature fails to compile instead of being called through a cast.
#pragma once

#include <windows.h>

class CWnd;
class CDC;

// Messages a parent sends back to the child control they concern.
constexpr UINT WM_REFLECT_BASE = 0xBC00;
// The generic colour message the framework reflects every WM_CTLCOLOR* as.
#ifndef WM_CTLCOLOR
constexpr UINT WM_CTLCOLOR = 0x0019;
#endif

using AFX_PMSG = LRESULT (*)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;            // message id, unless pnRegistered is set
    const UINT* pnRegistered; // a registered message's id, read at dispatch time
    UINT nCode;               // notification code (WM_COMMAND and its reflection)
    UINT nID;                 // first control id
    UINT nLastID;             // last control id, inclusive
    AFX_PMSG pfn;             // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// First entry in map or its bases that takes (message, code, id); null if none does.
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode,
                                            UINT nID);

// The parameters a CDC handler receives for a colour message (reflected or not).
struct AFX_CTLCOLOR {
    HWND hWnd;
    HDC hDC;
    UINT nCtlType;
};

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        using ThisClass = theClass;                                                                \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, nullptr, 0, 0, 0, nullptr }                                                               \
    }                                                                                              \
    ;                                                                                              \
    static_assert(sizeof(ThisClass) > 0, "an empty map names its class too");                      \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &messageEntries[0]};   \
    return &messageMap;                                                                            \
    }

// The handler thunk: w is the object the map belongs to.
#define AFX_THUNK(...)                                                                             \
    [](CWnd* w, WPARAM wParam, LPARAM lParam) -> LRESULT {                                         \
        auto* self = static_cast<ThisClass*>(w);                                                   \
        (void)self;                                                                                \
        (void)wParam;                                                                              \
        (void)lParam;                                                                              \
        __VA_ARGS__                                                                                \
    }

// LRESULT fn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                             \
    { message, nullptr, 0, 0, 0, AFX_THUNK(return self->memberFxn(wParam, lParam);) }              \
    ,
#define ON_REGISTERED_MESSAGE(nMessageVariable, memberFxn)                                         \
    { 0, &nMessageVariable, 0, 0, 0, AFX_THUNK(return self->memberFxn(wParam, lParam);) }          \
    ,

// void fn() for a WM_COMMAND with this code from controls id..idLast
#define ON_CONTROL_RANGE(wNotifyCode, id, idLast, memberFxn)                                       \
    {                                                                                              \
        WM_COMMAND, nullptr, static_cast<UINT>(wNotifyCode), static_cast<UINT>(id),                \
            static_cast<UINT>(idLast), AFX_THUNK(self->memberFxn(); return 0;)                     \
    }                                                                                              \
    ,
#define ON_CONTROL(wNotifyCode, id, memberFxn) ON_CONTROL_RANGE(wNotifyCode, id, id, memberFxn)
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

// void fn() for a notification the parent reflects back to this control, whatever its id
#define ON_CONTROL_REFLECT(wNotifyCode, memberFxn)                                                 \
    {                                                                                              \
        WM_REFLECT_BASE + WM_COMMAND, nullptr, static_cast<UINT>(wNotifyCode), 0, 0xFFFF,          \
            AFX_THUNK(self->memberFxn(); return 0;)                                                \
    }                                                                                              \
    ,

// HBRUSH CtlColor(CDC* pDC, UINT nCtlColor); a null brush lets the parent decide
#define ON_WM_CTLCOLOR_REFLECT()                                                                   \
    {WM_REFLECT_BASE + WM_CTLCOLOR, nullptr, 0, 0, 0, AFX_THUNK({                                  \
         auto* ctl = reinterpret_cast<AFX_CTLCOLOR*>(lParam);                                      \
         CDC dc(ctl->hDC);                                                                         \
         return reinterpret_cast<LRESULT>(self->CtlColor(&dc, ctl->nCtlType));                     \
     })},

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                                         \
    {                                                                                              \
        WM_SYSCOMMAND, nullptr, 0, 0, 0,                                                           \
            AFX_THUNK(self->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0;)            \
    }                                                                                              \
    ,
// void OnPaint()
#define ON_WM_PAINT()                                                                              \
    { WM_PAINT, nullptr, 0, 0, 0, AFX_THUNK(self->OnPaint(); return 0;) }                          \
    ,
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                                      \
    {                                                                                              \
        WM_QUERYDRAGICON, nullptr, 0, 0, 0,                                                        \
            AFX_THUNK(return reinterpret_cast<LRESULT>(self->OnQueryDragIcon());)                  \
    }                                                                                              \
    ,
// void OnMouseMove(UINT nFlags, CPoint point)
#define ON_WM_MOUSEMOVE()                                                                          \
    {WM_MOUSEMOVE, nullptr, 0, 0, 0, AFX_THUNK({                                                   \
         self->OnMouseMove(static_cast<UINT>(wParam),                                              \
                           CPoint(GET_X_LPARAM_(lParam), GET_Y_LPARAM_(lParam)));                  \
         return 0;                                                                                 \
     })},
// BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message)
#define ON_WM_SETCURSOR()                                                                          \
    {                                                                                              \
        WM_SETCURSOR, nullptr, 0, 0, 0,                                                            \
            AFX_THUNK(return self->OnSetCursor(                                                    \
                CWnd::FromHandlePermanent(reinterpret_cast<HWND>(wParam)), LOWORD(lParam),         \
                HIWORD(lParam));)                                                                  \
    }                                                                                              \
    ,
// void OnDropFiles(HDROP hDropInfo)
#define ON_WM_DROPFILES()                                                                          \
    {                                                                                              \
        WM_DROPFILES, nullptr, 0, 0, 0,                                                            \
            AFX_THUNK(self->OnDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;)               \
    }                                                                                              \
    ,
// void OnDestroy()
#define ON_WM_DESTROY()                                                                            \
    { WM_DESTROY, nullptr, 0, 0, 0, AFX_THUNK(self->OnDestroy(); return 0;) }                      \
    ,

// Signed coordinates of a mouse message (multi-monitor setups give negative ones).
#define GET_X_LPARAM_(lp) (static_cast<int>(static_cast<short>(LOWORD(lp))))
#define GET_Y_LPARAM_(lp) (static_cast<int>(static_cast<short>(HIWORD(lp))))
