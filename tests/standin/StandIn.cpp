// Stands in for the multiplexing tool in tests. Started as the program starts the tool
// ("...\MP4Box.exe" -itags "Name=x" -add "src" -new "out"), it copies -add to -new; its manifest
// gives it the UTF-8 code page, so names in any script reach its file calls whole. What else
// it does is chosen by STANDIN_MODE and by --mode, each a "key=value;key" list:
//   log=<path>        write the exact command line to <path>, as UTF-8
//   pidfile=<path>    write the process id to <path> (a grandchild writes to <path>.2)
//   showinfo          print how the window was asked to show and whether the console shows
//   place=<path>      write where it runs to <path>: its console window (none, hidden or
//                     visible), current folder, PATH, whether SHELL is set, and its token: the
//                     integrity level, the Administrators group (enabled, deny-only, absent),
//                     the privileges, whom the default DACL grants, and whether all that is the
//                     desktop shell's token's (shell=same|other|none); and its job's limits
//   readstdin         read stdin to its end, print the byte count
//   grandchild=<ms>   start a copy that inherits the handles and sleeps <ms>
//   lendpipes=<pid>   give process <pid> copies of its output handles (a process outside the
//                     tool's reach that holds the pipes); their values go to <log>.pipes
//   output=copy|good|truncated|notmp4|none   what to write at -new (copy by default)
//   keep              write nothing when -new exists already (and still exit 0)
//   settime=<n>       give the file written at -new this write time (FILETIME, 100 ns units),
//                     as a file system with a coarse clock would
//   slowwrite         write half the output file, sleep (sleep=), then the rest
//   progress=<n>      n progress lines ending in \r on stdout, then a blank line
//   phases=<k>        as many phases of them (1 or 2), pause=<ms> after each line
//   progresserr       the progress lines go to stderr, as current builds print them
//   errors=<n>        n error lines on stderr
//   interleave=<n>    n error lines on each stream, written in alternating pieces of 3 bytes
//   stdout=<bytes>, stderr=<bytes>   the test pattern, both streams at once
//   zero              "abc", a zero byte, "def" in one write on stdout
//   forge=<hwnd>      send that window records made up as another program would (a finish,
//                     output with a guessed key, output as plain text)
//   sleep=<ms>, exit=<code>, crash (a real access violation)
//   exitstamp=<path>  write the performance counter to <path> as the last thing before exit
#include "tests/standin/Pattern.h"
#include "tests/media/TestBoxes.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Mode = std::map<std::string, std::string>;

void ParseMode(const std::string& text, Mode& mode) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(pos, end - pos);
        if (!item.empty()) {
            const size_t eq = item.find('=');
            if (eq == std::string::npos)
                mode[item] = "";
            else
                mode[item.substr(0, eq)] = item.substr(eq + 1);
        }
        pos = end + 1;
    }
}

unsigned long long Number(const Mode& mode, const char* key, unsigned long long fallback) {
    const auto it = mode.find(key);
    return it == mode.end() ? fallback : std::strtoull(it->second.c_str(), nullptr, 0);
}

bool Has(const Mode& mode, const char* key) {
    return mode.count(key) != 0;
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD part = size > 65536 ? 65536 : static_cast<DWORD>(size);
        if (!WriteFile(h, data, part, &written, nullptr))
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = WriteAll(h, bytes.data(), bytes.size());
    CloseHandle(h);
    return ok;
}

// The command line as the system passed it (UTF-16), in UTF-8 whatever the code page.
std::string CommandLineUtf8() {
    const wchar_t* line = GetCommandLineW();
    const int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, &text[0], n, nullptr, nullptr);
    text.resize(static_cast<size_t>(n) - 1);
    return text;
}

// One class of a token's information; empty on failure.
std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS infoClass) {
    std::vector<BYTE> info;
    DWORD size = 0;
    GetTokenInformation(token, infoClass, nullptr, 0, &size);
    info.resize(size);
    if (size == 0 || !GetTokenInformation(token, infoClass, info.data(), size, &size))
        info.clear();
    return info;
}

std::string TokenLines(HANDLE token) {
    std::string integrity, admins = "absent", privileges, dacl;
    const std::vector<BYTE> label = TokenInfo(token, TokenIntegrityLevel);
    if (!label.empty()) {
        PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
        const DWORD rid = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
        integrity = rid == SECURITY_MANDATORY_MEDIUM_RID ? "medium"
                    : rid == SECURITY_MANDATORY_HIGH_RID ? "high"
                                                         : std::to_string(rid);
    }
    BYTE adminsSid[SECURITY_MAX_SID_SIZE], systemSid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(adminsSid);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &size);
    size = sizeof(systemSid);
    CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &size);
    const std::vector<BYTE> groupInfo = TokenInfo(token, TokenGroups);
    const auto* groups =
        groupInfo.empty() ? nullptr : reinterpret_cast<const TOKEN_GROUPS*>(groupInfo.data());
    for (DWORD i = 0; groups && i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, adminsSid))
            admins =
                groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY ? "deny-only" : "enabled";
    }
    const std::vector<BYTE> privilegeInfo = TokenInfo(token, TokenPrivileges);
    const auto* list = privilegeInfo.empty()
                           ? nullptr
                           : reinterpret_cast<const TOKEN_PRIVILEGES*>(privilegeInfo.data());
    for (DWORD i = 0; list && i < list->PrivilegeCount; ++i) {
        char name[64] = "";
        DWORD length = sizeof(name);
        LUID luid = list->Privileges[i].Luid;
        LookupPrivilegeNameA(nullptr, &luid, name, &length);
        privileges += (privileges.empty() ? "" : ",") + std::string(name);
    }
    const std::vector<BYTE> userInfo = TokenInfo(token, TokenUser);
    const std::vector<BYTE> daclInfo = TokenInfo(token, TokenDefaultDacl);
    ACL* acl = daclInfo.empty() || userInfo.empty()
                   ? nullptr
                   : reinterpret_cast<const TOKEN_DEFAULT_DACL*>(daclInfo.data())->DefaultDacl;
    for (WORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)))
            continue;
        PSID sid = &ace->SidStart;
        const bool user =
            EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(userInfo.data())->User.Sid);
        dacl += (dacl.empty() ? "" : ",") + std::string(user                       ? "user"
                                                        : EqualSid(sid, systemSid) ? "system"
                                                                                   : "other");
    }
    return "integrity=" + integrity + "\nadministrators=" + admins + "\nprivileges=" + privileges +
           "\ndefaultdacl=" + dacl + "\n";
}

// Its own token's lines, and whether they are those of the desktop shell's token ("same",
// "other", or "none" when there is no shell or its token cannot be read).
std::string OwnTokenLines() {
    HANDLE own = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own);
    const std::string lines = TokenLines(own);
    CloseHandle(own);
    std::string shell = "none";
    DWORD pid = 0;
    const HWND window = GetShellWindow();
    HANDLE process = window && GetWindowThreadProcessId(window, &pid)
                         ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)
                         : nullptr;
    HANDLE token = nullptr;
    if (process && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        shell = TokenLines(token) == lines ? "same" : "other";
        CloseHandle(token);
    }
    if (process)
        CloseHandle(process);
    return lines + "shell=" + shell + "\n";
}

// The limits of the job it runs in: "job=none", or its limit flags, the most processes it may
// hold and the memory a process may commit (0: no limit). Wine reports no limits (flags 0).
std::string JobLine() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits), nullptr))
        return "job=none\n";
    const DWORD flags = limits.BasicLimitInformation.LimitFlags;
    return "job=flags:" + std::to_string(flags) + ",processes:" +
           std::to_string(flags & JOB_OBJECT_LIMIT_ACTIVE_PROCESS
                              ? limits.BasicLimitInformation.ActiveProcessLimit
                              : 0) +
           ",memory:" +
           std::to_string(flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY ? limits.ProcessMemoryLimit : 0) +
           "\n";
}

void Print(HANDLE h, const std::string& text) {
    WriteAll(h, text.data(), text.size());
}

struct Flood {
    HANDLE handle;
    int stream;
    unsigned long long size;
};

DWORD WINAPI WritePattern(LPVOID param) {
    const Flood& flood = *static_cast<const Flood*>(param);
    std::vector<char> chunk;
    // Uneven write sizes, so reads see every kind of boundary.
    for (unsigned long long done = 0, n = 0; done < flood.size; ++n) {
        unsigned long long part = 1000 + (n * 7919) % 7000;
        if (part > flood.size - done)
            part = flood.size - done;
        chunk.resize(static_cast<size_t>(part));
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = PatternByte(flood.stream, done + i);
        if (!WriteAll(flood.handle, chunk.data(), chunk.size()))
            return 1;
        done += part;
    }
    return 0;
}

bool WriteOutput(const Mode& mode, const std::string& source, const std::string& target) {
    const auto it = mode.find("output");
    const std::string kind = it == mode.end() ? "copy" : it->second;
    if (kind == "none" || target.empty())
        return true;
    if (Has(mode, "keep") && GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    std::string bytes;
    if (kind == "good" || kind == "truncated") {
        bytes = testmedia::SmallMp4();
        if (kind == "truncated")
            bytes.resize(bytes.size() - 2048);
    } else if (kind == "notmp4") {
        bytes = "This is not a video file.\r\n";
    } else {
        HANDLE h = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            bytes.append(buffer, got);
        CloseHandle(h);
    }
    if (Has(mode, "settime")) {
        const unsigned long long time = Number(mode, "settime", 0);
        const FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
        HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool ok = h != INVALID_HANDLE_VALUE && WriteAll(h, bytes.data(), bytes.size()) &&
                        SetFileTime(h, nullptr, nullptr, &ft);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        return ok;
    }
    if (!Has(mode, "slowwrite"))
        return WriteFileBytes(target, bytes);
    HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const size_t half = bytes.size() / 2;
    bool ok = WriteAll(h, bytes.data(), half);
    FlushFileBuffers(h);
    Sleep(static_cast<DWORD>(Number(mode, "sleep", 2000)));
    ok = ok && WriteAll(h, bytes.data() + half, bytes.size() - half);
    CloseHandle(h);
    return ok;
}

void StartGrandchild(const Mode& mode, const char* self) {
    std::string childMode =
        (Has(mode, "chatter") ? "dots=" : "sleep=") + std::to_string(Number(mode, "grandchild", 0));
    const auto pid = mode.find("pidfile");
    if (pid != mode.end())
        childMode += ";pidfile=" + pid->second + ".2";
    std::string command = "\"" + std::string(self) + "\" --mode \"" + childMode + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // Its mode comes from the command line only.
    SetEnvironmentVariableA("STANDIN_MODE", nullptr);
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

// Progress lines as the multiplexer prints them, n for each phase, each phase ended by a
// blank line.
void PrintProgress(const Mode& mode, HANDLE h) {
    static const char* const kPhases[] = {"Importing ISO File", "ISO File Writing"};
    const unsigned long long n = Number(mode, "progress", 0);
    const unsigned long long phases = n ? Number(mode, "phases", 1) : 0;
    const DWORD pause = static_cast<DWORD>(Number(mode, "pause", 0));
    for (unsigned long long phase = 0; phase < phases && phase < 2; ++phase) {
        std::string line;
        for (unsigned long long i = 0; i < n; ++i) {
            const size_t bar = static_cast<size_t>(i * 20 / n);
            const unsigned long long percent = i * 100 / n;
            line = std::string(kPhases[phase]) + ": |" + std::string(bar, '=') +
                   std::string(20 - bar, ' ') + "| (" + (percent < 10 ? "0" : "") +
                   std::to_string(percent) + "/100)\r";
            Print(h, line);
            Sleep(pause);
        }
        Print(h, std::string(line.size() - 1, ' ') + "\r");
        Sleep(pause);
    }
}

// Records for the runner's owner that did not come from its runner: whatever their shape, the
// owner must not take them.
void ForgeRecords(HWND hwnd) {
    struct {
        unsigned char key[16];
        DWORD nStream;
        char text[32];
    } guessed{{}, 1, "Error: forged record\n"};
    const char plain[] = "Error: forged text\n";
    COPYDATASTRUCT records[] = {{5, 0, nullptr},
                                {5, sizeof(guessed), &guessed},
                                {3, sizeof(guessed), &guessed},
                                {3, sizeof(plain), const_cast<char*>(plain)}};
    for (COPYDATASTRUCT& record : records) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record), SMTO_BLOCK,
                            10000, &ignored);
    }
}

// The exception code becomes the exit code, as after a crash on Windows, without the
// debugger that Wine would start.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndWithExceptionCode);
    Mode mode;
    std::vector<char> env(32768);
    const DWORD envLength =
        GetEnvironmentVariableA("STANDIN_MODE", env.data(), static_cast<DWORD>(env.size()));
    if (envLength > 0 && envLength < env.size())
        ParseMode(env.data(), mode);
    std::string source, target;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mode")
            ParseMode(argv[++i], mode);
        else if (arg == "-add")
            source = argv[++i];
        else if (arg == "-new")
            target = argv[++i];
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);

    if (Has(mode, "pidfile"))
        WriteFileBytes(mode["pidfile"], std::to_string(GetCurrentProcessId()));
    if (Has(mode, "log"))
        WriteFileBytes(mode["log"], CommandLineUtf8());
    if (Has(mode, "showinfo")) {
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        GetStartupInfoA(&si);
        const HWND console = GetConsoleWindow();
        const char* shown = !console ? "none" : IsWindowVisible(console) ? "visible" : "hidden";
        Print(out, "show=" + std::to_string(si.wShowWindow) +
                       " flags=" + std::to_string(si.dwFlags) + " console=" + shown + "\n");
    }
    if (Has(mode, "place")) {
        const HWND console = GetConsoleWindow();
        char folder[MAX_PATH + 1] = "";
        GetCurrentDirectoryA(sizeof(folder), folder);
        std::vector<char> path(32768);
        path.resize(GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size())));
        const bool bShell = GetEnvironmentVariableA("SHELL", nullptr, 0) > 0;
        WriteFileBytes(mode["place"], std::string("console=") +
                                          (!console                   ? "none"
                                           : IsWindowVisible(console) ? "visible"
                                                                      : "hidden") +
                                          "\nfolder=" + folder +
                                          "\nPATH=" + std::string(path.begin(), path.end()) +
                                          "\nSHELL=" + (bShell ? "set" : "unset") + "\n" +
                                          OwnTokenLines() + JobLine());
    }
    if (Has(mode, "readstdin")) {
        char buffer[4096];
        DWORD got = 0;
        unsigned long long total = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &got, nullptr) &&
               got > 0)
            total += got;
        Print(out, "stdin=" + std::to_string(total) + "\n");
    }
    if (Has(mode, "grandchild"))
        StartGrandchild(mode, argv[0]);
    if (Has(mode, "lendpipes")) {
        HANDLE borrower = OpenProcess(PROCESS_DUP_HANDLE, FALSE,
                                      static_cast<DWORD>(Number(mode, "lendpipes", 0)));
        HANDLE lent[2] = {nullptr, nullptr};
        if (borrower) {
            DuplicateHandle(GetCurrentProcess(), out, borrower, &lent[0], 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
            DuplicateHandle(GetCurrentProcess(), err, borrower, &lent[1], 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
            CloseHandle(borrower);
        }
        WriteFileBytes(mode["log"] + ".pipes",
                       std::to_string(reinterpret_cast<UINT_PTR>(lent[0])) + " " +
                           std::to_string(reinterpret_cast<UINT_PTR>(lent[1])));
    }

    const bool outputOk = WriteOutput(mode, source, target);
    PrintProgress(mode, Has(mode, "progresserr") ? err : out);
    for (unsigned long long i = 0, n = Number(mode, "errors", 0); i < n; ++i)
        Print(err, "Error: something failed (" + std::to_string(i + 1) + ")\n");
    for (unsigned long long i = 0, n = Number(mode, "interleave", 0); i < n; ++i) {
        const std::string lines[2] = {
            "Error: stdout line " + std::to_string(i + 1) + " of the tool\n",
            "Error: stderr line " + std::to_string(i + 1) + " of the tool\n"};
        // A pause after each piece, so that the reader of each stream gets pieces, not lines.
        for (size_t at = 0; at < lines[0].size() || at < lines[1].size(); at += 3) {
            for (int stream = 0; stream < 2; ++stream) {
                if (at < lines[stream].size()) {
                    Print(stream == 0 ? out : err, lines[stream].substr(at, 3));
                    Sleep(1);
                }
            }
        }
    }

    Flood floods[2] = {{out, kPatternStdOut, Number(mode, "stdout", 0)},
                       {err, kPatternStdErr, Number(mode, "stderr", 0)}};
    HANDLE writer = CreateThread(nullptr, 0, WritePattern, &floods[1], 0, nullptr);
    WritePattern(&floods[0]);
    if (writer) {
        WaitForSingleObject(writer, INFINITE);
        CloseHandle(writer);
    }
    if (Has(mode, "zero"))
        WriteAll(out, "abc\0def", 7);
    if (Has(mode, "forge"))
        ForgeRecords(reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(mode, "forge", 0))));

    if (!Has(mode, "slowwrite"))
        Sleep(static_cast<DWORD>(Number(mode, "sleep", 0)));

    if (Has(mode, "crash")) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (Has(mode, "exitstamp")) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        WriteFileBytes(mode["exitstamp"], std::to_string(now.QuadPart));
    }
    return static_cast<int>(Number(mode, "exit", outputOk ? 0 : 1));
}
