// What the tests of a child started with the user's rights ask of this process's own token.
#pragma once

#include "framework/Handle.h"

#include <windows.h>

// True when this process runs elevated with a filtered twin (UAC on, or Wine): a child
// started with the user's rights then runs with a restricted token.
inline bool IsElevatedWithFilteredToken() {
    CKernelHandle token;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
           ::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size) &&
           type == TokenElevationTypeFull;
}

// True when the system honours lowering a token's integrity level (Wine 8 ignores it).
inline bool SystemLowersIntegrity() {
    CKernelHandle own, copy;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.put()) ||
        !::DuplicateTokenEx(own.get(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, nullptr,
                            SecurityIdentification, TokenPrimary, copy.put()))
        return false;
    SID untrusted = {
        SID_REVISION, 1, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_UNTRUSTED_RID}};
    TOKEN_MANDATORY_LABEL label{{&untrusted, SE_GROUP_INTEGRITY}};
    alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[64] = {};
    DWORD size = 0;
    return ::SetTokenInformation(copy.get(), TokenIntegrityLevel, &label,
                                 sizeof(label) + ::GetLengthSid(&untrusted)) &&
           ::GetTokenInformation(copy.get(), TokenIntegrityLevel, buffer, sizeof(buffer), &size) &&
           ::EqualSid(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid, &untrusted);
}
