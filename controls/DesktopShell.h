// Opening an address or a file the way the user's own desktop would: through the shell that
// runs the desktop, so what starts runs at the user's level. The program runs elevated, and
// ShellExecute from it would start the browser elevated too.
#pragma once

// Asks the desktop's shell to open pszTarget with its registered handler, shown as nShow
// (an SW_ value). False when the desktop's shell cannot be reached (no Explorer, a system
// that lacks the interfaces): then nothing was started. It waits for Explorer, which can take
// seconds when Explorer is busy, so a window's thread should not call it; the calling thread
// joins a single-threaded COM apartment for the call.
bool OpenWithDesktopShell(const char* pszTarget, int nShow);
