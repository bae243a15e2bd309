#include "tests/support/Harness.h"

#include "tests/media/TestBoxes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#ifndef CLIPMEND_EXE
#error "CLIPMEND_EXE must name the program under test"
#endif
#ifndef STANDIN_EXE
#define STANDIN_EXE ""
#endif
#ifndef E2E_SHOT_DIR
#define E2E_SHOT_DIR ""
#endif

namespace e2e {
namespace {

const char kCaption[] = "Velmora Clipmend - ONE Click";
const int kFileNameBox = 1148; // cmb13 of the Explorer-style Open dialog
const UINT kSendTimeoutMs = 5000;

std::string EnvVar(const char* name) {
    DWORD n = ::GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0)
        return std::string();
    std::string value(n, '\0');
    n = ::GetEnvironmentVariableA(name, &value[0], n);
    value.resize(n);
    return value;
}

std::string LastErrorText(const std::string& what, DWORD error) {
    std::ostringstream s;
    s << what << " (error " << error << ")";
    return s.str();
}

bool MakeFolders(const std::string& path) {
    for (size_t pos = path.find('\\', 3); pos != std::string::npos; pos = path.find('\\', pos + 1))
        ::CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
    return ::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA fd;
    CFindHandle find(::FindFirstFileA((path + "\\*").c_str(), &fd));
    if (find) {
        do {
            if (!std::strcmp(fd.cFileName, ".") || !std::strcmp(fd.cFileName, ".."))
                continue;
            const std::string child = path + "\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileA(child.c_str());
        } while (::FindNextFileA(find.get(), &fd));
    }
    find.reset();
    ::RemoveDirectoryA(path.c_str());
}

bool WriteFileText(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return static_cast<bool>(out);
}

struct FindState {
    DWORD pid;
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lParam) {
    auto* state = reinterpret_cast<FindState*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == state->pid && state->match(hwnd)) {
        state->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A shown top-level window of the process that satisfies match.
HWND FindWindowOf(DWORD pid, const std::function<bool(HWND)>& match) {
    FindState state{pid, match, nullptr};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

bool IsDialogWindow(HWND hwnd) {
    return IsShown(hwnd) && ClassNameOf(hwnd) == "#32770";
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

class CScreenDC {
public:
    CScreenDC() : m_hdc(::GetDC(nullptr)) {}
    ~CScreenDC() {
        if (m_hdc)
            ::ReleaseDC(nullptr, m_hdc);
    }
    CScreenDC(const CScreenDC&) = delete;
    CScreenDC& operator=(const CScreenDC&) = delete;
    HDC get() const { return m_hdc; }

private:
    HDC m_hdc;
};

class CMemoryDC {
public:
    explicit CMemoryDC(HDC like) : m_hdc(::CreateCompatibleDC(like)) {}
    ~CMemoryDC() {
        if (m_hdc)
            ::DeleteDC(m_hdc);
    }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    HDC get() const { return m_hdc; }

private:
    HDC m_hdc;
};

} // namespace

bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (cond())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(20);
    }
}

std::string HostPathToWindows(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    // Wine maps its Z: drive to the Unix root; ask Wine first, in case a prefix differs.
    using ToDos = WCHAR*(CDECL*)(const char*);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (toDos) {
        if (WCHAR* wide = toDos(path.c_str())) {
            int n = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
            std::string result(n > 0 ? n : 0, '\0');
            if (n > 0)
                ::WideCharToMultiByte(CP_ACP, 0, wide, -1, &result[0], n, nullptr, nullptr);
            ::HeapFree(::GetProcessHeap(), 0, wide);
            if (!result.empty()) {
                result.resize(result.size() - 1);
                return result;
            }
        }
    }
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string WindowText(HWND hwnd) {
    // The text may change between the two questions (a caption showing progress): a copy that
    // fills the buffer is read again with room to spare.
    for (int attempt = 0; attempt < 10; ++attempt) {
        DWORD_PTR length = 0;
        if (!::SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                   &length))
            return std::string();
        std::string text(length + 64, '\0');
        DWORD_PTR copied = 0;
        if (!::SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(),
                                   reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                                   kSendTimeoutMs, &copied))
            return std::string();
        if (copied + 1 < text.size()) {
            text.resize(copied);
            return text;
        }
    }
    return std::string();
}

std::string ClassNameOf(HWND hwnd) {
    char name[257]; // class names are limited to 256 characters
    int n = ::GetClassNameA(hwnd, name, sizeof(name));
    return std::string(name, n > 0 ? n : 0);
}

bool IsShown(HWND hwnd) {
    return hwnd && ::IsWindow(hwnd) && ::IsWindowVisible(hwnd);
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT RectInClient(HWND dialog, HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FocusedWindow(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(threadId, &info))
        return nullptr;
    return info.hwndFocus;
}

CDialogUnits::CDialogUnits(const wchar_t* face, WORD pointSize) {
    // An extended template with no controls: the header, then menu, class, title, font.
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    t.push_back(1);      // dlgVer
    t.push_back(0xFFFF); // signature
    dword(0);            // helpID
    dword(0);            // exStyle
    dword(WS_POPUP | DS_SETFONT | DS_MODALFRAME | WS_CAPTION);
    t.push_back(0); // no controls
    for (int i = 0; i < 4; ++i)
        t.push_back(0); // x, y, cx, cy
    t.push_back(0);     // no menu
    t.push_back(0);     // default class
    t.push_back(0);     // no title
    t.push_back(pointSize);
    t.push_back(FW_NORMAL);
    t.push_back(MAKEWORD(FALSE, DEFAULT_CHARSET)); // italic, charset
    for (const wchar_t* p = face; *p; ++p)
        t.push_back(static_cast<WORD>(*p));
    t.push_back(0);
    // Templates must be DWORD aligned; a vector's storage is.
    HWND dlg = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                            reinterpret_cast<const DLGTEMPLATE*>(t.data()), nullptr,
                                            InertDialogProc, 0);
    if (!dlg)
        return;
    RECT base{0, 0, 4, 8};
    if (::MapDialogRect(dlg, &base)) {
        m_baseX = base.right;
        m_baseY = base.bottom;
    }
    ::DestroyWindow(dlg);
}

RECT CDialogUnits::Map(int x, int y, int cx, int cy) const {
    const int left = ::MulDiv(x, m_baseX, 4);
    const int top = ::MulDiv(y, m_baseY, 8);
    return RECT{left, top, left + ::MulDiv(cx, m_baseX, 4), top + ::MulDiv(cy, m_baseY, 8)};
}

void Click(HWND button) {
    ::PostMessageA(button, BM_CLICK, 0, 0);
}

void ClickInside(HWND ctrl) {
    RECT rect{};
    ::GetClientRect(ctrl, &rect);
    const LPARAM at = MAKELPARAM((rect.right - rect.left) / 2, (rect.bottom - rect.top) / 2);
    ::PostMessageA(ctrl, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageA(ctrl, WM_LBUTTONUP, 0, at);
}

void PressKey(HWND target, UINT vk) {
    const UINT scan = ::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    ::PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    ::PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

void TypeChar(HWND target, char ch) {
    ::PostMessageA(target, WM_CHAR, static_cast<unsigned char>(ch), 1);
}

std::string SaveScreenshot(HWND hwnd, const std::string& name) {
    std::string folder = EnvVar("CLIPMEND_E2E_SHOTS");
    if (folder.empty())
        folder = E2E_SHOT_DIR;
    folder = HostPathToWindows(folder);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    if (folder.empty() || !MakeFolders(folder))
        return std::string();

    RECT rect{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (hwnd)
        ::GetWindowRect(hwnd, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return std::string();

    CScreenDC screen;
    CMemoryDC memory(screen.get());
    CGdiHandle bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
    if (!screen.get() || !memory.get() || !bitmap)
        return std::string();
    HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory.get(), old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height; // bottom-up, as BMP files store rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = ((width * 3) + 3) & ~3u;
    std::vector<char> pixels(static_cast<size_t>(stride) * height);
    if (!::GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, height, pixels.data(),
                     reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS))
        return std::string();

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    const std::string path = folder + "\\" + name + ".bmp";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return out ? path : std::string();
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

CClipmend::CClipmend(Options options) : m_options(std::move(options)) {
    static unsigned s_counter = 0;
    DWORD n = ::GetTempPathA(0, nullptr);
    std::string temp(n, '\0');
    n = ::GetTempPathA(n, &temp[0]);
    temp.resize(n);
    if (!temp.empty() && temp.back() == '\\')
        temp.pop_back();
    std::ostringstream folder;
    folder << temp << "\\clipmend-e2e-" << ::GetCurrentProcessId() << "-" << ++s_counter;
    m_folder = folder.str();
    m_exe = m_folder + "\\Clipmend.exe";
}

CClipmend::~CClipmend() {
    if (m_process && !HasExited()) {
        ::TerminateProcess(m_process.get(), 1);
        // The exe stays locked until the process is really gone.
        ::WaitForSingleObject(m_process.get(), 10000);
    }
    m_process.reset();
    if (!m_folder.empty() && EnvVar("CLIPMEND_E2E_KEEP").empty())
        RemoveTree(m_folder);
}

bool CClipmend::Fail(const std::string& what) {
    m_error = what;
    return false;
}

std::string CClipmend::CopyIn(const std::string& from, const std::string& relPath) const {
    const std::string path = m_folder + "\\" + relPath;
    MakeFolders(path.substr(0, path.rfind('\\')));
    return ::CopyFileA(from.c_str(), path.c_str(), FALSE) ? path : std::string();
}

std::string CClipmend::MakeFile(const std::string& relPath) const {
    return MakeFile(relPath, testmedia::SmallMp4());
}

std::string CClipmend::MakeFile(const std::string& relPath, const std::string& contents) const {
    const std::string path = m_folder + "\\" + relPath;
    const size_t slash = path.rfind('\\');
    MakeFolders(path.substr(0, slash));
    return WriteFileText(path, contents) ? path : std::string();
}

std::vector<char> CClipmend::EnvironmentBlock() const {
    // Windows wants the block sorted, names compared without case.
    struct NoCase {
        bool operator()(const std::string& a, const std::string& b) const {
            return ::lstrcmpiA(a.c_str(), b.c_str()) < 0;
        }
    };
    std::map<std::string, std::string, NoCase> vars;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += std::strlen(p) + 1) {
            const char* eq = std::strchr(p + 1, '='); // "=C:=C:\" names start with '='
            if (eq)
                vars[std::string(p, eq)] = eq + 1;
        }
        ::FreeEnvironmentStringsA(block);
    }
    std::string mode = "log=" + StandinLogPath();
    if (!m_options.standinMode.empty())
        mode += ";" + m_options.standinMode;
    vars["STANDIN_MODE"] = mode;
    for (const auto& kv : m_options.env)
        vars[kv.first] = kv.second;

    std::vector<char> result;
    for (const auto& kv : vars) {
        const std::string entry = kv.first + "=" + kv.second;
        result.insert(result.end(), entry.begin(), entry.end());
        result.push_back('\0');
    }
    result.push_back('\0');
    return result;
}

bool CClipmend::Start() {
    if (!MakeFolders(m_folder))
        return Fail(LastErrorText("cannot create " + m_folder, ::GetLastError()));
    const std::string exe = HostPathToWindows(CLIPMEND_EXE);
    if (!m_options.installedExe.empty()) {
        m_exe = m_options.installedExe;
    } else if (!::CopyFileA(exe.c_str(), m_exe.c_str(), FALSE)) {
        return Fail(LastErrorText("cannot copy " + exe, ::GetLastError()));
    }
    if (!m_options.installedExe.empty()) {
        // The installed program runs with the tool the installer put beside it.
    } else if (!m_options.toolExe.empty()) {
        MakeFolders(m_folder + "\\tool");
        if (!::CopyFileA(m_options.toolExe.c_str(), (m_folder + "\\tool\\MP4Box.exe").c_str(),
                         FALSE))
            return Fail(LastErrorText("cannot copy " + m_options.toolExe, ::GetLastError()));
    } else if (m_options.withTool) {
        const std::string standin = HostPathToWindows(STANDIN_EXE);
        if (standin.empty())
            return Fail("the stand-in tool (standin.exe) is not part of this build");
        MakeFolders(m_folder + "\\tool");
        const std::string tool = m_folder + "\\tool\\MP4Box.exe";
        if (!::CopyFileA(standin.c_str(), tool.c_str(), FALSE))
            return Fail(LastErrorText("cannot copy " + standin, ::GetLastError()));
    }

    // The rebuild tool beside the tool, as the downloads have it.
    if (m_options.installedExe.empty()) {
        MakeFolders(m_folder + "\\tool");
        const std::string rebuild =
            HostPathToWindows(m_options.standinRebuilds ? STANDIN_EXE : REBUILD_EXE);
        if (!::CopyFileA(rebuild.c_str(), (m_folder + "\\tool\\ClipmendRebuild.exe").c_str(),
                         FALSE))
            return Fail(LastErrorText("cannot copy " + rebuild, ::GetLastError()));
    }

    std::vector<char> env = EnvironmentBlock();
    std::string cmdline = "\"" + m_exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(m_exe.c_str(), &cmdline[0], nullptr, nullptr, FALSE, 0, env.data(),
                          m_folder.c_str(), &si, &pi))
        return Fail(LastErrorText("cannot start " + m_exe, ::GetLastError()));
    m_process.reset(pi.hProcess);
    CKernelHandle thread(pi.hThread);
    m_pid = pi.dwProcessId;
    m_tid = pi.dwThreadId;

    const bool shown = WaitUntil([this] {
        m_hMain = FindWindowOf(m_pid, [](HWND h) {
            return IsShown(h) && ::GetParent(h) == nullptr && WindowText(h) == kCaption;
        });
        return m_hMain != nullptr || HasExited();
    });
    if (!m_hMain) {
        DWORD code = 0;
        ::GetExitCodeProcess(m_process.get(), &code);
        return Fail(shown ? LastErrorText("Clipmend exited before showing its window", code)
                          : "Clipmend's main window did not appear");
    }
    // The dialog is shown before it is idle; an answered message means its loop runs.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(m_hMain, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    return true;
}

void CClipmend::PressKey(UINT vk) const {
    HWND target = Focus();
    e2e::PressKey(target ? target : m_hMain, vk);
}

HWND CClipmend::WaitForOpenDialog(DWORD timeoutMs, const std::string& title) const {
    HWND dlg = nullptr;
    WaitUntil(
        [&] {
            dlg = FindWindowOf(m_pid, [&title](HWND h) {
                return IsDialogWindow(h) && WindowText(h) == title &&
                       ::GetDlgItem(h, kFileNameBox) != nullptr;
            });
            return dlg != nullptr;
        },
        timeoutMs);
    return dlg;
}

bool CClipmend::ChooseFile(const std::string& path) {
    ClickButton(1001);
    return ChooseInOpenDialog("Open", path);
}

bool CClipmend::ChooseInOpenDialog(const std::string& title, const std::string& path,
                                   const std::string& shot) {
    HWND dlg = WaitForOpenDialog(kTimeoutMs, title);
    if (!dlg)
        return Fail("no Open dialog titled \"" + title +
                    "\"; the program's windows: " + DescribeWindows());
    if (!shot.empty())
        SaveScreenshot(nullptr, shot);
    HWND box = ::GetDlgItem(dlg, kFileNameBox);
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored))
        return Fail("cannot type into the Open dialog");
    ::PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDOK)));
    if (!WaitUntil([dlg] { return !IsShown(dlg); }))
        return Fail("the Open dialog did not close after choosing " + path);
    return true;
}

bool CClipmend::CancelOpen() {
    ClickButton(1001);
    HWND dlg = WaitForOpenDialog();
    if (!dlg)
        return Fail("the Open dialog did not appear");
    ::PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDCANCEL)));
    if (!WaitUntil([dlg] { return !IsShown(dlg); }))
        return Fail("the Open dialog did not close on Cancel");
    return true;
}

bool CClipmend::WaitForMessageBox(MessageBoxInfo* info, DWORD timeoutMs) {
    HWND box = nullptr;
    const HWND main = m_hMain;
    WaitUntil(
        [&] {
            box = FindWindowOf(m_pid, [main](HWND h) {
                return IsDialogWindow(h) && ::GetWindow(h, GW_OWNER) == main &&
                       ::GetDlgItem(h, kFileNameBox) == nullptr;
            });
            return box != nullptr;
        },
        timeoutMs);
    if (!box)
        return Fail("no message box; the program's windows: " + DescribeWindows());
    info->hwnd = box;
    info->caption = WindowText(box);
    info->text = WindowText(::GetDlgItem(box, 0xFFFF));
    info->buttons.clear();
    for (HWND child : ChildWindows(box)) {
        if (ClassNameOf(child) == "Button")
            info->buttons.push_back(WindowText(child));
    }
    return true;
}

bool CClipmend::MessageBoxAppears(DWORD withinMs) {
    MessageBoxInfo ignored;
    return WaitForMessageBox(&ignored, withinMs);
}

std::string CClipmend::DescribeWindows() const {
    std::ostringstream s;
    FindWindowOf(m_pid, [&](HWND h) {
        s << "\n  " << h << " " << ClassNameOf(h) << " \"" << WindowText(h) << "\" owner "
          << ::GetWindow(h, GW_OWNER) << (IsShown(h) ? " shown" : " hidden")
          << (::IsWindowEnabled(h) ? "" : " disabled");
        return false;
    });
    if (m_hMain)
        s << "\n  (main window " << m_hMain << ")";
    return s.str();
}

bool CClipmend::PressButton(const MessageBoxInfo& box, int id) {
    ::PostMessageA(box.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box.hwnd, id)));
    if (!WaitUntil([&box] { return !IsShown(box.hwnd); }))
        return Fail("the message box \"" + box.text + "\" did not close on OK");
    return true;
}

bool CClipmend::Close() {
    ::PostMessageA(m_hMain, WM_CLOSE, 0, 0);
    if (!WaitForExit(kTimeoutMs))
        return Fail("Clipmend did not exit after WM_CLOSE");
    return true;
}

bool CClipmend::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (!m_process || ::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        ::GetExitCodeProcess(m_process.get(), exitCode);
    return true;
}

bool CClipmend::HasExited() const {
    return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0;
}

} // namespace e2e
