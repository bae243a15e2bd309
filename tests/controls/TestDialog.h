// Ids of the dialog the link tests host their control in.
#pragma once

#define IDD_LINK_TEST 200
#define IDC_TEST_LINK 1003
