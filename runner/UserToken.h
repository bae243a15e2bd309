// The token a child runs with when it is to have its user's own rights rather than the
// administrator's that elevation gave this program.
#pragma once

#include "framework/Handle.h"

// A primary token for such a child, made from this process's own (no privilege needed: it is a
// restricted version of the caller's token): every group that gives an administrator's rights
// for deny only, no privilege but bypass traverse checking, medium integrity, and a default
// DACL of the user and the system. Empty where there is nothing to take away, where the user's
// own programs run as administrator too (UAC off: the token is not split), or where the system
// cannot make it: the child then runs with this process's token, as any child would.
CKernelHandle MakeUserRightsToken();
