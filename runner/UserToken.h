// The token a child runs with when it is to have its user's own rights rather than the
// administrator's that elevation gave this program: the desktop user's, whose shell runs
// without elevation. That user may be another than the administrator who elevated this program
// (a standard user given an administrator's password): the child then reads and writes that
// user's files with that user's rights.
#pragma once

#include "framework/Handle.h"

// A primary token for such a child, made from this process's own (no privilege needed: it is a
// restricted version of the caller's token): every group that gives an administrator's rights
// for deny only, no privilege but bypass traverse checking, medium integrity, and a default
// DACL of the user and the system. Empty where there is nothing to take away, where the user's
// own programs run as administrator too (UAC off: the token is not split), or where the system
// cannot make it: the child then runs with this process's token, as any child would.
CKernelHandle MakeUserRightsToken();

// What the choice of a child's token rests on.
struct CTokenFacts {
    bool bElevatedFull = false;  // this process is elevated and has a filtered twin (UAC on)
    bool bShellToken = false;    // the token of the desktop's shell process could be had
    bool bShellElevated = false; // ...and that shell runs elevated itself
};

enum class EChildToken {
    Own,        // this process's token, as any child gets: nothing to take away (UAC off)
    Shell,      // a copy of the desktop shell's token: the desktop user's own rights
    Restricted, // MakeUserRightsToken: this process's, less the administrators' rights
};

EChildToken ChooseChildToken(const CTokenFacts& facts);

// The facts of this process and its desktop, and the token they choose, put in *phToken
// (empty for Own, or when the chosen token could not be made).
EChildToken MakeChildToken(CKernelHandle* phToken);
