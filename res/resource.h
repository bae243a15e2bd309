// Resource and command ids.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128

#define IDC_SOURCE_PATH 1000
#define IDC_OPEN 1001
#define IDC_PRODUCTS_LINK 1003

// System-menu commands keep their low four bits clear.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
