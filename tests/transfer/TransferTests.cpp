// The transfer methods through the real control object, with the reference
// companion programs installed where the control looks for them: job texts as
// they arrive in the list files, starting and feeding the companions, the
// download modes, the fallback message, the bounded wait, stale list files,
// an unusable temporary folder, the host's runtime locale, the command-line
// guard and the launchers.
#include <windows.h>

#include <clocale>
#include <functional>
#include <memory>

#include "companion/CompanionFixture.h"
#include "harness/TestHarness.h"
#include "transfer/TransferTestSupport.h"

using namespace CompanionFixture;

namespace
{
const char kUpClass[] = "tavrine_class_upload";
const char kDownClass[] = "tavrine_class_down";
const char kExplorerClass[] = "tavrine_class_explorer";
const UINT WM_HOLD_LIST = WM_APP + 1;
const UINT WM_RELEASE_LIST = WM_APP + 2;

std::string Encoded(const std::string& path)
{
    std::string out;
    for (char c : path)
        out += c == ' ' ? std::string("[[SPACE]]") : std::string(1, c);
    return out;
}

#define check_list(path, ...)                                                       \
    do                                                                              \
    {                                                                               \
        std::string why__;                                                          \
        ok(ListFileIs(path, std::vector<ListRecord>{__VA_ARGS__}, why__), "%s: %s\n", \
           path.c_str(), why__.c_str());                                            \
    } while (0)

#define check_hr(expr, expected)                                                                 \
    do                                                                                           \
    {                                                                                            \
        HRESULT hr__ = (expr);                                                                   \
        ok(hr__ == (expected), "%s: got %#lx, expected %#lx\n", #expr, static_cast<unsigned long>(hr__), \
           static_cast<unsigned long>(expected));                                                \
    } while (0)

size_t Starts(const std::string& log, const char* program)
{
    return FindLines(log, {std::string(program) + " ", " start class="}).size();
}

// The one companion window of a class that is not ours, or null.
HWND CompanionWindow(const char* windowClass)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, windowClass, nullptr)) != nullptr)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

bool Prepare(const char* name, std::string& log)
{
    bool closed = CloseEverything();
    ok(closed, "companions from an earlier test are still running\n");
    bool installed = Install();
    ok(installed, "the companion program could not be installed in %s\n", InstallDir().c_str());
    log = UseFreshLog(name);
    CFakeCompanion::s_received.clear();
    return closed && installed;
}
}

// Job texts as the companion receives them. Stand-in windows for both
// transfer companions keep the control from starting anything.
static void test_job_texts()
{
    CComApartment com;
    ok(CloseAll(kUpClass) && CloseAll(kDownClass), "companions still running\n");
    CFakeCompanion up(kUpClass), down(kDownClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string upList = UpListFile(), downList = DownListFile();

    DeleteFileA(upList.c_str());
    check_hr(control->UpLoadInit(), S_OK);
    check_hr(control->UpLoadInfo(CBstr(L"a").Get()), S_OK);
    check_hr(control->UpLoadInfo(CBstr(L"b").Get()), S_OK);
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    check_list(upList, {2, "a#>b"});
    // The End call leaves the text: Info without Init goes on from it, and
    // each End appends one more record.
    check_hr(control->UpLoadInfo(CBstr(L"c").Get()), S_OK);
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    check_list(upList, {2, "a#>b"}, {2, "a#>b#>c"}, {2, "a#>b#>c"});

    struct UpCase
    {
        std::vector<const wchar_t*> items;
        const char* text;
    };
    const UpCase upCases[] = {
        {{L"", L"b"}, "b"},
        {{L"a", L""}, "a#>"},
        {{nullptr, L"k"}, "k"},
        {{L"x#>y#<z"}, "x#>y#<z"},
        {{L"a", nullptr, L"b"}, "a#>#>b"},
    };
    for (const UpCase& c : upCases)
    {
        DeleteFileA(upList.c_str());
        control->UpLoadInit();
        for (const wchar_t* item : c.items)
            control->UpLoadInfo(CBstr(item).Get());
        check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
        check_list(upList, {2, c.text});
    }

    DeleteFileA(downList.c_str());
    check_hr(control->DownLoadInit(), S_OK);
    check_hr(control->DownLoadInfo(CBstr(L"").Get(), CBstr(L"").Get()), S_OK);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
    check_hr(control->DownLoadInfo(nullptr, nullptr), S_OK);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"S").Get()), S_OK);
    check_list(downList, {7, "#<"}, {7, "#<#>#<"});

    DeleteFileA(downList.c_str());
    control->DownLoadInit();
    control->DownLoadInfo(CBstr(L"7").Get(), nullptr);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), nullptr), S_OK);
    check_list(downList, {7, "7#<"});

    DeleteFileA(downList.c_str());
    control->DownLoadInit();
    control->DownLoadInfo(CBstr(L"12").Get(), CBstr(L"C:\\Down\\a.txt").Get());
    control->DownLoadInfo(CBstr(L"15").Get(), CBstr(L"C:\\Down\\b c.txt").Get());
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"").Get()), S_OK);
    check_list(downList, {7, "12#<C:\\Down\\a.txt#>15#<C:\\Down\\b c.txt"});

    // A path of double-byte characters only, no drive: converted in full.
    if (GetACP() == 949)
    {
        DeleteFileA(downList.c_str());
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"\xD30C\xC77C").Get(), CBstr(L"\xD55C\xAE00\xD30C\xC77C").Get());  // 파일, 한글파일
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
        check_list(downList, {7, "\xC6\xC4\xC0\xCF#<\xC7\xD1\xB1\xDB\xC6\xC4\xC0\xCF"});
    }
    else
    {
        skip("the system code page is %u, not 949\n", GetACP());
    }

    // DownLoadSpInit empties the same text as DownLoadInit.
    DeleteFileA(downList.c_str());
    control->DownLoadInit();
    control->DownLoadInfo(CBstr(L"1").Get(), CBstr(L"C:\\x").Get());
    check_hr(control->DownLoadSpInit(), S_OK);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_FALSE);
    check_list(downList, );

    // With a thread locale other than the system's, the identifier follows the
    // thread's code page and the path the system's; text one of them cannot
    // hold (Hangul in the Cyrillic code page) spoils the batch.
    LCID saved = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
    std::string idx = Narrow(L"\x0416", CP_THREAD_ACP);   // Ж
    std::string path = Narrow(L"\xAC00", CP_ACP);          // 가
    if (idx != Narrow(L"\x0416", CP_ACP))
    {
        DeleteFileA(downList.c_str());
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"\x0416").Get(), CBstr(L"\xAC00").Get());
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
        check_list(downList, {7, idx + "#<" + path});
        DeleteFileA(downList.c_str());
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"\x0416\xAC00").Get(), CBstr(L"\xAC00").Get());
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_FALSE);
        check_list(downList, );
    }
    else
    {
        skip("the thread code page follows the system's here\n");
    }
    SetThreadLocale(saved);
    DeleteFileA(upList.c_str());
    DeleteFileA(downList.c_str());
}

// How many sites the pop-up allow list holds.
static DWORD AllowListValues(const char* keyPath)
{
    HKEY key = nullptr;
    DWORD values = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

// Page text the code page cannot hold is never handed on changed: for each
// such character, every call that would carry it declines as the control
// declines (S_FALSE, the web link "0"), writing no record and leaving the
// allow list alone; an Info item spoils its batch until the next Init.
static void test_text_not_held()
{
    CComApartment com;
    ok(CloseAll(kUpClass) && CloseAll(kDownClass), "companions still running\n");
    CFakeCompanion up(kUpClass), down(kDownClass), explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    if (GetACP() != 949)
    {
        skip("the system code page is %u, not 949\n", GetACP());
        return;
    }
    std::string upList = UpListFile(), downList = DownListFile();
    const char kAllowKey[] = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
    struct Char
    {
        const char* what;
        const wchar_t* text;
    };
    const Char chars[] = {
        {"e-acute", L"\x00E9"}, {"yen", L"\x00A5"},   {"won", L"\x20A9"},
        {"emoji", L"\xD83D\xDE00"}, {"U+4E02", L"\x4E02"}, {"no-break space", L"\x00A0"},
    };
    for (const Char& c : chars)
    {
        std::wstring w = c.text;
        CBstr user(L"user"), pass(L"pass");
        CBstr item((L"a" + w).c_str()), word((L"pw" + w).c_str());
        CBstr path((L"C:\\Down\\" + w + L".txt").c_str()), link((L"http://x.example/" + w).c_str());
        CBstr site((L"www" + w + L".example").c_str());
        struct Row
        {
            const char* call;
            std::function<HRESULT()> run;
        };
        const Row rows[] = {
            {"UpLoadInfo, then UpLoadEnd", [&] {
                 control->UpLoadInit();
                 control->UpLoadInfo(CBstr(L"1").Get());
                 control->UpLoadInfo(item.Get());
                 control->UpLoadInfo(CBstr(L"2").Get());
                 return control->UpLoadEnd(user.Get(), pass.Get());
             }},
            {"the spoiled batch's next UpLoadEnd", [&] { return control->UpLoadEnd(user.Get(), pass.Get()); }},
            {"UpLoadEnd's password", [&] {
                 control->UpLoadInit();
                 control->UpLoadInfo(CBstr(L"1").Get());
                 return control->UpLoadEnd(user.Get(), word.Get());
             }},
            {"DownLoadInfo's path", [&] {
                 control->DownLoadInit();
                 control->DownLoadInfo(CBstr(L"1").Get(), path.Get());
                 return control->DownLoadEnd(user.Get(), pass.Get(), CBstr(L"D").Get());
             }},
            {"DownLoadInfo's index", [&] {
                 control->DownLoadInit();
                 control->DownLoadInfo(item.Get(), CBstr(L"C:\\Down\\a.txt").Get());
                 return control->DownLoadEnd(user.Get(), pass.Get(), CBstr(L"D").Get());
             }},
            {"DownLoadEnd's mode", [&] {
                 control->DownLoadInit();
                 control->DownLoadInfo(CBstr(L"1").Get(), CBstr(L"C:\\Down\\a.txt").Get());
                 return control->DownLoadEnd(user.Get(), pass.Get(), item.Get());
             }},
            {"LauncherWebLink's link", [&] {
                 CBstr result;
                 HRESULT hr = control->LauncherWebLink(user.Get(), pass.Get(), link.Get(), result.Put());
                 bool zero = result.Get() && lstrcmpW(result.Get(), L"0") == 0;
                 return zero ? hr : E_FAIL;
             }},
            {"LauncherWebLink's password", [&] {
                 CBstr result;
                 HRESULT hr = control->LauncherWebLink(user.Get(), word.Get(), CBstr(L"http://x/").Get(), result.Put());
                 bool zero = result.Get() && lstrcmpW(result.Get(), L"0") == 0;
                 return zero ? hr : E_FAIL;
             }},
            {"LauncherExplorer's user ID", [&] { return control->LauncherExplorer(item.Get(), pass.Get()); }},
            {"AllowPopUp's site", [&] { return control->AllowPopUp(site.Get()); }},
        };
        for (const Row& row : rows)
        {
            DeleteFileA(upList.c_str());
            DeleteFileA(downList.c_str());
            DWORD valuesBefore = AllowListValues(kAllowKey);
            HRESULT hr = row.run();
            bool upExists = false, downExists = false;
            ReadFileBytes(upList, &upExists);
            ReadFileBytes(downList, &downExists);
            DWORD values = AllowListValues(kAllowKey);
            ok(hr == S_FALSE && !upExists && !downExists && values == valuesBefore,
               "%s with %s: got %#lx, up list %d, down list %d, allow-list values %lu, before %lu\n", row.call,
               c.what, static_cast<unsigned long>(hr), upExists, downExists, values, valuesBefore);
        }
    }
    // The next batch is handed off as before, Korean byte for byte.
    DeleteFileA(upList.c_str());
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"\xAC00 1").Get());   // 가 1
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    check_list(upList, {2, "\xB0\xA1 1"});
    DeleteFileA(upList.c_str());
}

// Empty job texts and empty credentials hand nothing off and touch no file,
// but the credentials are replaced all the same.
static void test_nothing_to_send()
{
    CComApartment com;
    ok(CloseAll(kUpClass) && CloseAll(kDownClass), "companions still running\n");
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string upList = UpListFile(), downList = DownListFile();
    DeleteFileA(upList.c_str());
    WriteFileBytes(downList, "earlier");

    check_hr(control->UpLoadInit(), S_OK);
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_FALSE);
    control->UpLoadInfo(CBstr(L"a").Get());
    check_hr(control->UpLoadEnd(CBstr(L"").Get(), CBstr(L"pass").Get()), S_FALSE);
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), nullptr), S_FALSE);
    check_hr(control->DownLoadInit(), S_OK);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_FALSE);
    control->DownLoadInfo(CBstr(L"1").Get(), CBstr(L"C:\\x").Get());
    check_hr(control->DownLoadEnd(nullptr, CBstr(L"pass").Get(), CBstr(L"D").Get()), S_FALSE);
    Sleep(300);
    check_list(upList, );
    bool exists = false;
    ok(ReadFileBytes(downList, &exists) == "earlier" && exists, "the download list was touched\n");
    ok(!CompanionWindow(kUpClass) && !CompanionWindow(kDownClass), "a companion was started\n");

    // The empty ID of the last End call was stored: with no download
    // companion running, the web link has no credentials to go on.
    CBstr result;
    check_hr(control->LauncherWebLink(nullptr, nullptr, CBstr(L"http://x/").Get(), result.Put()), S_FALSE);
    ok(result.Get() && lstrcmpW(result.Get(), L"0") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
    DeleteFileA(downList.c_str());
}

// The upload companion is started when it is not running, fed through its
// list file when it is.
static void test_upload_handoff()
{
    CComApartment com;
    std::string log;
    if (!Prepare("upload", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string upList = UpListFile();
    WriteFileBytes(upList, std::string("\x02\0\0\0\x06\0\0\0\0\0\0\0stale", 17));

    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"a").Get());
    control->UpLoadInfo(CBstr(L"b").Get());
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    // The stale records are gone; the new one was appended once the window existed.
    check_list(upList, {2, "a#>b"});
    ok(CompanionWindow(kUpClass) != nullptr, "no upload companion window\n");
    std::string parameters = "bbs user pass " + Encoded(upList);
    ok(FindLines(log, {"TavrineUp.exe ", " cmdline " + parameters}).size() == 1, "command line %s not seen\n",
       parameters.c_str());
    if (upList.find(' ') == std::string::npos)
        ok(FindLines(log, {" args command=bbs user=user password=pass list=" + upList}).size() == 1,
           "the fourth word is not the plain list path\n");
    ok(WaitForLines(log, {"TavrineUp.exe ", "record source=file offset=0 kind=2 length=5 ", " text=a#>b"}),
       "the companion did not read the record\n");
    ok(WaitForLines(log, {"TavrineUp.exe ", " item 2 idx=b"}), "the companion did not split the items\n");

    // Running: nothing is started, the record goes behind the first.
    control->UpLoadInfo(CBstr(L"c").Get());
    check_hr(control->UpLoadEnd(CBstr(L"other").Get(), CBstr(L"pw2").Get()), S_OK);
    check_list(upList, {2, "a#>b"}, {2, "a#>b#>c"});
    ok(WaitForLines(log, {"TavrineUp.exe ", "record source=file offset=17 kind=2 length=8 ", " text=a#>b#>c"}),
       "the companion did not read the second record\n");
    ok(Starts(log, "TavrineUp.exe") == 1, "the companion was started %u times\n",
       static_cast<unsigned>(Starts(log, "TavrineUp.exe")));
    ok(FindLines(log, {" bad "}).empty(), "the companion found a malformed record\n");
    CloseEverything();
}

// Spaces (and Hangul) in the temporary directory reach the companion encoded.
static void test_temp_dir_with_spaces()
{
    CComApartment com;
    std::string log;
    if (!Prepare("spaces", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    std::string savedTmp = EnvOr("TMP"), savedTemp = EnvOr("TEMP");
    std::string dir = TempDir() + "tav spaces \xC7\xD1\xB1\xDB";   // 한글
    CreateDirectoryA(dir.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", dir.c_str());
    SetEnvironmentVariableA("TEMP", dir.c_str());
    std::string upList = TempDir() + "Tavrine_Upload_List";
    if (upList != dir + "\\Tavrine_Upload_List")
    {
        skip("the temporary directory did not follow TMP: %s\n", upList.c_str());
    }
    else
    {
        CIfacePtr<IVedADA> control = CreateControl();
        if (control)
        {
            control->UpLoadInit();
            control->UpLoadInfo(CBstr(L"9").Get());
            check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
            check_list(upList, {2, "9"});
            std::string parameters = "bbs user pass " + Encoded(upList);
            ok(parameters.find("tav[[SPACE]]spaces[[SPACE]]\xC7\xD1\xB1\xDB\\") != std::string::npos, "%s\n",
               parameters.c_str());
            ok(FindLines(log, {"TavrineUp.exe ", " cmdline " + parameters}).size() == 1, "command line %s not seen\n",
               parameters.c_str());
            ok(FindLines(log, {" args command=bbs user=user password=pass list=" + upList}).size() == 1,
               "the companion did not decode the path\n");
            ok(WaitForLines(log, {"TavrineUp.exe ", "record source=file offset=0 kind=2 length=2 ", " text=9"}),
               "the companion did not read the record\n");
        }
    }
    CloseEverything();
    SetEnvironmentVariableA("TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    SetEnvironmentVariableA("TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
    DeleteFileA(upList.c_str());
    RemoveDirectoryA(dir.c_str());
}

// DownLoadEnd's mode picks the program to start; a running download
// companion of either kind takes the batch whatever the mode.
static void test_download_modes()
{
    CComApartment com;
    std::string log;
    if (!Prepare("modes", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string downList = DownListFile();
    struct ModeCase
    {
        const wchar_t* mode;
        const char* program;
    };
    const ModeCase cases[] = {
        {L"", "TavrineDown.exe"},      {nullptr, "TavrineDown.exe"},  {L"D", "TavrineDown.exe"},
        {L"N", "TavrineDown.exe"},     {L"0", "TavrineDown.exe"},     {L"S", "TavrineSpeed.exe"},
        {L"Speed", "TavrineSpeed.exe"}, {L"s", "TavrineSpeed.exe"},   {L"T", "TavrineSpeed.exe"},
        {L"\xACE0\xC18D", "TavrineSpeed.exe"},   // 고속
    };
    size_t down = 0, speed = 0;
    control->DownLoadInit();
    control->DownLoadInfo(CBstr(L"12").Get(), CBstr(L"C:\\Down\\a.txt").Get());
    for (const ModeCase& c : cases)
    {
        ok(CloseAll(kDownClass), "the download companion did not close\n");
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(c.mode).Get()), S_OK);
        bool wantSpeed = c.program[7] == 'S';
        (wantSpeed ? speed : down)++;
        ok(Starts(log, "TavrineDown.exe") == down && Starts(log, "TavrineSpeed.exe") == speed,
           "mode \"%ls\": %u download and %u speed starts, expected %u and %u\n", c.mode ? c.mode : L"(null)",
           static_cast<unsigned>(Starts(log, "TavrineDown.exe")), static_cast<unsigned>(Starts(log, "TavrineSpeed.exe")),
           static_cast<unsigned>(down), static_cast<unsigned>(speed));
        check_list(downList, {7, "12#<C:\\Down\\a.txt"});
    }
    ok(FindLines(log, {"TavrineSpeed.exe ", " cmdline bbs user pass " + Encoded(downList)}).size() == speed,
       "the speed program's command line differs\n");

    // The speed program runs now: a plain mode goes to it too.
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
    check_list(downList, {7, "12#<C:\\Down\\a.txt"}, {7, "12#<C:\\Down\\a.txt"});
    ok(WaitForLines(log, {"TavrineSpeed.exe ", "record source=file offset=30 kind=7 length=18 ", " text=12#<C:\\Down\\a.txt"}),
       "the running speed program did not get the batch\n");
    ok(Starts(log, "TavrineDown.exe") == down, "the download program was started\n");

    CloseAll(kDownClass);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
    check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"S").Get()), S_OK);
    ok(Starts(log, "TavrineSpeed.exe") == speed, "the speed program was started\n");
    ok(WaitForLines(log, {"TavrineDown.exe ", "record source=file offset=30 kind=7 "}),
       "the running download program did not get the batch\n");
    ok(FindLines(log, {" bad "}).empty(), "a companion found a malformed record\n");
    CloseEverything();
}

// A list file the control cannot open or append to: the record goes to the
// companion's window by WM_COPYDATA, and the file keeps no partial record.
static void test_list_file_held()
{
    CComApartment com;
    std::string log;
    if (!Prepare("held", log))
        return;
    std::string downList = DownListFile();
    {
        CFakeCompanion down(kDownClass);
        CIfacePtr<IVedADA> control = CreateControl();
        if (!control)
            return;
        std::string earlier("\x07\0\0\0\x02\0\0\0\0\0\0\0x\0", 14);
        WriteFileBytes(downList, earlier);
        HANDLE held = CreateFileA(downList.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ok(held != INVALID_HANDLE_VALUE, "cannot hold the list file\n");
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"3").Get(), CBstr(L"C:\\d").Get());
        DWORD start = GetTickCount();
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
        DWORD elapsed = GetTickCount() - start;
        CloseHandle(held);
        ok(elapsed >= 1500 && elapsed < 10000, "gave up after %lu ms\n", static_cast<unsigned long>(elapsed));
        ok(CFakeCompanion::s_received.size() == 1, "%u messages\n", static_cast<unsigned>(CFakeCompanion::s_received.size()));
        bool whole = CFakeCompanion::s_received.size() == 1 && CFakeCompanion::s_received[0].bytes == std::string("3#<C:\\d", 8);
        std::string why;
        bool untouched = ListFileIs(downList, {{7, "x"}}, why);
        fault_row("list file held open without sharing by another process",
                  "S_OK after about 2 s of retries; the record arrives by WM_COPYDATA; the file keeps no partial record",
                  (elapsed < 10000 ? "returned after " + std::to_string(elapsed) + " ms; " : std::string("no answer; ")) +
                      (whole ? "WM_COPYDATA record whole; " : "no WM_COPYDATA record; ") +
                      (untouched ? "file unchanged" : "file changed"),
                  elapsed >= 1500 && elapsed < 10000 && whole && untouched);
        if (CFakeCompanion::s_received.size() == 1)
        {
            const CFakeCompanion::CopyData& data = CFakeCompanion::s_received[0];
            ok(data.wParam == IdentityOf(control.Get()), "wParam %#lx is not the control's identity\n",
               static_cast<unsigned long>(data.wParam));
            ok(data.kind == 7 && data.length == 8, "kind %lu, length %lu\n", static_cast<unsigned long>(data.kind),
               static_cast<unsigned long>(data.length));
            ok(data.bytes == std::string("3#<C:\\d", 8), "text %s\n", data.bytes.c_str());
        }
        check_list(downList, {7, "x"});

        // Held for a moment only, as a companion holds it while it reads: the
        // record still goes into the file, soon after the holder lets go.
        struct Holder
        {
            HANDLE file;
            static DWORD WINAPI LetGo(void* param)
            {
                Sleep(40);
                CloseHandle(static_cast<Holder*>(param)->file);
                return 0;
            }
        } brief = {CreateFileA(downList.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ok(brief.file != INVALID_HANDLE_VALUE, "cannot hold the list file for a moment\n");
        HANDLE letGo = CreateThread(nullptr, 0, Holder::LetGo, &brief, 0, nullptr);
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"4").Get(), CBstr(L"C:\\e").Get());
        start = GetTickCount();
        check_hr(control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get()), S_OK);
        elapsed = GetTickCount() - start;
        WaitForSingleObject(letGo, INFINITE);
        CloseHandle(letGo);
        ok(elapsed < 1000, "a moment's hold delayed the hand-off %lu ms\n", static_cast<unsigned long>(elapsed));
        ok(CFakeCompanion::s_received.size() == 1, "%u messages after a moment's hold\n",
           static_cast<unsigned>(CFakeCompanion::s_received.size()));
        check_list(downList, {7, "x"}, {7, "4#<C:\\e"});
    }

    // The same with the real companion holding its list file.
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string upList = UpListFile();
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"a").Get());
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    HWND companion = CompanionWindow(kUpClass);
    ok(companion != nullptr, "no upload companion\n");
    ok(SendMessageA(companion, WM_HOLD_LIST, 0, 0) == 1, "the companion could not hold its list\n");
    control->UpLoadInfo(CBstr(L"z").Get());
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    ok(FindLines(log, {"TavrineUp.exe ", "record source=copydata wparam=" + HexOf(IdentityOf(control.Get())) +
                                             " kind=2 length=5 text=a#>z"}).size() == 1,
       "the fallback record did not arrive\n");
    SendMessageA(companion, WM_RELEASE_LIST, 0, 0);
    check_list(upList, {2, "a"});
    ok(FindLines(log, {" bad "}).empty(), "the companion found a malformed record\n");

    CloseEverything();
    DeleteFileA(upList.c_str());
    DeleteFileA(downList.c_str());
}

// A freshly started companion reads its list from the top: an old record
// that cannot be deleted is cut away first, and when it can be neither
// deleted nor cut away the program is not started at all. What the new
// companion receives is read from its own log.
static void test_stale_list_file()
{
    CComApartment com;
    std::string log;
    if (!Prepare("stale", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    const std::string upList = UpListFile();
    const std::string old("\x02\0\0\0\x04\0\0\0\0\0\0\0old\0", 16);
    struct Case
    {
        const char* what;
        bool readOnly;
        DWORD holderShare;   // the holder's sharing; ~0u: nobody holds the file
        bool started;
    };
    const Case cases[] = {
        {"read-only", true, ~0u, true},
        {"held open, writing shared", false, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"read-only and held open, writing shared", true, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"held open, writing not shared", false, FILE_SHARE_READ, false},
        {"read-only and held open, writing not shared", true, FILE_SHARE_READ, false},
    };
    size_t starts = 0;
    for (const Case& c : cases)
    {
        ok(CloseAll(kUpClass), "%s: the upload companion did not close\n", c.what);
        SetFileAttributesA(upList.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(upList.c_str());
        WriteFileBytes(upList, old);
        if (c.readOnly)
            ok(SetFileAttributesA(upList.c_str(), FILE_ATTRIBUTE_READONLY), "%s: cannot make the list read-only\n", c.what);
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (c.holderShare != ~0u)
        {
            holder = CreateFileA(upList.c_str(), GENERIC_READ, c.holderShare, nullptr, OPEN_EXISTING, 0, nullptr);
            ok(holder != INVALID_HANDLE_VALUE, "%s: cannot hold the list\n", c.what);
        }
        std::string text = std::string("new ") + c.what;
        std::wstring wide(text.begin(), text.end());
        control->UpLoadInit();
        control->UpLoadInfo(CBstr(wide.c_str()).Get());
        check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), c.started ? S_OK : S_FALSE);
        if (c.started)
        {
            ++starts;
            ok(WaitForLines(log, {"TavrineUp.exe ", " text=" + text}), "%s: the new record did not arrive\n", c.what);
            Sleep(500);   // the companion polls its list every 100 ms: an old record would show by now
        }
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        ok(Starts(log, "TavrineUp.exe") == starts, "%s: %u starts, expected %u\n", c.what,
           static_cast<unsigned>(Starts(log, "TavrineUp.exe")), static_cast<unsigned>(starts));
        ok(FindLines(log, {" text=" + text}).size() == (c.started ? 1u : 0u), "%s: the new record arrived %u times\n",
           c.what, static_cast<unsigned>(FindLines(log, {" text=" + text}).size()));
        if (!c.started)
        {
            bool exists = false;
            DWORD attributes = GetFileAttributesA(upList.c_str());
            ok(ReadFileBytes(upList, &exists) == old && exists, "%s: the list was changed\n", c.what);
            ok(attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_READONLY) != 0) == c.readOnly,
               "%s: attributes %#lx\n", c.what, static_cast<unsigned long>(attributes));
        }
    }
    ok(FindLines(log, {" text=old"}).empty(), "a new companion received the old record\n");
    fault_row("a stale list file that cannot be deleted before a companion starts",
              "emptied (a read-only one too) and the new companion gets only the new record; if it can be neither "
              "deleted nor emptied, nothing is started and the method answers S_FALSE",
              std::to_string(FindLines(log, {" text=old"}).size()) + " old records received; " +
                  std::to_string(Starts(log, "TavrineUp.exe")) + " of 3 starts",
              FindLines(log, {" text=old"}).empty() && Starts(log, "TavrineUp.exe") == 3);
    CloseEverything();
    SetFileAttributesA(upList.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(upList.c_str());
}

// A started program that never shows its window does not hold the page's
// thread for ever, and gets no record.
static void test_companion_without_window()
{
    CComApartment com;
    std::string log;
    if (!Prepare("nowindow", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "TavrineCompanionStop");
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", "nowindow");
    std::string upList = UpListFile();
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"a").Get());
    DWORD start = GetTickCount();
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_FALSE);
    DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", nullptr);
    ok(elapsed >= 25000 && elapsed < 60000, "waited %lu ms\n", static_cast<unsigned long>(elapsed));
    ok(Starts(log, "TavrineUp.exe") == 1, "the program was not started\n");
    check_list(upList, );
    bool exists = false;
    ReadFileBytes(upList, &exists);
    fault_row("a started companion never opens its window",
              "UpLoadEnd gives up after about 30 s with S_FALSE; no record is written",
              "S_FALSE after " + std::to_string(elapsed) + " ms; " + (exists ? "list file written" : "no list file"),
              elapsed >= 25000 && elapsed < 60000 && !exists);
    SetEvent(stop);
    ok(WaitForLines(log, {"TavrineUp.exe ", " exit"}), "the windowless companion did not end\n");
    CloseHandle(stop);
}

// A credential that would split the command line starts nothing; a running
// companion, which needs no command line, still gets the job.
static void test_command_line_guard()
{
    CComApartment com;
    std::string log;
    if (!Prepare("guard", log))
        return;
    std::string upList = UpListFile(), downList = DownListFile();
    const wchar_t* const unsafe[] = {L"us er", L"us\ter", L"us\"er", L"us\x01" L"er", L"us\ner"};
    {
        CFakeCompanion explorer(kExplorerClass);
        CIfacePtr<IVedADA> control = CreateControl();
        if (!control)
            return;
        WriteFileBytes(upList, "stale");
        control->UpLoadInit();
        control->UpLoadInfo(CBstr(L"a").Get());
        for (const wchar_t* value : unsafe)
        {
            check_hr(control->UpLoadEnd(CBstr(value).Get(), CBstr(L"pass").Get()), S_FALSE);
            check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(value).Get()), S_FALSE);
            CBstr result;
            check_hr(control->LauncherWebLink(CBstr(value).Get(), CBstr(L"pass").Get(), CBstr(L"http://x/").Get(),
                                              result.Put()),
                     S_FALSE);
            ok(result.Get() && lstrcmpW(result.Get(), L"0") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
        }
        Sleep(1000);
        ok(Starts(log, "TavrineUp.exe") == 0 && Starts(log, "TavrineDown.exe") == 0, "a companion was started\n");
        bool exists = false;
        ok(ReadFileBytes(upList, &exists) == "stale" && exists, "the list file was touched\n");
    }
    {
        CFakeCompanion up(kUpClass);
        CIfacePtr<IVedADA> control = CreateControl();
        if (!control)
            return;
        check_hr(control->LauncherExplorer(CBstr(L"us er").Get(), CBstr(L"pass").Get()), S_FALSE);
        check_hr(control->LauncherExplorer(CBstr(L"user").Get(), CBstr(L"pa\"ss").Get()), S_FALSE);
        Sleep(1000);
        ok(Starts(log, "Explorer.exe") == 0, "the explorer was started\n");

        // Running: the job needs no command line.
        DeleteFileA(upList.c_str());
        control->UpLoadInit();
        control->UpLoadInfo(CBstr(L"b").Get());
        check_hr(control->UpLoadEnd(CBstr(L"us er").Get(), CBstr(L"pa ss").Get()), S_OK);
        check_list(upList, {2, "b"});
    }
    {
        CFakeCompanion down(kDownClass);
        CIfacePtr<IVedADA> control = CreateControl();
        if (!control)
            return;
        DeleteFileA(downList.c_str());
        CBstr result;
        check_hr(control->LauncherWebLink(CBstr(L"us er").Get(), CBstr(L"pass").Get(), CBstr(L"http://x/").Get(),
                                          result.Put()),
                 S_OK);
        ok(result.Get() && lstrcmpW(result.Get(), L"1") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
        check_list(downList, {8, "http://x/"});
    }
    DeleteFileA(upList.c_str());
    DeleteFileA(downList.c_str());
}

static void test_explorer_launcher()
{
    CComApartment com;
    std::string log;
    if (!Prepare("explorer", log))
        return;
    CFakeCompanion up(kUpClass);   // lets the install check pass
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    check_hr(control->LauncherExplorer(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    ok(WaitForLines(log, {"Explorer.exe ", " cmdline user pass"}), "the explorer did not start\n");
    ok(FindLines(log, {"Explorer.exe ", " args user=user password=pass"}).size() == 1, "arguments differ\n");
    DWORD start = GetTickCount();
    while (!CompanionWindow(kExplorerClass) && GetTickCount() - start < 20000)
        Sleep(100);
    // Running: no second explorer, but the credentials are replaced.
    check_hr(control->LauncherExplorer(CBstr(L"user2").Get(), CBstr(L"pass2").Get()), S_OK);
    Sleep(1500);
    ok(Starts(log, "Explorer.exe") == 1, "%u explorers started\n", static_cast<unsigned>(Starts(log, "Explorer.exe")));

    // The stored credentials carry over to a web link given without any.
    std::string downList = DownListFile();
    CBstr result;
    check_hr(control->LauncherWebLink(nullptr, CBstr(L"").Get(), CBstr(L"http://a/b?c=d").Get(), result.Put()), S_OK);
    ok(result.Get() && lstrcmpW(result.Get(), L"1") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
    ok(FindLines(log, {"TavrineDown.exe ", " cmdline weblink user2 pass2 " + Encoded(downList)}).size() == 1,
       "the download program was not started with the web link command line\n");
    check_list(downList, {8, "http://a/b?c=d"});
    ok(WaitForLines(log, {"TavrineDown.exe ", " link http://a/b?c=d"}), "the web link did not arrive\n");

    // An empty password is stored too: no credentials, no running download companion, "0".
    CloseAll(kDownClass);
    check_hr(control->LauncherExplorer(CBstr(L"user").Get(), CBstr(L"").Get()), S_FALSE);
    result.Reset();
    check_hr(control->LauncherWebLink(nullptr, nullptr, CBstr(L"http://a/").Get(), result.Put()), S_FALSE);
    ok(result.Get() && lstrcmpW(result.Get(), L"0") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
    ok(Starts(log, "TavrineDown.exe") == 1, "the download program was started\n");
    CloseEverything();
    DeleteFileA(downList.c_str());
}

// An explorer that was started and has not shown its window yet (or never
// will) is not started again, from this object or another: a page cannot
// start one process after another. Once it has ended, a call starts one again.
static void test_explorer_start_guard()
{
    CComApartment com;
    std::string log;
    if (!Prepare("explorerguard", log))
        return;
    CFakeCompanion up(kUpClass);   // lets the install check pass
    CIfacePtr<IVedADA> control = CreateControl(), other = CreateControl();
    if (!control || !other)
        return;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "TavrineCompanionStop");
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", "nowindow");
    for (int i = 0; i < 5; ++i)
        check_hr((i % 2 ? other : control)->LauncherExplorer(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    ok(WaitForLines(log, {"Explorer.exe ", " start class="}), "the explorer did not start\n");
    Sleep(1500);
    size_t starts = Starts(log, "Explorer.exe");
    ok(starts == 1, "%u explorers started while the first had no window\n", static_cast<unsigned>(starts));
    fault_row("LauncherExplorer called in a loop while the explorer has not shown its window",
              "one explorer process; the other calls start nothing", std::to_string(starts) + " processes",
              starts == 1);

    SetEvent(stop);
    ok(WaitForLines(log, {"Explorer.exe ", " exit"}), "the windowless explorer did not end\n");
    ResetEvent(stop);
    // It ends just after its last log line: the first call after that starts a new one.
    DWORD start = GetTickCount();
    while (Starts(log, "Explorer.exe") < 2 && GetTickCount() - start < 15000)
    {
        control->LauncherExplorer(CBstr(L"user").Get(), CBstr(L"pass").Get());
        Sleep(500);
    }
    Sleep(1000);
    ok(Starts(log, "Explorer.exe") == 2, "%u explorers after the first ended, expected 2\n",
       static_cast<unsigned>(Starts(log, "Explorer.exe")));
    SetEvent(stop);
    ok(WaitForLines(log, {"Explorer.exe ", " exit"}, 2), "the second explorer did not end\n");
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", nullptr);
    CloseHandle(stop);
}

static void test_web_link_launcher()
{
    CComApartment com;
    std::string log;
    if (!Prepare("weblink", log))
        return;
    std::string upList = UpListFile(), downList = DownListFile();
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    check_hr(control->LauncherWebLink(CBstr(L"u").Get(), CBstr(L"p").Get(), CBstr(L"l").Get(), nullptr), E_POINTER);
    {
        CFakeCompanion up(kUpClass);
        control->UpLoadInit();
        control->UpLoadInfo(CBstr(L"a").Get());
        check_hr(control->UpLoadEnd(CBstr(L"upuser").Get(), CBstr(L"uppass").Get()), S_OK);

        // Valid credentials and no link: "1", nothing handed off.
        DeleteFileA(downList.c_str());
        BSTR sentinel = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xdeadbeef));
        BSTR value = sentinel;
        check_hr(control->LauncherWebLink(nullptr, nullptr, CBstr(L"").Get(), &value), S_OK);
        ok(value != sentinel && value && lstrcmpW(value, L"1") == 0, "pVal not replaced by \"1\"\n");
        if (value != sentinel)
            SysFreeString(value);
        Sleep(500);
        ok(Starts(log, "TavrineDown.exe") == 0, "a program was started for an empty link\n");
        check_list(downList, );

        // The credentials of UpLoadEnd are used when none are given.
        CBstr result;
        check_hr(control->LauncherWebLink(CBstr(L"").Get(), nullptr, CBstr(L"http://w/1").Get(), result.Put()), S_OK);
        ok(result.Get() && lstrcmpW(result.Get(), L"1") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
        ok(FindLines(log, {"TavrineDown.exe ", " cmdline weblink upuser uppass " + Encoded(downList)}).size() == 1,
           "the web link command line differs\n");
        check_list(downList, {8, "http://w/1"});

        // Each credential is replaced only by a non-empty argument: a new ID
        // goes out with the password stored before.
        ok(CloseAll(kDownClass), "the download companion did not close\n");
        result.Reset();
        check_hr(control->LauncherWebLink(CBstr(L"linkuser").Get(), CBstr(L"").Get(), CBstr(L"http://w/2").Get(),
                                          result.Put()),
                 S_OK);
        ok(result.Get() && lstrcmpW(result.Get(), L"1") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
        ok(FindLines(log, {"TavrineDown.exe ", " cmdline weblink linkuser uppass " + Encoded(downList)}).size() == 1,
           "the web link command line does not pair the new ID with the stored password\n");
        check_list(downList, {8, "http://w/2"});
    }
    // A running download companion takes the link with no credentials at all,
    // after any download records.
    CloseEverything();
    {
        CFakeCompanion down(kDownClass);
        WriteFileBytes(downList, std::string("\x07\0\0\0\x02\0\0\0\0\0\0\0x\0", 14));
        CBstr result;
        check_hr(control->LauncherExplorer(nullptr, nullptr), S_FALSE);   // empties the stored credentials
        check_hr(control->LauncherWebLink(nullptr, nullptr, CBstr(L"http://w/\xD55C").Get(), result.Put()), S_OK);
        ok(result.Get() && lstrcmpW(result.Get(), L"1") == 0, "got %ls\n", result.Get() ? result.Get() : L"(null)");
        check_list(downList, {7, "x"}, {8, "http://w/" + Narrow(L"\xD55C", CP_THREAD_ACP)});
        ok(Starts(log, "TavrineDown.exe") == 2, "a program was started\n");
    }
    DeleteFileA(upList.c_str());
    DeleteFileA(downList.c_str());
}

// A companion that goes away right after its window appeared, and one that
// hangs in its WM_COPYDATA handler: the page gets its answer in bounded time.
static void test_companion_faults()
{
    CComApartment com;
    std::string log;
    if (!Prepare("faults", log))
        return;
    CFakeCompanion explorer(kExplorerClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string upList = UpListFile();

    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", "shortlived");
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"s").Get());
    DWORD start = GetTickCount();
    HRESULT hr = control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get());
    DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", nullptr);
    // Whether the control saw the short-lived window is a matter of timing;
    // either way it answers, and a record it wrote is whole.
    std::string why;
    bool consistent = hr == S_OK ? ListFileIs(upList, {{2, "s"}}, why) : hr == S_FALSE && ListFileIs(upList, {}, why);
    fault_row("a started companion exits right after opening its window",
              "UpLoadEnd answers within the 30 s bound; S_OK with one whole record, or S_FALSE with none",
              std::string(hr == S_OK ? "S_OK" : hr == S_FALSE ? "S_FALSE" : "other") + " after " +
                  std::to_string(elapsed) + " ms; " + (why.empty() ? "list file consistent" : why),
              elapsed < 35000 && consistent);
    ok(WaitForLines(log, {"TavrineUp.exe ", " exit"}), "the short-lived companion did not end\n");

    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", "hangcopydata");
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"h").Get());
    check_hr(control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()), S_OK);
    SetEnvironmentVariableA("TAVRINE_COMPANION_MODE", nullptr);
    HWND companion = CompanionWindow(kUpClass);
    ok(companion && SendMessageA(companion, WM_HOLD_LIST, 0, 0) == 1, "the companion could not hold its list\n");
    start = GetTickCount();
    hr = control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get());
    elapsed = GetTickCount() - start;
    fault_row("a companion hangs in its WM_COPYDATA handler (its list file held)",
              "UpLoadEnd answers S_FALSE after the 2 s of retries and the 10 s message bound",
              std::string(hr == S_OK ? "S_OK" : hr == S_FALSE ? "S_FALSE" : "other") + " after " +
                  std::to_string(elapsed) + " ms",
              hr == S_FALSE && elapsed >= 2000 && elapsed < 20000);
    DWORD pid = 0;
    if (companion)
        GetWindowThreadProcessId(companion, &pid);
    HANDLE process = pid ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid) : nullptr;
    if (process)
    {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    DeleteFileA(upList.c_str());
}

// Without a usable temporary folder (TMP and TEMP name a missing one, or one
// too long for GetTempPathA's buffer) no list file can be written: the
// hand-off declines, even to a running companion, and nothing lands in the
// host's current folder.
static void test_temp_dir_unusable()
{
    CComApartment com;
    std::string log;
    if (!Prepare("notemp", log))
        return;
    std::string savedTmp = EnvOr("TMP"), savedTemp = EnvOr("TEMP");
    const std::string missing = TempDir() + "no such folder";
    const std::string tooLong = TempDir() + std::string(300, 'x');
    RemoveDirectoryA(missing.c_str());
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(current), current);
    const std::string strayUp = std::string(current) + "\\Tavrine_Upload_List";
    const std::string strayDown = std::string(current) + "\\Tavrine_Download_List";
    for (const std::string* folder : {&missing, &tooLong})
    {
        const char* what = folder == &missing ? "missing" : "too long";
        for (bool running : {true, false})
        {
            CFakeCompanion::s_received.clear();
            CFakeCompanion explorer(kExplorerClass);   // lets the install check pass
            std::unique_ptr<CFakeCompanion> up, down;
            if (running)
            {
                up.reset(new CFakeCompanion(kUpClass));
                down.reset(new CFakeCompanion(kDownClass));
            }
            SetEnvironmentVariableA("TMP", folder->c_str());
            SetEnvironmentVariableA("TEMP", folder->c_str());
            CIfacePtr<IVedADA> control = CreateControl();
            SetEnvironmentVariableA("TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
            SetEnvironmentVariableA("TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
            if (!control)
                return;
            control->UpLoadInit();
            control->UpLoadInfo(CBstr(L"t").Get());
            HRESULT upHr = control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get());
            control->DownLoadInit();
            control->DownLoadInfo(CBstr(L"1").Get(), CBstr(L"C:\\d").Get());
            HRESULT downHr = control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get());
            CBstr link;
            HRESULT linkHr = control->LauncherWebLink(CBstr(L"user").Get(), CBstr(L"pass").Get(),
                                                      CBstr(L"http://x/").Get(), link.Put());
            bool declined = upHr == S_FALSE && downHr == S_FALSE && linkHr == S_FALSE && link.Get() &&
                            lstrcmpW(link.Get(), L"0") == 0;
            ok(declined, "%s, companions %s: UpLoadEnd %#lx, DownLoadEnd %#lx, LauncherWebLink %#lx \"%ls\"\n", what,
               running ? "running" : "not running", static_cast<unsigned long>(upHr), static_cast<unsigned long>(downHr),
               static_cast<unsigned long>(linkHr), link.Get() ? link.Get() : L"(null)");
            ok(CFakeCompanion::s_received.empty(), "%s: %u messages\n", what,
               static_cast<unsigned>(CFakeCompanion::s_received.size()));
            Sleep(300);
            ok(Starts(log, "TavrineUp.exe") == 0 && Starts(log, "TavrineDown.exe") == 0, "%s: a companion was started\n",
               what);
            bool stray = GetFileAttributesA(strayUp.c_str()) != INVALID_FILE_ATTRIBUTES ||
                         GetFileAttributesA(strayDown.c_str()) != INVALID_FILE_ATTRIBUTES;
            ok(!stray, "%s: a list file was written into the current folder %s\n", what, current);
            ok(GetFileAttributesA(missing.c_str()) == INVALID_FILE_ATTRIBUTES, "the missing folder was created\n");
            if (running)
                fault_row(folder == &missing ? "the temporary directory is missing"
                                             : "the temporary directory does not fit GetTempPathA's buffer",
                          "the hand-off declines: S_FALSE, \"0\" for a web link, no message, nothing written",
                          std::string(declined ? "declined" : "not declined") + "; " +
                              std::to_string(CFakeCompanion::s_received.size()) + " messages" +
                              (stray ? "; a list file in the current folder" : ""),
                          declined && CFakeCompanion::s_received.empty() && !stray);
            DeleteFileA(strayUp.c_str());
            DeleteFileA(strayDown.c_str());
        }
    }
    CloseEverything();
}

// The browser's runtime locale is shared by every module of its process:
// the transfer methods leave it as the host set it.
static void test_host_locale()
{
    CComApartment com;
    ok(CloseAll(kDownClass), "companions still running\n");
    CFakeCompanion down(kDownClass);
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return;
    std::string downList = DownListFile();
    for (const char* hostLocale : {"C", "English", "Japanese"})
    {
        if (!setlocale(LC_ALL, hostLocale))
        {
            skip("the runtime has no locale \"%s\"\n", hostLocale);
            continue;
        }
        std::string before = setlocale(LC_ALL, nullptr);
        DeleteFileA(downList.c_str());
        control->DownLoadInit();
        control->DownLoadInfo(CBstr(L"1").Get(), CBstr(L"C:\\\xD55C").Get());
        control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"\xACE0").Get());
        control->DownLoadInfo(CBstr(L"2").Get(), CBstr(L"C:\\b").Get());
        control->DownLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get(), CBstr(L"D").Get());
        const char* after = setlocale(LC_ALL, nullptr);
        ok(after && before == after, "host locale \"%s\" became \"%s\"\n", before.c_str(), after ? after : "(null)");
        check_list(downList, {7, "1#<C:\\" + Narrow(L"\xD55C", CP_ACP)}, {7, "1#<C:\\" + Narrow(L"\xD55C", CP_ACP) + "#>2#<C:\\b"});
    }
    setlocale(LC_ALL, "C");
    DeleteFileA(downList.c_str());
}

TEST_MAIN(TEST(test_job_texts), TEST(test_text_not_held), TEST(test_nothing_to_send), TEST(test_upload_handoff),
          TEST(test_temp_dir_with_spaces), TEST(test_download_modes), TEST(test_list_file_held), TEST(test_stale_list_file), TEST(test_companion_without_window),
          TEST(test_companion_faults), TEST(test_temp_dir_unusable), TEST(test_host_locale), TEST(test_command_line_guard),
          TEST(test_explorer_launcher), TEST(test_explorer_start_guard), TEST(test_web_link_launcher))
