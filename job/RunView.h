// What a run shows the user and asks of them, on the dialog that owns the run: the GO button's
// state, message boxes, the choice of a rebuild's reference. Tests put in their own.
#pragma once

#include "framework/CString.h"

class CWnd;

class CRunView {
public:
    virtual ~CRunView() = default;

    // The dialog whose GO button (IDOK) shows the run's state.
    void Attach(CWnd* pOwner) { m_pOwner = pOwner; }
    // GO reads "Waiting..." and is disabled while a run is on, "GO" and enabled otherwise.
    virtual void ShowRunning(bool bRunning);
    // A message to the user about the run (a modal message box).
    virtual void ShowMessage(const CString& text);
    // A question with Yes and No, No the default unless bYesDefault; true for Yes.
    virtual bool Ask(const CString& text, bool bYesDefault = false);
    // Yes, No or Cancel: IDYES, IDNO or IDCANCEL; Yes is the default.
    virtual int AskThree(const CString& text);
    // The whole recording to rebuild a broken one (named brokenName) from, chosen by the user;
    // empty when none was.
    virtual CString ChooseReference(const CString& brokenName);

protected:
    CWnd* m_pOwner = nullptr;
};
