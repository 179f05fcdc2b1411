// Calls the registered control through IDispatch::Invoke the way script does,
// with seeded random members, flags and arguments. Unattended surroundings:
// in-process windows of the three companion classes (so the install check
// passes at once and hand-offs have a peer that checks every record), and a
// driver that closes the file picker whenever it opens.
//
//   robustness_fuzz.exe [--calls N] [--seed S] [--without DISPID]... [--well-formed PERCENT]
//
// A failing seed replays exactly. The process aborts with the seed and call
// number when a call does not return within the watchdog's bound.
#include <windows.h>
#include <oleauto.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "harness/TestHarness.h"

namespace
{
const char* const kCompanionClasses[] = {"tavrine_class_upload", "tavrine_class_down", "tavrine_class_explorer"};
const DWORD kCallBoundMs = 60000;
std::vector<DISPID> g_without;   // members left out, to narrow a finding down
int g_wellFormedPercent = 50;    // share of calls made as a page's script makes them

// xorshift64*: small, fast and identical on every build.
struct CRandom
{
    uint64_t state;
    explicit CRandom(uint64_t seed) : state(seed ? seed : 0x9e3779b97f4a7c15ull) {}
    uint32_t Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<uint32_t>((state * 0x2545f4914f6cdd1dull) >> 32);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
};

// --- the companion peer --------------------------------------------------

LONG g_records = 0;
LONG g_badRecords = 0;

LRESULT CALLBACK CompanionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
    {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        bool kindOk = data->dwData == 2 || data->dwData == 7 || data->dwData == 8;
        const char* text = static_cast<const char*>(data->lpData);
        bool textOk = data->cbData >= 1 && text && text[data->cbData - 1] == '\0' &&
                      strlen(text) + 1 == data->cbData;
        InterlockedIncrement(&g_records);
        if (!kindOk || !textOk)
            InterlockedIncrement(&g_badRecords);
        return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

DWORD WINAPI CompanionThread(LPVOID ready)
{
    for (const char* name : kCompanionClasses)
    {
        WNDCLASSA cls = {};
        cls.lpfnWndProc = CompanionProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = name;
        RegisterClassA(&cls);
        CreateWindowA(name, name, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, cls.hInstance, nullptr);
    }
    SetEvent(static_cast<HANDLE>(ready));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

// --- the picker closer --------------------------------------------------

volatile LONG g_stop = 0;
LONG g_pickersClosed = 0;

DWORD WINAPI PickerCloser(LPVOID)
{
    // The picker's caption, in the ANSI code page of the test run (949).
    const wchar_t caption[] = L"\ud30c\uc77c/\ud3f4\ub354 \uc120\ud0dd\ucc3d";
    while (!g_stop)
    {
        HWND dialog = FindWindowW(L"#32770", caption);
        DWORD pid = 0;
        if (dialog && GetWindowThreadProcessId(dialog, &pid) && pid == GetCurrentProcessId())
        {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
            InterlockedIncrement(&g_pickersClosed);
            Sleep(100);
        }
        Sleep(20);
    }
    return 0;
}

// --- the watchdog --------------------------------------------------------

volatile LONG g_callStarted = 0;   // GetTickCount at the start of the running call, 0 between calls
uint64_t g_seed = 0;
volatile LONG g_callIndex = 0;

DWORD WINAPI Watchdog(LPVOID)
{
    while (!g_stop)
    {
        Sleep(500);
        LONG started = g_callStarted;
        // Signed difference: the start mark may be a tick ahead of this thread's clock read.
        if (started && static_cast<LONG>(GetTickCount() - static_cast<DWORD>(started)) > static_cast<LONG>(kCallBoundMs))
        {
            std::printf("watchdog: call %ld of seed %llu did not return within %lu ms\n", g_callIndex,
                        static_cast<unsigned long long>(g_seed), kCallBoundMs);
            std::fflush(stdout);
            ExitProcess(3);
        }
    }
    return 0;
}

// --- arguments ------------------------------------------------------------

std::wstring RandomText(CRandom& rng)
{
    static const wchar_t* const samples[] = {
        L"",
        L"1001",
        L"C:\\Data\\notes.txt",
        L"\ud55c\uae00 \uc790\ub8cc\\\ud30c\uc77c.txt",
        L"a#>b#<c",
        L"#>",
        L"#<",
        L"[[SPACE]]",
        L"\"quoted\" 'single'",
        L"user name",
        L"tab\there",
        L"line\r\nbreak",
        L"http://127.0.0.1/file?x=1&y=2",
        L"S",
        L"Speed",
        L"D",
        L"-1",
    };
    uint32_t pick = rng.Below(24);
    if (pick < sizeof(samples) / sizeof(samples[0]))
        return samples[pick];
    std::wstring text;
    switch (pick)
    {
    case 17:   // embedded NULs
        text = L"ab";
        text += L'\0';
        text += L"cd";
        break;
    case 18:   // lone surrogates
        text = L"x";
        text += static_cast<wchar_t>(0xd800);
        text += L"y";
        text += static_cast<wchar_t>(0xdfff);
        break;
    case 19:   // control characters
        for (int i = 1; i < 32; ++i)
            text += static_cast<wchar_t>(i);
        break;
    case 20:   // large, now and then
        if (rng.Chance(20))
            text.assign(1 << 20, L'\uac00');
        else
            text.assign(4096, L'a');
        break;
    default:   // random code units
        for (uint32_t i = rng.Below(64); i > 0; --i)
            text += static_cast<wchar_t>(rng.Below(0x10000));
        break;
    }
    return text;
}

void RandomVariant(CRandom& rng, VARIANT& v, std::vector<BSTR>& byrefStrings)
{
    VariantInit(&v);
    switch (rng.Below(12))
    {
    case 0:
        v.vt = VT_EMPTY;
        break;
    case 1:
        v.vt = VT_NULL;
        break;
    case 2:
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(rng.Next());
        break;
    case 3:
        v.vt = VT_R8;
        v.dblVal = static_cast<double>(rng.Next()) / 7.0;
        break;
    case 4:
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        break;
    case 5:
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
        break;
    case 6:
    {
        std::wstring text = RandomText(rng);
        BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        byrefStrings.push_back(s);
        v.vt = VT_BSTR | VT_BYREF;
        v.pbstrVal = &byrefStrings.back();
        break;
    }
    case 7:
    {
        SAFEARRAYBOUND bound = {rng.Below(4), 0};
        v.vt = VT_ARRAY | VT_VARIANT;
        v.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
        break;
    }
    case 8:
        v.vt = VT_BOOL;
        v.boolVal = rng.Chance(50) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    default:
    {
        std::wstring text = RandomText(rng);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        break;
    }
    }
}

DISPID RandomMember(CRandom& rng)
{
    // The picker opens a window per call: keep it rare so the budget goes to the other members.
    for (;;)
    {
        uint32_t pick = rng.Below(20);
        DISPID id;
        if (pick <= 14)
            id = static_cast<DISPID>(pick);
        else if (pick == 15)
            id = -1;
        else if (pick == 16)
            id = 100;
        else if (pick == 17)
            id = 0x7fffffff;
        else
            id = static_cast<DISPID>(1 + rng.Below(13));
        if (id == 3 && !rng.Chance(1))
            continue;
        bool excluded = false;
        for (DISPID left : g_without)
            excluded = excluded || left == id;
        if (excluded)
            continue;
        return id;
    }
}

// Parses a list file as whole records and then removes it, as a companion consumes it.
bool ConsumeListFile(const std::string& path, ULONG& records)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    std::vector<unsigned char> bytes(GetFileSize(file, nullptr));
    DWORD done = 0;
    BOOL read = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(file);
    DeleteFileA(path.c_str());
    if (!read || done != bytes.size())
        return false;
    size_t pos = 0;
    while (pos < bytes.size())
    {
        if (bytes.size() - pos < 12)
            return false;
        uint32_t kind, length;
        memcpy(&kind, &bytes[pos], 4);
        memcpy(&length, &bytes[pos + 4], 4);
        if ((kind != 2 && kind != 7 && kind != 8) || length == 0 || bytes.size() - pos - 12 < length)
            return false;
        const unsigned char* text = &bytes[pos + 12];
        if (text[length - 1] != 0 || memchr(text, 0, length) != text + length - 1)
            return false;
        pos += 12 + length;
        ++records;
    }
    return true;
}

struct Figures
{
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// The handle count where the platform reports one; otherwise the value of a
// fresh handle, which climbs when handles leak (free slots are reused first).
DWORD HandleFigure()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(probe) / 4);
}

Figures Measure()
{
    Figures f;
    f.handles = HandleFigure();
    f.privateBytes = PrivateBytes();
    return f;
}

ULONG g_calls = 20000;
}

static void test_dispatch_fuzz()
{
    std::printf("fuzzer: seed %llu, %lu calls\n", static_cast<unsigned long long>(g_seed), g_calls);
    std::fflush(stdout);

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE companion = CreateThread(nullptr, 0, CompanionThread, ready, 0, nullptr);
    ok(WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0, "companion windows not ready\n");
    HANDLE closer = CreateThread(nullptr, 0, PickerCloser, nullptr, 0, nullptr);
    HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    IDispatch* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "CoCreateInstance returned %#lx\n", hr);
    if (!control)
        return;

    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    const std::string lists[] = {std::string(temp) + "Tavrine_Upload_List", std::string(temp) + "Tavrine_Download_List"};
    for (const std::string& list : lists)
        DeleteFileA(list.c_str());

    CRandom rng(g_seed);
    Figures start;
    ULONG fileRecords = 0, malformedFiles = 0, failures = 0;
    DWORD began = GetTickCount();
    for (ULONG call = 0; call < g_calls; ++call)
    {
        // Figures are taken once the control's one-time allocations are behind it.
        if (call == g_calls / 10)
            start = Measure();

        DISPID member = RandomMember(rng);
        WORD flags = DISPATCH_METHOD;
        switch (rng.Below(8))
        {
        case 0:
            flags = DISPATCH_PROPERTYGET;
            break;
        case 1:
            flags = DISPATCH_PROPERTYPUT;
            break;
        case 2:
            flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
            break;
        }
        // Half of the calls are well formed, as a page's script makes them, so that the
        // members' bodies run; the rest probe the dispatcher with anything.
        static const UINT arity[] = {0, 0, 1, 0, 3, 0, 1, 2, 0, 2, 3, 2, 3, 0, 0};
        bool wellFormed = member >= 1 && member <= 13 && rng.Chance(static_cast<uint32_t>(g_wellFormedPercent));
        UINT argc = wellFormed ? arity[member] : rng.Below(6);
        if (wellFormed)
            flags = DISPATCH_METHOD;
        std::vector<VARIANT> args(argc);
        std::vector<BSTR> byrefStrings;
        byrefStrings.reserve(argc);
        for (VARIANT& v : args)
        {
            if (wellFormed)
            {
                std::wstring text = RandomText(rng);
                VariantInit(&v);
                v.vt = VT_BSTR;
                v.bstrVal = rng.Chance(5) ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            }
            else
            {
                RandomVariant(rng, v, byrefStrings);
            }
        }
        DISPID named[2] = {DISPID_PROPERTYPUT, static_cast<DISPID>(rng.Below(5))};
        DISPPARAMS params = {argc ? args.data() : nullptr, nullptr, argc, 0};
        if (argc && !wellFormed && rng.Chance(10))
        {
            params.cNamedArgs = 1 + (argc > 1 && rng.Chance(50) ? 1 : 0);
            params.rgdispidNamedArgs = named;
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep = {};
        UINT argErr = 0;
        bool wantResult = rng.Chance(70);

        g_callIndex = static_cast<LONG>(call);
        g_callStarted = static_cast<LONG>(GetTickCount() | 1);
        hr = control->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, wantResult ? &result : nullptr,
                             &excep, rng.Chance(50) ? &argErr : nullptr);
        g_callStarted = 0;
        if (FAILED(hr))
            ++failures;

        VariantClear(&result);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        for (VARIANT& v : args)
            VariantClear(&v);
        for (BSTR s : byrefStrings)
            SysFreeString(s);

        // An End or launcher call may have appended records: read them as the companion would.
        if (member == 7 || member == 10 || member == 12)
            for (const std::string& list : lists)
                if (!ConsumeListFile(list, fileRecords))
                    ++malformedFiles;
    }
    DWORD elapsed = GetTickCount() - began;

    // Let go of the batches the last calls built before taking the final figures.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    control->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    control->Invoke(8, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    Figures end = Measure();

    std::printf("fuzzer: %lu calls in %lu ms (%lu refused), %lu list-file records, %ld copy-data records, "
                "%ld pickers closed\n",
                g_calls, elapsed, failures, fileRecords, g_records, g_pickersClosed);
    std::printf("fuzzer: handles %lu -> %lu, private bytes %lu KB -> %lu KB\n", start.handles, end.handles,
                static_cast<unsigned long>(start.privateBytes / 1024), static_cast<unsigned long>(end.privateBytes / 1024));
    std::fflush(stdout);

    ok(malformedFiles == 0, "%lu list files held a malformed record\n", malformedFiles);
    ok(g_badRecords == 0, "%ld malformed copy-data records\n", g_badRecords);
    ok(end.handles <= start.handles + 64, "handle count grew from %lu to %lu\n", start.handles, end.handles);
    ok(end.privateBytes <= start.privateBytes + 64u * 1024 * 1024, "private bytes grew from %lu KB to %lu KB\n",
       static_cast<unsigned long>(start.privateBytes / 1024), static_cast<unsigned long>(end.privateBytes / 1024));

    control->Release();
    g_stop = 1;
    WaitForSingleObject(closer, 5000);
    WaitForSingleObject(watchdog, 5000);
    CloseHandle(closer);
    CloseHandle(watchdog);
    CloseHandle(companion);
    CloseHandle(ready);
    for (const std::string& list : lists)
        DeleteFileA(list.c_str());
}

int main(int argc, char** argv)
{
    g_seed = GetTickCount() ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32);
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i)
    {
        if (!strcmp(argv[i], "--calls") && i + 1 < argc)
            g_calls = strtoul(argv[++i], nullptr, 10);
        else if (!strcmp(argv[i], "--well-formed") && i + 1 < argc)
            g_wellFormedPercent = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--without") && i + 1 < argc)
            g_without.push_back(static_cast<DISPID>(strtol(argv[++i], nullptr, 10)));
        else if (!strcmp(argv[i], "--seed") && i + 1 < argc)
            g_seed = strtoull(argv[++i], nullptr, 10);
        else
            rest.push_back(argv[i]);
    }
    CoInitialize(nullptr);
    static const TestEntry tests[] = {TEST(test_dispatch_fuzz)};
    int rc = RunTests(tests, 1, static_cast<int>(rest.size()), rest.data());
    CoUninitialize();
    return rc;
}
