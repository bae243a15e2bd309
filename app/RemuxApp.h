// The application object: the program is its main dialog, run modally.
#pragma once

#include "framework/WinApp.h"

class CRemuxApp : public CWinApp {
public:
    CRemuxApp() = default;
    BOOL InitInstance() override;
};
