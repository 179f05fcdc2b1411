// The browser bridge, TavrineBridge.exe, driven as a browser drives it: a fake
// browser starts the host with pipes and speaks the framing. Covers every
// method and its events, bad input, the end of input, a large folder pick,
// two hosts at once, registration, and (in the locked build) the page check.
// Companion windows are stood in for by windows of this process, so the
// install check passes at once and hand-offs land in the list files.
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "FakeBrowser.h"
#include "companion/CompanionFixture.h"
#include "PickerDriver.h"
#include "harness/TestHarness.h"

using nlohmann::json;

namespace
{
// The build's own extension (cmake/ExtensionIdentity.cmake), as the browsers name it.
const char kChromeCaller[] = "chrome-extension://" TAVRINE_TEST_CHROME_ID "/ --parent-window=0";
const char kFirefoxCaller[] = "C:\\manifests\\com.tavrine.bridge.firefox.json " TAVRINE_TEST_FIREFOX_ID;
const DWORD kStartMs = 60000;   // a cold Wine start under qemu is slow
const char kKorean[] = "\xED\x95\x9C\xEA\xB8\x80";      // 한글 in UTF-8
const char kKoreanAcp[] = "\xC7\xD1\xB1\xDB";          // 한글 in code page 949
const size_t kMiB = 1024 * 1024;

std::string HostPath()
{
    return WindowsPathOf(EnvOr("TAVRINE_BUILD_DIR")) + "\\bridge\\TavrineBridge.exe";
}

bool StartHost(CFakeBrowser& browser, const char* caller = kChromeCaller)
{
    if (!browser.Start(HostPath(), caller))
    {
        ok(false, "starting %s failed (%lu)", HostPath().c_str(), GetLastError());
        return false;
    }
    json hello;
    bool said = browser.Receive(hello, kStartMs);
    ok(said && hello.value("type", "") == "hello" && hello.value("version", "") != "",
       "hello: %s", said ? hello.dump().c_str() : "(nothing)");
    return said;
}

// Windows of the companions' classes, so that the host's install check and
// hand-offs find "running" companions.
class CCompanionWindows
{
public:
    CCompanionWindows(std::vector<const char*> names = {"tavrine_class_upload", "tavrine_class_down",
                                                        "tavrine_class_explorer"})
    {
        for (const char* name : names)
        {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = DefWindowProcA;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = name;
            RegisterClassA(&windowClass);
            m_windows.push_back(CreateWindowExA(0, name, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                                windowClass.hInstance, nullptr));
        }
    }
    ~CCompanionWindows()
    {
        for (HWND window : m_windows)
            if (window)
                DestroyWindow(window);
    }
    void Close(const char* name)
    {
        for (HWND& window : m_windows)
        {
            char found[64] = "";
            if (window && GetClassNameA(window, found, sizeof(found)) && lstrcmpA(found, name) == 0)
            {
                DestroyWindow(window);
                window = nullptr;
            }
        }
    }

private:
    std::vector<HWND> m_windows;
};

std::string TempPath(const char* name)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name;
}

// The last record of a list file: its kind and text, "" when there is none.
std::string LastRecord(const char* listFile, DWORD* kind)
{
    *kind = 0;
    HANDLE file = CreateFileA(TempPath(listFile).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    std::string text;
    size_t at = 0;
    while (at + 12 <= bytes.size())
    {
        DWORD length = 0;
        memcpy(kind, &bytes[at], 4);
        memcpy(&length, &bytes[at + 4], 4);
        if (length == 0 || at + 12 + length > bytes.size())
            return "(malformed)";
        text = bytes.substr(at + 12, length - 1);
        at += 12 + length;
    }
    return text;
}

json Event(const char* name, const std::vector<std::string>& args)
{
    return {{"type", "event"}, {"name", name}, {"args", args}};
}

json Result(const json& value)
{
    return {{"type", "result"}, {"value", value}};
}

// Compares what came with what was expected, once each message carries the id.
void CheckAnswers(const char* what, int64_t id, const std::vector<json>& got, std::vector<json> want)
{
    for (json& message : want)
        message["id"] = id;
    ok(got == want, "%s: got %s, expected %s", what, json(got).dump().c_str(), json(want).dump().c_str());
}

// Both list files gone, so that what a test finds there is its own.
void RemoveListFiles()
{
    DeleteFileA(TempPath("Tavrine_Upload_List").c_str());
    DeleteFileA(TempPath("Tavrine_Download_List").c_str());
}

json Request(int64_t id, const char* op, const std::vector<std::string>& args)
{
    return {{"id", id}, {"op", op}, {"args", args}};
}

void test_methods_and_events()
{
    RemoveListFiles();
    CCompanionWindows companions;
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;

    const std::string koreanPath = std::string("C:\\") + kKorean + "\\a.txt";
    struct Row
    {
        const char* op;
        std::vector<std::string> args;
        std::vector<json> answers;
        const char* listFile;   // the list file whose last record the call writes
        DWORD kind;
        std::string record;
    };
    const Row rows[] = {
        {"CheckInstall", {}, {Event("InstallCompleteEvent", {}), Result(true)}},
        {"SelectComplete", {koreanPath, "12", "0"}, {Event("UpSelectComplete", {koreanPath, "12", "0"}), Result(true)}},
        {"AllowPopUp", {"www.tavrine.example"}, {Result(true)}},
        {"UpLoadInit", {}, {Result(true)}},
        {"UpLoadInfo", {"a"}, {Result(true)}},
        {"UpLoadInfo", {kKorean}, {Result(true)}},
        {"UpLoadEnd", {"user", "pw"}, {Result(true)}, "Tavrine_Upload_List", 2, std::string("a#>") + kKoreanAcp},
        {"DownLoadInit", {}, {Result(true)}},
        {"DownLoadInfo", {"12", std::string("C:\\Down\\") + kKorean + " b.txt"}, {Result(true)}},
        {"DownLoadEnd", {"user", "pw", "S"}, {Result(true)}, "Tavrine_Download_List", 7,
         std::string("12#<C:\\Down\\") + kKoreanAcp + " b.txt"},
        {"DownLoadSpInit", {}, {Result(true)}},
        {"DownLoadEnd", {"user", "pw", ""}, {Result(false)}},   // the Sp init emptied the batch
        {"LauncherExplorer", {"", "pw"}, {Result(false)}},
        {"LauncherWebLink", {"", "", "http://x.example/y"}, {Result("1")}, "Tavrine_Download_List", 8,
         "http://x.example/y"},
        {"LauncherExplorer", {"user", "pw"}, {Result(true)}},
    };
    int64_t id = 1;
    for (const Row& row : rows)
    {
        std::vector<json> got = browser.Call(id, row.op, row.args);
        CheckAnswers(row.op, id, got, row.answers);
        if (row.listFile)
        {
            DWORD kind = 0;
            std::string record = LastRecord(row.listFile, &kind);
            ok(kind == row.kind && record == row.record, "%s: record %lu \"%s\", expected %lu \"%s\"", row.op, kind,
               record.c_str(), row.kind, row.record.c_str());
        }
        ++id;
    }

    // The pop-up list got the site, as from the control.
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", 0,
                                KEY_READ | KEY_SET_VALUE, &key);
    ok(opened == ERROR_SUCCESS && RegQueryValueExA(key, "www.tavrine.example", nullptr, nullptr, nullptr, nullptr) == 0,
       "AllowPopUp wrote the site's value");
    if (opened == ERROR_SUCCESS)
    {
        RegDeleteValueA(key, "www.tavrine.example");
        RegCloseKey(key);
    }

    // Without a running download program and with no credentials, the web link is declined.
    companions.Close("tavrine_class_down");
    CheckAnswers("LauncherExplorer, empty", id, browser.Call(id, "LauncherExplorer", {"", ""}), {Result(false)});
    ++id;
    CheckAnswers("LauncherWebLink, declined", id, browser.Call(id, "LauncherWebLink", {"", "", "http://z.example"}),
                 {Result("0")});
    ++id;
    // An unlocked build serves whatever origin the request names.
    json request = Request(id, "CheckInstall", {});
    request["origin"] = "https://elsewhere.example";
    std::vector<json> got;
    browser.Send(request);
    browser.Answers(id, got, 30000);
    CheckAnswers("CheckInstall from any origin", id, got, {Event("InstallCompleteEvent", {}), Result(true)});
    // The ids a JavaScript number holds exactly come back as they went.
    for (int64_t edge : {9007199254740991ll, -9007199254740991ll})
        CheckAnswers("UpLoadInit, the largest id", edge, browser.Call(edge, "UpLoadInit", {}), {Result(true)});

    browser.CloseInput();
    ok(browser.WaitExit(10000) == 0, "the host ended with code 0");
}

std::vector<json> SendAndCollect(CFakeBrowser& browser, const std::string& payload, int64_t id)
{
    std::vector<json> got;
    browser.Send(payload);
    browser.Answers(id, got, 30000);
    return got;
}

// The error answer's code, or "" when the single answer is not an error.
std::string ErrorCode(const std::vector<json>& got, const json& id)
{
    if (got.size() != 1 || got[0].value("type", "") != "error" || got[0].value("id", json(-1)) != id)
        return "(" + json(got).dump() + ")";
    return got[0].value("code", "");
}

void test_bad_input()
{
    DeleteFileA(TempPath("Tavrine_Upload_List").c_str());
    CCompanionWindows companions;
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    CheckAnswers("UpLoadInit", 1, browser.Call(1, "UpLoadInit", {}), {Result(true)});

    // Answers with no readable id come as the only answer before the next call's.
    struct Bad
    {
        const char* what;
        std::string payload;
        json id;
        const char* code;
    };
    // A request just within the limit whose event would be just over it.
    json select = Request(13, "SelectComplete", {"", "", ""});
    select["args"][0] = std::string(1024 * 1024 - select.dump().size(), 'x');
    // Whose error would quote a name of nearly 1 MiB.
    json longOp = Request(14, "", {});
    longOp["op"] = std::string(kMiB - longOp.dump().size(), 'o');
    // Over the limit, read piece by piece: the id after 1 MiB of arguments (a
    // browser may write the keys in order), and after decoys in a string and
    // in a nested object.
    json over = Request(15, "UpLoadInfo", {std::string(kMiB, 'x')});
    json decoys = Request(16, "UpLoadInfo", {std::string("\"id\":99, \\\"id\\\": 98 ") + std::string(kMiB, '\\')});
    decoys["a"] = {{"id", 97}, {"list", {1, "\"id\":96"}}};
    const Bad bad[] = {
        {"invalid UTF-8", "{\"id\":2,\"op\":\"UpLoadInfo\",\"args\":[\"\xC3\x28\"]}", nullptr, "bad-utf8"},
        {"a lone surrogate escape", "{\"id\":3,\"op\":\"UpLoadInfo\",\"args\":[\"\\ud800\"]}", nullptr, "bad-json"},
        {"not JSON", "{\"id\":4,", nullptr, "bad-json"},
        {"not an object", "[4]", nullptr, "bad-json"},
        {"an id that is a string", "{\"id\":\"5\",\"op\":\"UpLoadInfo\",\"args\":[\"x\"]}", nullptr, "bad-request"},
        {"no op", "{\"id\":6,\"args\":[\"x\"]}", 6, "bad-request"},
        {"an unknown op", Request(7, "UpLoadInfoo", {"x"}).dump(), 7, "unknown-op"},
        {"too many arguments", Request(8, "UpLoadInfo", {"x", "y"}).dump(), 8, "bad-arguments"},
        {"too few arguments", Request(9, "UpLoadInfo", {}).dump(), 9, "bad-arguments"},
        {"an argument that is a number", "{\"id\":10,\"op\":\"UpLoadInfo\",\"args\":[10]}", 10, "bad-arguments"},
        {"args that are no array", "{\"id\":11,\"op\":\"UpLoadInfo\",\"args\":\"x\"}", 11, "bad-arguments"},
        {"an origin that is a number", "{\"id\":12,\"op\":\"UpLoadInfo\",\"args\":[\"x\"],\"origin\":1}", 12,
         "bad-request"},
        {"an event over 1 MiB", select.dump(), 13, "too-large"},
        {"a frame over 1 MiB", std::string(1024 * 1024 + 1, ' '), nullptr, "too-large"},
        {"an unknown op of nearly 1 MiB", longOp.dump(), 14, "unknown-op"},
        {"a frame over 1 MiB, its id last", over.dump(), 15, "too-large"},
        {"a frame over 1 MiB, its id after decoys", decoys.dump(), 16, "too-large"},
        {"an id beyond 2^53", "{\"id\":9007199254740993,\"op\":\"UpLoadInfo\",\"args\":[\"x\"]}", nullptr,
         "bad-request"},
        {"an id of 2^63", "{\"id\":9223372036854775808,\"op\":\"UpLoadInfo\",\"args\":[\"x\"]}", nullptr,
         "bad-request"},
        {"an id below -2^53", "{\"id\":-9007199254740993,\"op\":\"UpLoadInfo\",\"args\":[\"x\"]}", nullptr,
         "bad-request"},
        {"an id over 1 MiB beyond 2^53", "{\"id\":9007199254740993,\"args\":[\"" + std::string(kMiB, 'x') + "\"]}",
         nullptr, "too-large"},
    };
    for (const Bad& b : bad)
    {
        browser.Send(b.payload);
        // The next good call proves the host read on; its answer follows the error.
        std::vector<json> got = browser.Call(100, "UpLoadInfo", {"p"});
        json result = got.empty() ? json() : got.back();
        if (!got.empty())
            got.pop_back();
        std::string code = ErrorCode(got, b.id);
        fault_row(b.what, b.code, code, code == b.code);
        CheckAnswers(b.what, 100, {result}, {Result(true)});
    }
    // Nothing of the bad requests reached the job text: only the good calls' items.
    CheckAnswers("UpLoadInfo", 200, browser.Call(200, "UpLoadInfo", {"a"}), {Result(true)});
    CheckAnswers("UpLoadEnd", 201, browser.Call(201, "UpLoadEnd", {"user", "pw"}), {Result(true)});
    DWORD kind = 0;
    std::string expected;
    for (size_t i = 0; i < sizeof(bad) / sizeof(bad[0]); ++i)
        expected += "p#>";
    expected += "a";
    std::string record = LastRecord("Tavrine_Upload_List", &kind);
    ok(kind == 2 && record == expected, "job text after the bad requests: \"%s\"", record.c_str());
    ok(browser.LargestFrame() <= 1024 * 1024, "largest message %zu bytes", browser.LargestFrame());

    // A frame cut short by the end of input: the host ends cleanly.
    browser.SendRaw(std::string("\x64\x00\x00\x00{\"id\":", 10));
    browser.CloseInput();
    DWORD code = browser.WaitExit(10000);
    fault_row("a frame cut short by the end of input", "exit 0", "exit " + std::to_string(code), code == 0);
}

// Text the code page cannot hold, as a browser sends it (UTF-8): never handed
// on changed. End and Launcher calls answer false ("0") and write nothing; an
// Info item that is not carried out is refused with bad-arguments and spoils
// its batch; Korean goes through byte for byte.
void test_text_not_held()
{
    RemoveListFiles();
    CCompanionWindows companions;
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    if (GetACP() != 949)
    {
        skip("the system code page is %u, not 949", GetACP());
        return;
    }
    const std::string password = "P\xC3\xA4ssw\xC3\xB6rd\xE2\x82\xAC\xF0\x9F\x98\x80";   // Pässwörd€😀
    const std::string ga = "\xEA\xB0\x80";                                               // 가
    const json bad = "bad-arguments";
    struct Row
    {
        const char* op;
        std::vector<std::string> args;
        json answer;   // a result's value, or the error code
        bool error;
        const char* listFile;   // the file that must still not exist afterwards
    };
    const Row rows[] = {
        {"UpLoadInit", {}, true, false, nullptr},
        {"UpLoadInfo", {"1"}, true, false, nullptr},
        {"UpLoadEnd", {"user", password}, false, false, "Tavrine_Upload_List"},
        {"UpLoadEnd", {"us\xC3\xA9r", "pw"}, false, false, "Tavrine_Upload_List"},
        {"UpLoadInfo", {ga + "\xE2\x82\xA9" "1000"}, bad, true, nullptr},   // 가₩1000
        {"UpLoadInfo", {"2"}, true, false, nullptr},
        {"UpLoadEnd", {"user", "pw"}, false, false, "Tavrine_Upload_List"},   // the batch is spoiled
        {"DownLoadInit", {}, true, false, nullptr},
        {"DownLoadInfo", {"1", "C:\\Down\\\xC3\xA9.txt"}, bad, true, nullptr},   // C:\Down\é.txt
        {"DownLoadEnd", {"user", "pw", "D"}, false, false, "Tavrine_Download_List"},
        {"DownLoadInit", {}, true, false, nullptr},
        {"DownLoadInfo", {"\xE4\xB8\x82", "C:\\Down\\a.txt"}, bad, true, nullptr},   // 丂
        {"DownLoadEnd", {"user", "pw", "D"}, false, false, "Tavrine_Download_List"},
        {"DownLoadInit", {}, true, false, nullptr},
        {"DownLoadInfo", {"1", "C:\\Down\\a.txt"}, true, false, nullptr},
        {"DownLoadEnd", {"user", "pw", "\xEF\xBC\xB3\xC2\xA0"}, false, false, "Tavrine_Download_List"},   // Ｓ, NBSP
        {"LauncherWebLink", {"user", "pw", "http://x.example/\xC2\xA5"}, "0", false, "Tavrine_Download_List"},
        {"LauncherWebLink", {"", password, "http://x.example/"}, "0", false, "Tavrine_Download_List"},
        {"LauncherExplorer", {"user\xC2\xA0", "pw"}, false, false, nullptr},
        {"AllowPopUp", {"www.caf\xC3\xA9.example"}, false, false, nullptr},
    };
    int64_t id = 1;
    for (const Row& row : rows)
    {
        std::vector<json> got = browser.Call(id, row.op, row.args);
        if (row.error)
        {
            std::string code = ErrorCode(got, id);
            ok(code == row.answer, "%s %s: %s", row.op, json(row.args).dump().c_str(), json(got).dump().c_str());
        }
        else
            CheckAnswers(row.op, id, got, {Result(row.answer)});
        if (row.listFile)
            ok(GetFileAttributesA(TempPath(row.listFile).c_str()) == INVALID_FILE_ATTRIBUTES,
               "%s %s wrote %s", row.op, json(row.args).dump().c_str(), row.listFile);
        ++id;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", 0, KEY_READ,
                      &key) == ERROR_SUCCESS)
    {
        ok(RegQueryValueExA(key, "www.cafe.example", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS,
           "AllowPopUp wrote the site's best fit");
        RegCloseKey(key);
    }
    // A new batch goes through, Korean byte for byte.
    CheckAnswers("UpLoadInit", id, browser.Call(id, "UpLoadInit", {}), {Result(true)});
    ++id;
    CheckAnswers("UpLoadInfo", id, browser.Call(id, "UpLoadInfo", {ga}), {Result(true)});
    ++id;
    CheckAnswers("UpLoadEnd", id, browser.Call(id, "UpLoadEnd", {"user", "pw"}), {Result(true)});
    DWORD kind = 0;
    std::string record = LastRecord("Tavrine_Upload_List", &kind);
    ok(kind == 2 && record == "\xB0\xA1", "the Korean batch: %lu \"%s\"", kind, record.c_str());
    browser.CloseInput();
    ok(browser.WaitExit(10000) == 0, "the host ended with code 0");
    DeleteFileA(TempPath("Tavrine_Upload_List").c_str());
}

void test_two_hosts_and_end_of_input()
{
    DeleteFileA(TempPath("Tavrine_Upload_List").c_str());
    CCompanionWindows companions;
    CFakeBrowser chrome, firefox;
    if (!StartHost(chrome) || !StartHost(firefox, kFirefoxCaller))
        return;
    // Interleaved batches: each host keeps its own job text.
    CheckAnswers("A UpLoadInit", 1, chrome.Call(1, "UpLoadInit", {}), {Result(true)});
    CheckAnswers("B UpLoadInit", 1, firefox.Call(1, "UpLoadInit", {}), {Result(true)});
    CheckAnswers("A UpLoadInfo", 2, chrome.Call(2, "UpLoadInfo", {"tab-a"}), {Result(true)});
    CheckAnswers("B UpLoadInfo", 2, firefox.Call(2, "UpLoadInfo", {"tab-b"}), {Result(true)});
    CheckAnswers("A UpLoadEnd", 3, chrome.Call(3, "UpLoadEnd", {"ua", "pa"}), {Result(true)});
    DWORD kind = 0;
    ok(LastRecord("Tavrine_Upload_List", &kind) == "tab-a", "host A handed off its own batch");
    CheckAnswers("B UpLoadEnd", 3, firefox.Call(3, "UpLoadEnd", {"ub", "pb"}), {Result(true)});
    ok(LastRecord("Tavrine_Upload_List", &kind) == "tab-b", "host B handed off its own batch");

    // The end of input ends an idle host at once.
    DWORD start = GetTickCount();
    chrome.CloseInput();
    DWORD code = chrome.WaitExit(10000);
    DWORD spent = GetTickCount() - start;
    ok(code == 0 && spent <= 1000, "host A ended with %lu after %lu ms", code, spent);
    CheckAnswers("B still serves", 4, firefox.Call(4, "CheckInstall", {}),
                 {Event("InstallCompleteEvent", {}), Result(true)});
    // A request followed at once by the end of input is still served.
    firefox.Send(Request(5, "CheckInstall", {}));
    firefox.CloseInput();
    std::vector<json> last;
    firefox.Answers(5, last, 30000);
    CheckAnswers("a request just before the end of input", 5, last,
                 {Event("InstallCompleteEvent", {}), Result(true)});
    ok(firefox.WaitExit(10000) == 0, "host B ended");
}

void test_refused_callers()
{
    const char* callers[] = {"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/",
                             "C:\\m.json other@tavrine.example"};
    for (const char* caller : callers)
    {
        CFakeBrowser browser;
        if (!browser.Start(HostPath(), caller))
        {
            ok(false, "starting the host for \"%s\"", caller);
            continue;
        }
        json answer;
        bool said = browser.Receive(answer, kStartMs);
        ok(said && answer.value("type", "") == "error" && answer.value("code", "") == "forbidden-caller",
           "caller \"%s\": %s", caller, said ? answer.dump().c_str() : "(nothing)");
        DWORD code = browser.WaitExit(10000);
        ok(code == 2, "caller \"%s\": exit code %lu", caller, code);
    }
}

// A folder of 10,000 files picked in the host's picker, worked by the picker
// driver: one event per item, none over the limit, the dialog notices around
// them, and a call sent meanwhile answered after the picker's.
void test_large_pick()
{
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    browser.Send(Request(1, "ShowUpFileDlg", {}));
    CPickerDriver driver;
    bool found = driver.Attach(60000);
    ok(found, "the host's picker appeared");
    if (!found)
        return;
    browser.Send(Request(2, "CheckInstall", {}));
    int location = driver.FindLocation(L"(U:)");
    ok(location >= 0 && driver.ChooseLocation(location), "drive U: chosen");
    int row = driver.FindRow(L"Many");
    ok(row >= 0 && driver.Select({row}), "folder Many selected");
    driver.ClickAdd();
    driver.Close();
    ok(driver.WaitClosed(20000), "the picker closed");

    std::vector<json> got;
    ok(browser.Answers(1, got, 120000), "ShowUpFileDlg answered");
    size_t events = 0, wrongId = 0, beforeOpen = 0;
    bool opened = false;
    std::string firstPath, lastPath;
    for (const json& message : got)
    {
        std::string type = message.value("type", "");
        if (message.value("id", json()) != json(1))
            ++wrongId;
        if (type == "dialog" && message.value("state", "") == "open")
            opened = true;
        if (type == "event")
        {
            if (!opened)
                ++beforeOpen;
            if (!events)
                firstPath = message["args"][0].get<std::string>();
            lastPath = message["args"][0].get<std::string>();
            ++events;
        }
    }
    ok(events == 10001, "%zu events (the folder and its 10,000 files)", events);
    ok(wrongId == 0 && beforeOpen == 0, "%zu answers for another id, %zu events before the open notice", wrongId,
       beforeOpen);
    ok(firstPath == "U:\\Many" && lastPath.compare(0, 8, "U:\\Many\\") == 0, "first %s, last %s", firstPath.c_str(),
       lastPath.c_str());
    ok(got.size() == events + 3 && got[got.size() - 2] == json({{"type", "dialog"}, {"id", 1}, {"name", "picker"},
                                                               {"state", "closed"}}) &&
           got.back() == json({{"type", "result"}, {"id", 1}, {"value", true}}),
       "closed notice and result last: %s", got.empty() ? "" : got.back().dump().c_str());
    ok(browser.LargestFrame() <= 1024 * 1024, "largest message %zu bytes", browser.LargestFrame());
    std::vector<json> queued;
    browser.Answers(2, queued, 30000);
    CheckAnswers("CheckInstall sent while the picker was open", 2, queued,
                 {Event("InstallCompleteEvent", {}), Result(true)});

    // The end of input while the picker is open: the host still ends within a second.
    browser.Send(Request(3, "ShowUpFileDlg", {}));
    json notice;
    bool shown = browser.Receive(notice, 60000) && notice.value("type", "") == "dialog";
    ok(shown, "the picker's open notice: %s", notice.dump().c_str());
    DWORD start = GetTickCount();
    browser.CloseInput();
    DWORD code = browser.WaitExit(10000);
    DWORD spent = GetTickCount() - start;
    ok(code != STILL_ACTIVE && spent <= 1500, "host with an open picker ended after %lu ms (code %lu)", spent, code);
}

// A browser that runs its host in a job and ends the job with it (as Firefox
// does): a companion the host started must live on.
void test_companion_outlives_job()
{
    if (!CompanionFixture::Install())
    {
        ok(false, "installing the reference companions");
        return;
    }
    CompanionFixture::CloseAll("tavrine_class_explorer");
    CCompanionWindows companions({"tavrine_class_upload"});   // the install check passes at once
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    bool inJob = job && SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
                 AssignProcessToJobObject(job, browser.Process());
    ok(inJob, "the host runs in a job that ends its processes with it (%lu)", GetLastError());
    if (!inJob)
        return;
    CheckAnswers("LauncherExplorer", 1, browser.Call(1, "LauncherExplorer", {"user", "pw"}), {Result(true)});
    HWND explorer = nullptr;
    for (DWORD start = GetTickCount(); !explorer && GetTickCount() - start < 30000; Sleep(100))
        explorer = FindWindowA("tavrine_class_explorer", nullptr);
    ok(explorer != nullptr, "the explorer companion showed its window");
    CloseHandle(job);   // the browser goes, and its job with it
    DWORD code = browser.WaitExit(10000);
    ok(code != STILL_ACTIVE, "the host ended with its job (%lu)", code);
    Sleep(500);
    bool alive = explorer && IsWindow(explorer);
    fault_row("a browser ends the job of its host", "companion lives on", alive ? "companion lives on" : "companion gone",
              alive);
    CompanionFixture::CloseAll("tavrine_class_explorer");
}

// The host's working set now, and its peak so far, in MB.
void MemoryOf(HANDLE process, double& now, double& peak)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process, &counters, sizeof(counters));
    now = counters.WorkingSetSize / 1048576.0;
    peak = counters.PeakWorkingSetSize / 1048576.0;
}

// The ids of the results and errors among the messages, in order; busy: those that were busy.
std::vector<int64_t> Finals(const std::vector<json>& messages, std::vector<int64_t>* busy = nullptr)
{
    std::vector<int64_t> ids;
    for (const json& message : messages)
    {
        std::string type = message.value("type", "");
        if ((type != "result" && type != "error") || !message.value("id", json()).is_number_integer())
            continue;
        ids.push_back(message["id"].get<int64_t>());
        if (busy && type == "error" && message.value("code", "") == "busy")
            busy->push_back(ids.back());
    }
    return ids;
}

// Requests of about 1 MiB that differ in their id only: their JSON text is
// made once, since making it costs more than sending it.
class CBigRequest
{
public:
    CBigRequest(const char* op, const std::vector<std::string>& args)
    {
        std::string text = json({{"args", args}, {"id", 0}, {"op", op}}).dump();
        size_t at = text.rfind(",\"id\":0,");
        m_strHead = text.substr(0, at + 6);
        m_strTail = text.substr(at + 7);
    }
    std::string With(int64_t id) const { return m_strHead + std::to_string(id) + m_strTail; }

private:
    std::string m_strHead;   // up to the id's value
    std::string m_strTail;   // after it
};

// A sender of requests on a thread of its own: a host that does not read its
// input must not stop the test.
struct CSender
{
    CFakeBrowser* browser;
    std::vector<std::string> payloads;
    volatile LONG sent = 0;
    static DWORD WINAPI s_Run(void* self)
    {
        CSender* sender = static_cast<CSender*>(self);
        for (const std::string& payload : sender->payloads)
        {
            if (!sender->browser->Send(payload))
                break;
            InterlockedIncrement(&sender->sent);
        }
        return 0;
    }
};

// What waits behind a running request is bounded: 200 requests of about
// 1 MiB behind the open picker, and 100 while the browser reads none of the
// host's output (half of each on the 32-bit build). Requests beyond the bound are answered busy, at once and in
// order; the host's memory stays flat.
void test_bounded_queue()
{
    // Half as many on the 32-bit build, which runs emulated: either is far
    // more than the bound lets wait.
    const int64_t kRequests = sizeof(void*) == 4 ? 100 : 200;
    CCompanionWindows companions;
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    double before = 0, peak = 0, now = 0;
    MemoryOf(browser.Process(), before, peak);

    browser.Send(Request(1, "ShowUpFileDlg", {}));
    json notice;
    ok(browser.Receive(notice, 60000) && notice.value("state", "") == "open", "picker open: %s", notice.dump().c_str());
    CBigRequest big("UpLoadInfo", {std::string(kMiB - 64, 'x')});
    for (int64_t id = 2; id < 2 + kRequests; ++id)
        browser.Send(big.With(id));
    // While the picker is still open: all but the few that fit are answered busy.
    std::vector<json> early;
    json message;
    std::vector<int64_t> busy;
    while ((busy.empty() || busy.back() != 1 + kRequests) && browser.Receive(message, 20000))
    {
        early.push_back(message);
        busy.clear();
        Finals(early, &busy);
    }
    std::vector<int64_t> finals = Finals(early);
    size_t waiting = kRequests - busy.size();
    bool tail = !busy.empty() && finals == busy;
    for (size_t i = 0; tail && i < busy.size(); ++i)
        tail = busy[i] == static_cast<int64_t>(2 + waiting + i);
    ok(waiting >= 1 && waiting <= 8 && tail, "behind the picker: %zu waiting, %zu busy (ids %lld to %lld), in order",
       waiting, busy.size(), busy.empty() ? 0ll : static_cast<long long>(busy.front()),
       busy.empty() ? 0ll : static_cast<long long>(busy.back()));
    MemoryOf(browser.Process(), now, peak);
    ok(before > 0 && peak >= now, "the host's working set can be read: %.1f MB, peak %.1f MB", now, peak);
    printf("host working set behind the picker: %.1f MB before, %.1f MB after, peak %.1f MB\n", before, now, peak);
    fault_row((std::to_string(kRequests) + " requests of 1 MiB behind the open picker").c_str(), "memory flat",
              std::to_string(static_cast<int>(peak - before)) + " MB more", peak - before < 48);

    CPickerDriver driver;
    ok(driver.Attach(30000), "the host's picker");
    driver.Close();
    ok(driver.WaitClosed(20000), "the picker closed");
    std::vector<json> rest;
    browser.Answers(1 + static_cast<int64_t>(waiting), rest, 60000);
    std::vector<int64_t> expected;
    for (int64_t id = 1; id <= 1 + static_cast<int64_t>(waiting); ++id)
        expected.push_back(id);
    size_t errors = 0;
    for (const json& answer : rest)
        errors += answer.value("type", "") == "error";
    ok(Finals(rest) == expected && errors == 0, "the picker's result, then those that waited, in order: %zu answers",
       Finals(rest).size());

    // The browser reads nothing: requests whose events are about 1 MiB each
    // (fewer: each goes both ways).
    const int64_t kUnread = kRequests / 2;
    browser.HoldOutput(true);
    MemoryOf(browser.Process(), before, peak);
    CSender sender = {&browser, {}};
    CBigRequest select("SelectComplete", {std::string(kMiB - 256, 'y'), "1", "0"});
    for (int64_t id = 1000; id < 1000 + kUnread; ++id)
        sender.payloads.push_back(select.With(id));
    HANDLE thread = CreateThread(nullptr, 0, CSender::s_Run, &sender, 0, nullptr);
    // Until the host stops taking input (or takes it all).
    LONG last = -1;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000;)
    {
        Sleep(1500);
        LONG count = InterlockedCompareExchange(&sender.sent, 0, 0);
        if (count == last || count == kUnread)
            break;
        last = count;
    }
    LONG stalledAt = InterlockedCompareExchange(&sender.sent, 0, 0);
    MemoryOf(browser.Process(), now, peak);
    printf("host working set, output unread: %.1f MB before, %.1f MB after, peak %.1f MB (%ld of %lld requests taken)\n",
           before, now, peak, stalledAt, static_cast<long long>(kUnread));
    fault_row((std::to_string(kUnread) + " requests of 1 MiB while the browser reads nothing").c_str(), "memory flat",
              std::to_string(static_cast<int>(peak - before)) + " MB more", peak - before < 48);
    browser.HoldOutput(false);
    ok(WaitForSingleObject(thread, 120000) == WAIT_OBJECT_0, "every request went in once the output was read");
    CloseHandle(thread);
    std::vector<json> all;
    json item;
    while (Finals(all).size() < static_cast<size_t>(kUnread) && browser.Receive(item, 30000))
        all.push_back(item);
    std::vector<int64_t> answered = Finals(all);
    std::set<int64_t> unique(answered.begin(), answered.end());
    ok(answered.size() == static_cast<size_t>(kUnread) && unique.size() == answered.size() &&
           *unique.begin() == 1000 && *unique.rbegin() == 999 + kUnread,
       "each request answered once: %zu answers for %zu ids", answered.size(), unique.size());
    CheckAnswers("a call afterwards", 2000, browser.Call(2000, "UpLoadInfo", {"z"}), {Result(true)});
    browser.CloseInput();
    ok(browser.WaitExit(10000) == 0, "the host ended");
}

// The message box a failing install check shows before its dialog appears is
// announced as the dialog is: without a temporary folder it is the download
// failure's.
BOOL CALLBACK DismissNotice(HWND window, LPARAM process)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t caption[16] = L"";
    GetWindowTextW(window, caption, 16);
    if (owner == static_cast<DWORD>(process) && IsWindowVisible(window) && lstrcmpW(caption, L"\xC54C\xB9BC") == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void test_notice_before_install_dialog()
{
    for (const char* windowClass : {"tavrine_class_upload", "tavrine_class_down", "tavrine_class_explorer"})
        if (FindWindowA(windowClass, nullptr))
        {
            ok(false, "a companion window (%s) is open: the install check would pass", windowClass);
            return;
        }
    char temp[MAX_PATH] = "", tmp[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    GetEnvironmentVariableA("TMP", tmp, MAX_PATH);
    SetEnvironmentVariableA("TEMP", "C:\\no-such-folder-tavrine");
    SetEnvironmentVariableA("TMP", "C:\\no-such-folder-tavrine");
    CFakeBrowser browser;
    bool started = StartHost(browser);
    SetEnvironmentVariableA("TEMP", temp);
    SetEnvironmentVariableA("TMP", tmp);
    if (!started)
        return;
    browser.Send(Request(1, "UpLoadInit", {}));
    std::vector<json> got;
    json message;
    while (browser.Receive(message, 30000))
    {
        got.push_back(message);
        if (message.value("type", "") == "dialog" && message.value("state", "") == "open")
            for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(100))
            {
                EnumWindows(DismissNotice, static_cast<LPARAM>(GetProcessId(browser.Process())));
                json next;
                if (browser.Receive(next, 0))
                {
                    got.push_back(next);
                    break;
                }
            }
        if (got.back().value("type", "") == "result")
            break;
    }
    json open = {{"type", "dialog"}, {"name", "install"}, {"state", "open"}};
    json closed = {{"type", "dialog"}, {"name", "install"}, {"state", "closed"}};
    CheckAnswers("UpLoadInit with a failing install check", 1, got, {open, closed, Result(true)});
    browser.CloseInput();
    ok(browser.WaitExit(10000) == 0, "the host ended");
}

std::wstring ReadDefault(HKEY root, const wchar_t* path, LONG* error)
{
    wchar_t value[1024] = L"";
    DWORD size = sizeof(value) - sizeof(wchar_t);
    HKEY key = nullptr;
    *error = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key);
    if (*error != ERROR_SUCCESS)
        return std::wstring();
    DWORD type = 0;
    *error = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (*error == ERROR_SUCCESS && type != REG_SZ)
        *error = ERROR_INVALID_DATA;
    return value;
}

std::string ReadText(const std::wstring& path, bool* exists)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    *exists = file != INVALID_HANDLE_VALUE;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (*exists && ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got)
        text.append(buffer, got);
    if (*exists)
        CloseHandle(file);
    return text;
}

DWORD RunHost(const char* arguments)
{
    std::string program = HostPath();
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return 0xdeadbeef;
    DWORD code = 0xdeadbeef;
    if (WaitForSingleObject(info.hProcess, kStartMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

void test_registration_round_trip()
{
    std::string program = HostPath();
    std::wstring folder(program.begin(), program.begin() + program.find_last_of('\\') + 1);
    const std::wstring chromeManifest = folder + L"com.tavrine.bridge.json";
    const std::wstring firefoxManifest = folder + L"com.tavrine.bridge.firefox.json";
    struct Key
    {
        const wchar_t* path;
        const std::wstring* manifest;
    };
    const Key keys[] = {
        {L"Software\\Google\\Chrome\\NativeMessagingHosts\\com.tavrine.bridge", &chromeManifest},
        {L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.tavrine.bridge", &chromeManifest},
        {L"Software\\Mozilla\\NativeMessagingHosts\\com.tavrine.bridge", &firefoxManifest},
    };
    for (bool machine : {false, true})
    {
        HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const char* where = machine ? "HKLM" : "HKCU";
        ok(RunHost(machine ? "--register --machine" : "--register") == 0, "%s: --register succeeded", where);
        for (const Key& key : keys)
        {
            LONG error = 0;
            std::wstring value = ReadDefault(root, key.path, &error);
            ok(error == 0 && value == *key.manifest, "%s\\%ls: %ld \"%ls\"", where, key.path, error, value.c_str());
        }
        bool exists = false;
        std::string chrome = ReadText(chromeManifest, &exists);
        json manifest = json::parse(chrome, nullptr, false);
        json expected = {{"name", "com.tavrine.bridge"},
                         {"path", program},
                         {"type", "stdio"},
                         {"allowed_origins", {"chrome-extension://" TAVRINE_TEST_CHROME_ID "/"}}};
        ok(exists && !chrome.empty() && chrome[0] == '{' && manifest.is_object(), "Chrome manifest, no BOM: %s",
           chrome.c_str());
        if (manifest.is_object())
            manifest.erase("description");
        ok(manifest == expected, "Chrome manifest %s", manifest.dump().c_str());
        std::string firefox = ReadText(firefoxManifest, &exists);
        manifest = json::parse(firefox, nullptr, false);
        if (manifest.is_object())
            manifest.erase("description");
        expected.erase("allowed_origins");
        expected["allowed_extensions"] = {TAVRINE_TEST_FIREFOX_ID};
        ok(exists && firefox[0] == '{' && manifest == expected, "Firefox manifest %s", firefox.c_str());

        ok(RunHost(machine ? "--unregister --machine" : "--unregister") == 0, "%s: --unregister succeeded", where);
        for (const Key& key : keys)
        {
            LONG error = 0;
            ReadDefault(root, key.path, &error);
            ok(error == ERROR_FILE_NOT_FOUND, "%s\\%ls gone: %ld", where, key.path, error);
        }
        ReadText(chromeManifest, &exists);
        bool firefoxLeft = false;
        ReadText(firefoxManifest, &firefoxLeft);
        ok(!exists && !firefoxLeft, "%s: manifests removed", where);
    }
}

// Locked build: only the listed origins are served; others get what the
// locked control answers.
void test_locked_origin()
{
    CFakeBrowser browser;
    if (!StartHost(browser))
        return;
    struct Case
    {
        const char* origin;   // null: none given
        const char* op;
        std::vector<std::string> args;
        std::vector<json> answers;
    };
    const Case cases[] = {
        {"https://www.tavrine.example", "CheckInstall", {}, {Event("InstallCompleteEvent", {}), Result(true)}},
        {"https://a.b.tavrine.example", "CheckInstall", {}, {Event("InstallCompleteEvent", {}), Result(true)}},
        {nullptr, "CheckInstall", {}, {Result(false)}},
        {"https://evil.example", "CheckInstall", {}, {Result(false)}},
        {"http://www.tavrine.example", "SelectComplete", {"a", "b", "c"}, {Result(false)}},
        {"https://www.tavrine.example.evil.example", "LauncherWebLink", {"u", "p", "x"}, {Result("0")}},
        {"https://www.tavrine.example", "AllowPopUp", {"evil.example"}, {Result(false)}},
    };
    int64_t id = 1;
    for (const Case& c : cases)
    {
        json request = Request(id, c.op, c.args);
        if (c.origin)
            request["origin"] = c.origin;
        std::vector<json> got;
        browser.Send(request);
        browser.Answers(id, got, 30000);
        std::string what = std::string(c.op) + " from " + (c.origin ? c.origin : "no origin");
        CheckAnswers(what.c_str(), id, got, c.answers);
        ++id;
    }
    browser.CloseInput();
    ok(browser.WaitExit(10000) == 0, "the host ended");
}
}

TEST_MAIN(TEST(test_methods_and_events), TEST(test_bad_input), TEST(test_text_not_held),
          TEST(test_two_hosts_and_end_of_input), TEST(test_refused_callers), TEST(test_large_pick),
          TEST(test_bounded_queue), TEST(test_notice_before_install_dialog), TEST(test_companion_outlives_job),
          TEST(test_registration_round_trip),
          TEST(test_locked_origin))
