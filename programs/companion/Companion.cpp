// Reference companion program: the smallest program that honours what the
// control expects of the upload, download, speed download and explorer
// programs. One build is installed under the four names; it reads its role
// from the name it runs under. It logs everything it receives so that tests
// and the demonstration can see exactly what the control handed over.
//
// Names, window classes and command lines
//   TavrineUp.exe     class "tavrine_class_upload"    bbs <user ID> <password> <list file>
//   TavrineDown.exe   class "tavrine_class_down"      bbs|weblink <user ID> <password> <list file>
//   TavrineSpeed.exe  class "tavrine_class_down"      bbs <user ID> <password> <list file>
//   Explorer.exe      class "tavrine_class_explorer"  <user ID> <password>
//   Words are separated by single spaces. The list-file path has every space
//   written as "[[SPACE]]"; the credentials carry no space, tab, double quote
//   or control character (the control never starts a program otherwise).
//
// Job records (list file and WM_COPYDATA)
//   A list file is a plain sequence of records, no file header. Each record:
//     offset 0   uint32 LE  kind: 2 upload, 7 download, 8 web link
//     offset 4   uint32 LE  n = text bytes + 1 (the terminating NUL)
//     offset 8   uint32 LE  reserved, meaningless outside the control
//     offset 12  n bytes    job text in the ANSI code page, NUL-terminated
//   The control appends one whole record per hand-off while holding the file
//   open without sharing, and deletes (or, failing that, empties) the file
//   only just before it starts the program; a file it can do neither with
//   starts no program. This program never changes the file: it polls it every 100 ms,
//   reads the records beyond its last offset, and starts again at offset 0
//   when the file becomes shorter (it was deleted and created anew).
//   WM_COPYDATA: wParam identifies the sending control object (not a
//   window); dwData = kind, cbData = n, lpData = the text with its NUL. The
//   control sends it when it could not append the record to the list file,
//   or found the file gone right after appending.
//   Job texts: items joined by "#>"; a download item is idx "#<" path; a
//   web-link record's text is the link itself.
//
// Test hooks
//   TAVRINE_COMPANION_LOG   log file, appended to line by line; default
//                           "companion.log" next to the program.
//   TAVRINE_COMPANION_MODE  "nowindow": create no window; wait (at most
//                           60 s) for the event "TavrineCompanionStop", exit.
//                           "shortlived": end 1 s after the window appears.
//                           "hangcopydata": answer WM_COPYDATA only after 20 s.
//   WM_APP + 1              hold the list file open without sharing (the
//                           control cannot append while it is held);
//   WM_APP + 2              release it. Both answer 1 on success.
//   WM_CLOSE                ends the program.
//
// Log lines (also written to stdout): "<program> <pid> <event> <fields>"
//   start class=<class>
//   cmdline <the parameter string as received>
//   args command=<word> user=<id> password=<pw> list=<decoded path>   (explorer: user= password=)
//   record source=file offset=<o> kind=<k> length=<n> reserved=<hex> text=<text>
//   record source=copydata wparam=<hex> kind=<k> length=<n> text=<text>
//   bad source=<file|copydata> offset=<o> reason=<why>
//   item <i> idx=<idx>                       (kind 2)
//   item <i> idx=<idx> path=<path>           (kind 7)
//   link <text>                              (kind 8)
//   hold ok|failed, release, exit
// Texts are written byte for byte, except bytes below 0x20 and 0x7F, which
// appear as \xNN so every event stays on one line.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const UINT WM_HOLD_LIST = WM_APP + 1;
const UINT WM_RELEASE_LIST = WM_APP + 2;
const UINT_PTR IDT_POLL = 1;
const char kSpaceToken[] = "[[SPACE]]";

std::string g_program;      // the name this copy runs under
std::string g_windowClass;
std::string g_logPath;
std::string g_listPath;     // decoded; empty for the explorer
uint64_t g_listOffset = 0;
HANDLE g_hold = INVALID_HANDLE_VALUE;
int g_records = 0;
bool g_hangCopyData = false;
const UINT_PTR IDT_END = 2;

std::string Escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text)
    {
        if (c < 0x20 || c == 0x7F)
        {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\x%02X", c);
            out += buf;
        }
        else
        {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

void Log(const std::string& event)
{
    std::string line = g_program + " " + std::to_string(GetCurrentProcessId()) + " " + event + "\r\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    // Several companions may share one log: open per line, append only.
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        HANDLE file = CreateFileA(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}

std::string Hex(uint64_t value)
{
    char buf[24];
    std::snprintf(buf, sizeof(buf), "0x%llx", static_cast<unsigned long long>(value));
    return buf;
}

uint32_t ReadLittleEndian32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

std::vector<std::string> Split(const std::string& text, const char* separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t at = text.find(separator, start);
        if (at == std::string::npos)
        {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + std::strlen(separator);
    }
}

// Splits a job text into its items and logs them.
void LogJob(uint32_t kind, const std::string& text)
{
    ++g_records;
    if (kind == 8)
    {
        Log("link " + Escape(text));
        return;
    }
    std::vector<std::string> items = Split(text, "#>");
    for (size_t i = 0; i < items.size(); ++i)
    {
        std::string line = "item " + std::to_string(i + 1);
        if (kind == 7)
        {
            size_t at = items[i].find("#<");
            if (at == std::string::npos)
                line += " idx=" + Escape(items[i]) + " path=";
            else
                line += " idx=" + Escape(items[i].substr(0, at)) + " path=" + Escape(items[i].substr(at + 2));
        }
        else
        {
            line += " idx=" + Escape(items[i]);
        }
        Log(line);
    }
}

// Checks the text part of a record: n bytes, the last the only NUL.
bool TextWellFormed(const unsigned char* text, uint32_t length, std::string& why)
{
    if (length == 0)
    {
        why = "length 0";
        return false;
    }
    if (text[length - 1] != 0)
    {
        why = "no terminating NUL";
        return false;
    }
    if (std::memchr(text, 0, length - 1))
    {
        why = "NUL inside the text";
        return false;
    }
    return true;
}

// Reads the records appended since the last poll.
void PollListFile()
{
    if (g_listPath.empty() || g_hold != INVALID_HANDLE_VALUE)
        return;
    HANDLE file = CreateFileA(g_listPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    uint64_t total = static_cast<uint64_t>(size.QuadPart);
    if (total < g_listOffset)
        g_listOffset = 0;   // deleted and created anew
    std::vector<unsigned char> data(static_cast<size_t>(total - g_listOffset));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(g_listOffset);
    DWORD got = 0;
    if (!data.empty() && SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
    CloseHandle(file);

    size_t pos = 0;
    while (got - pos >= 12)
    {
        const unsigned char* header = data.data() + pos;
        uint32_t kind = ReadLittleEndian32(header);
        uint32_t length = ReadLittleEndian32(header + 4);
        uint32_t reserved = ReadLittleEndian32(header + 8);
        if (got - pos - 12 < length)
            break;   // not all there yet
        const unsigned char* text = header + 12;
        std::string why;
        uint64_t offset = g_listOffset + pos;
        if (!TextWellFormed(text, length, why))
        {
            Log("bad source=file offset=" + std::to_string(offset) + " reason=" + why);
        }
        else
        {
            std::string job(reinterpret_cast<const char*>(text), length - 1);
            Log("record source=file offset=" + std::to_string(offset) + " kind=" + std::to_string(kind) +
                " length=" + std::to_string(length) + " reserved=" + Hex(reserved) + " text=" + Escape(job));
            LogJob(kind, job);
        }
        pos += 12 + length;
    }
    g_listOffset += pos;
}

void OnCopyData(WPARAM wParam, const COPYDATASTRUCT* data)
{
    uint32_t kind = static_cast<uint32_t>(data->dwData);
    uint32_t length = data->cbData;
    std::string why;
    if (!data->lpData || !TextWellFormed(static_cast<const unsigned char*>(data->lpData), length, why))
    {
        Log("bad source=copydata offset=0 reason=" + (why.empty() ? std::string("no data") : why));
        return;
    }
    std::string job(static_cast<const char*>(data->lpData), length - 1);
    Log("record source=copydata wparam=" + Hex(static_cast<uint64_t>(wParam)) + " kind=" + std::to_string(kind) +
        " length=" + std::to_string(length) + " text=" + Escape(job));
    LogJob(kind, job);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_TIMER:
        if (wParam == IDT_POLL)
            PollListFile();
        else if (wParam == IDT_END)
            DestroyWindow(hwnd);
        return 0;
    case WM_COPYDATA:
        if (g_hangCopyData)
        {
            Log("hang");
            Sleep(20000);
        }
        OnCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return TRUE;
    case WM_HOLD_LIST:
        PollListFile();
        if (g_hold == INVALID_HANDLE_VALUE && !g_listPath.empty())
            g_hold = CreateFileA(g_listPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        Log(g_hold != INVALID_HANDLE_VALUE ? "hold ok" : "hold failed");
        return g_hold != INVALID_HANDLE_VALUE;
    case WM_RELEASE_LIST:
        if (g_hold != INVALID_HANDLE_VALUE)
            CloseHandle(g_hold);
        g_hold = INVALID_HANDLE_VALUE;
        Log("release");
        PollListFile();
        return 1;
    case WM_DESTROY:
        PollListFile();   // whatever arrived last
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::string EnvOr(const char* name, const std::string& fallback)
{
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof(buf));
    return n > 0 && n < sizeof(buf) ? std::string(buf, n) : fallback;
}

// The parameter string as the shell passed it, without the program name.
std::string Parameters()
{
    const char* p = GetCommandLineA();
    if (*p == '"')
    {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p)
            ++p;
    }
    else
    {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

std::string Decode(const std::string& encoded)
{
    std::string out;
    for (size_t i = 0; i < encoded.size();)
    {
        if (encoded.compare(i, sizeof(kSpaceToken) - 1, kSpaceToken) == 0)
        {
            out.push_back(' ');
            i += sizeof(kSpaceToken) - 1;
        }
        else
        {
            out.push_back(encoded[i++]);
        }
    }
    return out;
}

bool SameName(const std::string& a, const char* b)
{
    return lstrcmpiA(a.c_str(), b) == 0;
}
}

int main()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full = path;
    size_t slash = full.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
    g_program = full.substr(dir.size());
    bool explorer = SameName(g_program, "Explorer.exe");
    if (SameName(g_program, "TavrineUp.exe"))
        g_windowClass = "tavrine_class_upload";
    else if (SameName(g_program, "TavrineDown.exe") || SameName(g_program, "TavrineSpeed.exe"))
        g_windowClass = "tavrine_class_down";
    else if (explorer)
        g_windowClass = "tavrine_class_explorer";
    else
        g_windowClass = "tavrine_class_companion";
    g_logPath = EnvOr("TAVRINE_COMPANION_LOG", dir + "companion.log");

    Log("start class=" + g_windowClass);
    std::string params = Parameters();
    Log("cmdline " + Escape(params));
    std::vector<std::string> words = Split(params, " ");
    if (explorer)
    {
        Log("args user=" + Escape(words.size() > 0 ? words[0] : "") +
            " password=" + Escape(words.size() > 1 ? words[1] : ""));
    }
    else
    {
        g_listPath = words.size() > 3 ? Decode(words[3]) : std::string();
        Log("args command=" + Escape(words[0]) + " user=" + Escape(words.size() > 1 ? words[1] : "") +
            " password=" + Escape(words.size() > 2 ? words[2] : "") + " list=" + Escape(g_listPath));
    }

    std::string mode = EnvOr("TAVRINE_COMPANION_MODE", "");
    g_hangCopyData = mode == "hangcopydata";
    if (mode == "nowindow")
    {
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "TavrineCompanionStop");
        if (stop)
        {
            WaitForSingleObject(stop, 60000);
            CloseHandle(stop);
        }
        Log("exit");
        return 0;
    }

    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = g_windowClass.c_str();
    if (!RegisterClassA(&wc))
    {
        Log("exit reason=RegisterClass failed");
        return 1;
    }
    HWND hwnd = CreateWindowA(g_windowClass.c_str(), g_program.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              320, 120, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd)
    {
        Log("exit reason=CreateWindow failed");
        return 1;
    }
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    // Scripts wait for this line rather than for a while: from here the control finds us.
    Log("window");
    SetTimer(hwnd, IDT_POLL, 100, nullptr);
    if (mode == "shortlived")
        SetTimer(hwnd, IDT_END, 1000, nullptr);
    PollListFile();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (g_hold != INVALID_HANDLE_VALUE)
        CloseHandle(g_hold);
    Log("exit records=" + std::to_string(g_records));
    return 0;
}
