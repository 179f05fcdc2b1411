// The install tests' shared kit. Runs on the test's main thread, except the
// notice watcher, which has a thread of its own and only reads windows and
// posts to them.
#include "install/InstallTestKit.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <set>

#include "harness/TestHarness.h"
#include "base/Module.h"
#include "install/InstallCheck.h"
#include "install/InstallLogic.h"

// "업데이트 파일 다운로드에 실패 했습니다!   "
const char kNoticeDownloadFailed[] =
    "\xbe\xf7\xb5\xa5\xc0\xcc\xc6\xae\x20\xc6\xc4\xc0\xcf\x20\xb4\xd9\xbf\xee\xb7\xce\xb5\xe5\xbf\xa1\x20"
    "\xbd\xc7\xc6\xd0\x20\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9\x21\x20\x20\x20";
// "서버 버전정보 파일을 열 수 없습니다!   "
const char kNoticeNoServerVersion[] =
    "\xbc\xad\xb9\xf6\x20\xb9\xf6\xc0\xfc\xc1\xa4\xba\xb8\x20\xc6\xc4\xc0\xcf\xc0\xbb\x20\xbf\xad\x20"
    "\xbc\xf6\x20\xbe\xf8\xbd\xc0\xb4\xcf\xb4\xd9\x21\x20\x20\x20";
// "설치중입니다.."
const char kStatusInstalling[] = "\xbc\xb3\xc4\xa1\xc1\xdf\xc0\xd4\xb4\xcf\xb4\xd9\x2e\x2e";
// "타브린 프로그램 설치"
const char kInstallCaption[] = "\xc5\xb8\xba\xea\xb8\xb0 \xc7\xc1\xb7\xce\xb1\xd7\xb7\xa5 \xbc\xb3\xc4\xa1";

namespace
{
#ifdef INSTALL_TEST_STALL_MS
// The dialog tests run the install code in this program with lowered bounds, so
// that stalled and silent cases end in seconds; set before any test runs.
const bool g_boundsLowered =
    (OverrideInstallBounds({INSTALL_TEST_STALL_MS, INSTALL_TEST_SETUP_TOTAL_MS, INSTALL_TEST_RESULT_WAIT_MS}), true);
#endif
const PackageNames kMain = {true, "/vude/ver.ini", "_ver.ini", "ver.ini", "/vude/setup.exe", "setup.exe",
                            "install_result"};
const PackageNames kSp = {false, "/vude/spver.ini", "_spver.ini", "spver.ini", "/vude/TavrineSSUp.exe",
                          "TavrineSSUp.exe", "installsp_result"};

std::string LocalPathOf(const std::string& urlPath)
{
    std::string path = ServerRoot() + urlPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// --- observation of one run

CheckRun* g_run = nullptr;   // the run being recorded; main thread only

bool IsInstallDialog(HWND hwnd)
{
    HWND bar = GetDlgItem(hwnd, 205);
    if (!bar || !GetDlgItem(hwnd, 206))
        return false;
    char name[64] = "";
    GetClassNameA(bar, name, sizeof(name));
    return lstrcmpiA(name, "msctls_progress32") == 0;
}

LRESULT CALLBACK RecordHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && g_run)
    {
        HWND parent = GetParent(msg->hwnd);
        if (msg->message == WM_SETTEXT && GetDlgCtrlID(msg->hwnd) == 206 && parent && IsInstallDialog(parent))
        {
            char text[512] = "";
            GetWindowTextA(msg->hwnd, text, sizeof(text));
            g_run->statusTexts.push_back(text);
        }
        else if (msg->message == WM_SETTEXT && IsInstallDialog(msg->hwnd))
        {
            char text[512] = "";
            GetWindowTextA(msg->hwnd, text, sizeof(text));
            g_run->captions.push_back(text);
        }
        else if (msg->message == PBM_SETPOS && GetDlgCtrlID(msg->hwnd) == 205 && parent && IsInstallDialog(parent))
        {
            g_run->barPositions.push_back(static_cast<int>(SendMessageA(msg->hwnd, PBM_GETPOS, 0, 0)));
        }
        else if (((msg->message == WM_SHOWWINDOW && msg->wParam) ||
                  (msg->message == WM_WINDOWPOSCHANGED &&
                   (reinterpret_cast<const WINDOWPOS*>(msg->lParam)->flags & SWP_SHOWWINDOW))) &&
                 IsInstallDialog(msg->hwnd))
        {
            g_run->dialogShown = true;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct Watcher
{
    DWORD thread = 0;
    bool tryDismiss = false;
    HANDLE stop = nullptr;
    std::vector<std::string> notices;
    std::set<HWND> handled;
    int dismissAttempts = 0;
    bool stillOpen = false;
    HWND dismissed = nullptr;
    DWORD dismissedAt = 0;
    bool decided = false;
};

BOOL CALLBACK VisitWindow(HWND hwnd, LPARAM param)
{
    Watcher* w = reinterpret_cast<Watcher*>(param);
    char name[16] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    wchar_t caption[16] = L"";
    GetWindowTextW(hwnd, caption, 16);
    if (lstrcmpW(caption, L"\xC54C\xB9BC") == 0)   // "알림"
    {
        if (w->handled.insert(hwnd).second)
        {
            char text[512] = "";
            GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof(text));
            w->notices.push_back(text);
            PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        }
    }
    else if (w->tryDismiss && !w->dismissed && IsInstallDialog(hwnd))
    {
        // Everything a user could try: Enter, Esc, Alt+F4, and the commands they turn into.
        PostMessageA(hwnd, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(hwnd, WM_SYSKEYDOWN, VK_F4, 0x20000000);
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
        w->dismissAttempts = 7;
        w->dismissed = hwnd;
        w->dismissedAt = GetTickCount();
    }
    return TRUE;
}

DWORD WINAPI WatchThread(LPVOID param)
{
    Watcher* w = static_cast<Watcher*>(param);
    while (WaitForSingleObject(w->stop, 20) == WAIT_TIMEOUT)
    {
        EnumThreadWindows(w->thread, VisitWindow, reinterpret_cast<LPARAM>(w));
        if (w->dismissed && !w->decided && GetTickCount() - w->dismissedAt >= 700)
        {
            w->stillOpen = IsWindow(w->dismissed) && IsWindowVisible(w->dismissed);
            w->decided = true;
        }
    }
    return 0;
}

std::string ToHex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes)
    {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

void DeleteWithRetry(const std::string& path)
{
    // A test may have left the file read-only.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // A setup fixture that has just written its result may still be exiting.
    for (int attempt = 0; attempt < 40; ++attempt)
    {
        if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
            GetLastError() == ERROR_PATH_NOT_FOUND)
            return;
        Sleep(100);
    }
    ok(false, "cannot delete %s (error %lu)", path.c_str(), GetLastError());
}
}

const PackageNames& Package(bool main)
{
    return main ? kMain : kSp;
}

std::string ServerRoot()
{
    return WindowsPathOf(EnvOr("TAVRINE_INSTALL_WWW"));
}

void ServeFile(const std::string& urlPath, const std::string& body, const std::string& mode)
{
    std::string path = LocalPathOf(urlPath);
    CreateDirectoryA((ServerRoot() + "\\vude").c_str(), nullptr);
    WriteAll(path, body);
    if (mode.empty())
        RemoveFile(path + ".mode");
    else
        WriteAll(path + ".mode", mode);
}

void RemoveServed(const std::string& urlPath)
{
    RemoveFile(LocalPathOf(urlPath));
    RemoveFile(LocalPathOf(urlPath) + ".mode");
}

void SetServerOffline(bool offline)
{
    std::string flag = ServerRoot() + "\\_offline";
    if (offline)
        WriteAll(flag, "");
    else
        RemoveFile(flag);
    // The server looks at the flag every 50 ms.
    Sleep(300);
}

int RequestCount(const std::string& urlPath)
{
    std::string log = ReadAll(ServerRoot() + "\\_requests.log");
    std::string needle = urlPath + " ";
    int count = 0;
    for (size_t at = 0; (at = log.find(needle, at)) != std::string::npos; at += needle.size())
        if (at == 0 || log[at - 1] == '\n')
            ++count;
    return count;
}

void ServeSetup(bool main, const SetupScript& script, const std::string& mode)
{
    std::string fixture = ReadAll(WindowsPathOf(EnvOr("TAVRINE_SETUP_FIXTURE")));
    ok(!fixture.empty(), "setup fixture not found at %s", EnvOr("TAVRINE_SETUP_FIXTURE").c_str());
    std::string body = fixture + "\n@@tavrine-setup-script@@\n";
    body += "mode=" + script.mode + "\n";
    if (script.writeVersion)
        body += "version=" + ToHex(script.version) + "\n";
    body += "result=" + ToHex(script.result) + "\n";
    body += "delay=" + std::to_string(script.delayMs) + "\n";
    for (const std::string& file : script.installs)
        body += "install=" + file + "\n";
    body += "log=" + ServerRoot() + "\\_setup_runs.log\n";
    ServeFile(Package(main).setupUrl, body, mode);
}

int SetupRuns()
{
    std::string log = ReadAll(ServerRoot() + "\\_setup_runs.log");
    int runs = 0;
    for (size_t at = 0; (at = log.find(" ran", at)) != std::string::npos; at += 4)
        ++runs;
    return runs;
}

std::string InstallDir()
{
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return std::string(folder) + "\\Tavrine\\";
}

std::string TempDir()
{
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        data.append(buffer, read);
    CloseHandle(file);
    return data;
}

void WriteAll(const std::string& path, const std::string& data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ok(file != INVALID_HANDLE_VALUE, "cannot create %s (error %lu)", path.c_str(), GetLastError());
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    if (!data.empty())
        WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
}

void RemoveFile(const std::string& path)
{
    DeleteWithRetry(path);
}

namespace
{
void FindCopies(const std::string& folder, const std::string& bytes, int depth, std::vector<std::string>& found)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        std::string name = entry.cFileName;
        // Wine links the profile's document folders to the Unix home: not the profile's own.
        if (name == "." || name == ".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::string path = folder + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (depth < 16)
                FindCopies(path, bytes, depth + 1, found);
        }
        else if (entry.nFileSizeHigh == 0 && entry.nFileSizeLow == bytes.size() && ReadAll(path) == bytes)
            found.push_back(path);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}
}

std::vector<std::string> CopiesInProfile(const std::string& bytes)
{
    char profile[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
    ok(length > 0 && length < MAX_PATH, "no USERPROFILE");
    std::vector<std::string> found;
    if (!bytes.empty() && length > 0 && length < MAX_PATH)
        FindCopies(profile, bytes, 0, found);
    return found;
}

void ResetWorld()
{
    SetServerOffline(false);
    std::string vude = ServerRoot() + "\\vude\\";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((vude + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                RemoveFile(vude + found.cFileName);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveFile(ServerRoot() + "\\_requests.log");
    RemoveFile(ServerRoot() + "\\_setup_runs.log");
    CreateDirectoryA(InstallDir().c_str(), nullptr);
    for (bool main : {true, false})
    {
        const PackageNames& p = Package(main);
        RemoveFile(InstallDir() + p.localVersion);
        RemoveFile(TempDir() + p.serverCopy);
        RemoveFile(TempDir() + p.setupFile);
        RemoveFile(TempDir() + p.resultFile);
    }
}

namespace
{
bool RunPackageCheck(void* context)
{
    return RunInstallCheck(*static_cast<bool*>(context));
}
}

CheckRun RunCheck(bool main, bool tryDismiss)
{
    CheckRun run = Observe(RunPackageCheck, &main, tryDismiss);
    trace("%s check: answer %d after %lu ms, %zu notice(s), shown %d, %zu status text(s)\n", main ? "main" : "Sp",
          run.answer, run.elapsedMs, run.notices.size(), run.dialogShown, run.statusTexts.size());
    return run;
}

CheckRun Observe(bool (*call)(void* context), void* context, bool tryDismiss)
{
    CheckRun run;
    Watcher watcher;
    watcher.thread = GetCurrentThreadId();
    watcher.tryDismiss = tryDismiss;
    watcher.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WatchThread, &watcher, 0, nullptr);
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, RecordHook, nullptr, GetCurrentThreadId());
    ok(thread && hook, "watcher %p, hook %p", thread, hook);

    g_run = &run;
    DWORD start = GetTickCount();
    run.answer = call(context);
    run.elapsedMs = GetTickCount() - start;
    g_run = nullptr;

    if (hook)
        UnhookWindowsHookEx(hook);
    SetEvent(watcher.stop);
    if (thread)
    {
        ok(WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0, "watcher did not stop");
        CloseHandle(thread);
    }
    CloseHandle(watcher.stop);
    run.notices = watcher.notices;
    run.dismissAttempts = watcher.dismissAttempts;
    run.stillOpenAfterDismiss = watcher.stillOpen;
    return run;
}

HWND CreateCompanionWindow(const char* windowClass)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = windowClass;
    RegisterClassA(&wc);
    return CreateWindowA(windowClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

void UseControlResources()
{
    static HMODULE dll = nullptr;
    if (!dll)
    {
        dll = LoadLibraryA(TestDllPath().c_str());
        ok(dll != nullptr, "cannot load %s: %lu", TestDllPath().c_str(), GetLastError());
        Module::SetInstance(dll);
    }
}

bool AnyTextStartsWith(const std::vector<std::string>& texts, const std::string& prefix)
{
    for (const std::string& text : texts)
        if (text.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

std::string SizeText(ULONG bytes)
{
    char text[256] = "";
    StrFormatByteSizeA(bytes, text, sizeof(text));
    return text;
}

std::string DescribeRun(const CheckRun& run)
{
    char text[160];
    snprintf(text, sizeof(text), "answer %s, %u message(s), setup ran %d time(s), %lu ms",
             run.answer ? "true" : "false", static_cast<unsigned>(run.notices.size()), SetupRuns(), run.elapsedMs);
    return text;
}
