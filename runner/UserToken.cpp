#include "runner/UserToken.h"

#include <cstring>
#include <vector>

namespace {

// The groups whose rights UAC keeps from a user's programs until they are elevated: built-in
// Administrators, Power Users, Account, Server, Print, Backup, Network Configuration and
// Cryptographic Operators; a domain's Admins, Controllers, Cert Publishers, Schema and
// Enterprise Admins, Group Policy Creator Owners and read-only controllers.
const DWORD kBuiltinAdminRids[] = {DOMAIN_ALIAS_RID_ADMINS,
                                   DOMAIN_ALIAS_RID_POWER_USERS,
                                   DOMAIN_ALIAS_RID_ACCOUNT_OPS,
                                   DOMAIN_ALIAS_RID_SYSTEM_OPS,
                                   DOMAIN_ALIAS_RID_PRINT_OPS,
                                   DOMAIN_ALIAS_RID_BACKUP_OPS,
                                   DOMAIN_ALIAS_RID_NETWORK_CONFIGURATION_OPS,
                                   DOMAIN_ALIAS_RID_CRYPTO_OPERATORS};
const DWORD kDomainAdminRids[] = {DOMAIN_GROUP_RID_ADMINS,
                                  DOMAIN_GROUP_RID_CONTROLLERS,
                                  DOMAIN_GROUP_RID_CERT_ADMINS,
                                  DOMAIN_GROUP_RID_SCHEMA_ADMINS,
                                  DOMAIN_GROUP_RID_ENTERPRISE_ADMINS,
                                  DOMAIN_GROUP_RID_POLICY_ADMINS,
                                  DOMAIN_GROUP_RID_READONLY_CONTROLLERS,
                                  DOMAIN_GROUP_RID_ENTERPRISE_READONLY_DOMAIN_CONTROLLERS};

template <size_t N> bool Contains(const DWORD (&rids)[N], DWORD rid) {
    for (DWORD r : rids)
        if (r == rid)
            return true;
    return false;
}

bool IsAdminGroup(PSID sid) {
    static const SID_IDENTIFIER_AUTHORITY kNt = SECURITY_NT_AUTHORITY;
    if (!::IsValidSid(sid) || std::memcmp(::GetSidIdentifierAuthority(sid), &kNt, sizeof(kNt)) != 0)
        return false;
    // S-1-5-32-<rid>, and a domain's S-1-5-21-<three numbers>-<rid>.
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    if (count == 2 && *::GetSidSubAuthority(sid, 0) == SECURITY_BUILTIN_DOMAIN_RID)
        return Contains(kBuiltinAdminRids, *::GetSidSubAuthority(sid, 1));
    if (count == 5 && *::GetSidSubAuthority(sid, 0) == SECURITY_NT_NON_UNIQUE)
        return Contains(kDomainAdminRids, *::GetSidSubAuthority(sid, 4));
    return false;
}

// One class of a token's information; empty on failure. The vector's storage is aligned for
// the structures it holds.
std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS infoClass) {
    DWORD size = 0;
    ::GetTokenInformation(token, infoClass, nullptr, 0, &size);
    std::vector<BYTE> info(size);
    if (size == 0 || !::GetTokenInformation(token, infoClass, info.data(), size, &size))
        info.clear();
    return info;
}

bool IsElevated(HANDLE token) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

// A primary token copied from the process behind the desktop's shell window (Explorer), which
// runs with the desktop user's own rights; empty where there is no shell or it cannot be had.
CKernelHandle ShellToken(bool* pbElevated) {
    const HWND shell = ::GetShellWindow();
    DWORD pid = 0;
    if (!shell || !::GetWindowThreadProcessId(shell, &pid) || pid == 0)
        return {};
    const CKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    CKernelHandle token, primary;
    if (!process ||
        !::OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()) ||
        !::DuplicateTokenEx(token.get(),
                            TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                                TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                            nullptr, SecurityImpersonation, TokenPrimary, primary.put()))
        return {};
    *pbElevated = IsElevated(primary.get());
    return primary;
}

} // namespace

EChildToken ChooseChildToken(const CTokenFacts& facts) {
    if (!facts.bElevatedFull)
        return EChildToken::Own;
    // An elevated shell would hand the child the administrator's rights again.
    if (facts.bShellToken && !facts.bShellElevated)
        return EChildToken::Shell;
    return EChildToken::Restricted;
}

EChildToken MakeChildToken(CKernelHandle* phToken) {
    phToken->reset();
    CTokenFacts facts;
    CKernelHandle own;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    facts.bElevatedFull =
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.put()) &&
        ::GetTokenInformation(own.get(), TokenElevationType, &type, sizeof(type), &size) &&
        type == TokenElevationTypeFull;
    CKernelHandle shell;
    if (facts.bElevatedFull)
        shell = ShellToken(&facts.bShellElevated);
    facts.bShellToken = static_cast<bool>(shell);
    const EChildToken choice = ChooseChildToken(facts);
    if (choice == EChildToken::Shell)
        *phToken = std::move(shell);
    else if (choice == EChildToken::Restricted)
        *phToken = MakeUserRightsToken();
    return choice;
}

CKernelHandle MakeUserRightsToken() {
    CKernelHandle own;
    if (!::OpenProcessToken(
            ::GetCurrentProcess(),
            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, own.put()))
        return {};
    // Elevated with a filtered twin: the user's own programs run without the administrators'
    // rights. Otherwise (UAC off, or not elevated) they have what this process has.
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!::GetTokenInformation(own.get(), TokenElevationType, &type, sizeof(type), &size) ||
        type != TokenElevationTypeFull)
        return {};

    const std::vector<BYTE> groupInfo = TokenInfo(own.get(), TokenGroups);
    const std::vector<BYTE> privilegeInfo = TokenInfo(own.get(), TokenPrivileges);
    const std::vector<BYTE> userInfo = TokenInfo(own.get(), TokenUser);
    if (groupInfo.empty() || privilegeInfo.empty() || userInfo.empty())
        return {};
    const auto& groups = *reinterpret_cast<const TOKEN_GROUPS*>(groupInfo.data());
    std::vector<SID_AND_ATTRIBUTES> denied;
    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        if ((groups.Groups[i].Attributes & SE_GROUP_ENABLED) && IsAdminGroup(groups.Groups[i].Sid))
            denied.push_back({groups.Groups[i].Sid, 0});
    }
    if (denied.empty())
        return {};
    // Bypass traverse checking stays: without it a path through a folder the user may not
    // list would fail. The user's own programs hold a few more, which the tool does not need.
    LUID changeNotify{};
    if (!::LookupPrivilegeValueA(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify))
        return {};
    const auto& privileges = *reinterpret_cast<const TOKEN_PRIVILEGES*>(privilegeInfo.data());
    std::vector<LUID_AND_ATTRIBUTES> removed;
    for (DWORD i = 0; i < privileges.PrivilegeCount; ++i) {
        const LUID& luid = privileges.Privileges[i].Luid;
        if (luid.LowPart != changeNotify.LowPart || luid.HighPart != changeNotify.HighPart)
            removed.push_back({luid, 0});
    }

    CKernelHandle restricted;
    if (!::CreateRestrictedToken(own.get(), 0, static_cast<DWORD>(denied.size()), denied.data(),
                                 static_cast<DWORD>(removed.size()), removed.data(), 0, nullptr,
                                 restricted.put()))
        return {};

    // Medium integrity, as the user's own programs have: what is labelled for elevated
    // programs only (their processes and windows among them) stays out of its reach.
    SID medium = {
        SID_REVISION, 1, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_MEDIUM_RID}};
    TOKEN_MANDATORY_LABEL label{{&medium, SE_GROUP_INTEGRITY}};
    if (!::SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label,
                               sizeof(label) + ::GetLengthSid(&medium)))
        return {};

    // What the child makes without inheriting an ACL (its process and threads, say) is the
    // user's and the system's, as for any program of the user's: the administrators' default
    // would keep the child out of its own objects.
    PSID user = reinterpret_cast<const TOKEN_USER*>(userInfo.data())->User.Sid;
    SID system = {SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID}};
    const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                          ::GetLengthSid(user) + ::GetLengthSid(&system);
    std::vector<BYTE> aclBuffer(aclSize);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    TOKEN_DEFAULT_DACL dacl{acl};
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, &system) ||
        !::SetTokenInformation(restricted.get(), TokenDefaultDacl, &dacl, sizeof(dacl)))
        return {};
    return restricted;
}
