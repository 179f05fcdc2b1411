// The picker's parts that need no window: path rules in double-byte code
// pages, folder enumeration and the selection walk, the registry helper and
// AllowPopUp, and the dialog template and bitmap as the DLL holds them.
#include <windows.h>
#include <shlwapi.h>
#include <cstring>
#include <string>
#include <vector>

#include "PickerTestSupport.h"
#include "resource.h"
#include "base/RegistryHelper.h"
#include "harness/DialogTemplate.h"
#include "harness/TestHarness.h"
#include "picker/FolderLister.h"
#include "picker/FolderScan.h"
#include "picker/PickerPath.h"

namespace
{
const char kScratchKey[] = "Software\\TavrineTest\\Registry";
const char kAllowKey[] = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

bool HasDbcs(UINT codePage, BYTE lead)
{
    CPINFO info;
    return GetCPInfo(codePage, &info) && IsDBCSLeadByteEx(codePage, lead);
}

struct Report
{
    std::string path, size, mode;
};
}

static void test_path_rules()
{
    using namespace PickerPath;
    const UINT acp = GetACP();
    ok(Join("C:\\", "Data", acp) == "C:\\Data", "join at a root");
    ok(Join("C:\\A", "N", acp) == "C:\\A\\N", "join below a root");
    ok(Join("C:\\A\\", "N", acp) == "C:\\A\\N", "join after a trailing backslash");
    ok(Up("C:\\A\\B", acp) == "C:\\A\\", "up from C:\\A\\B: %s", Up("C:\\A\\B", acp).c_str());
    ok(Up("C:\\A\\", acp) == "C:\\", "up from C:\\A\\: %s", Up("C:\\A\\", acp).c_str());
    ok(Up("C:\\", acp) == "", "up from C:\\: %s", Up("C:\\", acp).c_str());
    ok(Up("", acp) == "", "up from nothing");
    ok(SearchPattern("C:\\", acp) == "C:\\*.*" && SearchPattern("C:\\A", acp) == "C:\\A\\*.*", "patterns");
    ok(SamePlace("C:\\Desk", "C:\\Desk\\", acp) && SamePlace("C:\\", "C:\\", acp), "same places");
    ok(!SamePlace("C:\\Desk", "C:\\Desk\\A", acp) && !SamePlace("C:\\A", "C:\\B", acp), "different places");

    // Korean (949): no trail byte is a backslash, but the search still steps by character.
    if (HasDbcs(949, 0xC7))
    {
        const std::string hangul = "C:\\\xC7\xD1\xB1\xDB";   // C:\한글
        ok(Up(hangul + "\\A", 949) == hangul + "\\", "up below a Korean folder");
        ok(Up(hangul, 949) == "C:\\", "up from a Korean folder");
        ok(Join(hangul, "A", 949) == hangul + "\\A", "join to a Korean folder");
    }
    else
        skip("code page 949 is not available");

    // Japanese (932): the trail byte of 0x95 0x5C is a backslash byte.
    if (HasDbcs(932, 0x95))
    {
        const std::string folder = "C:\\\x95\x5C";   // ends in a character whose trail byte is 0x5C
        ok(!EndsWithBackslash(folder, 932), "a trail byte taken for a backslash");
        ok(Join(folder, "x", 932) == folder + "\\x", "join after a 0x5C trail byte: %s", Join(folder, "x", 932).c_str());
        ok(Up(folder, 932) == "C:\\", "up from a folder ending in a 0x5C trail byte: %s", Up(folder, 932).c_str());
        ok(Up(folder + "\\sub", 932) == folder + "\\", "up into a folder ending in a 0x5C trail byte");
        ok(LastBackslash(folder, 932) == 2, "last backslash at %u", static_cast<unsigned>(LastBackslash(folder, 932)));
        ok(SamePlace(folder, folder + "\\", 932) && !SamePlace(folder, "C:\\\x95", 932), "same place with 0x5C trail");
    }
    else
        skip("code page 932 is not available");
}

static void test_byte_count_text()
{
    ok(ByteCountText(0) == "0", "0 bytes: %s", ByteCountText(0).c_str());
    ok(ByteCountText(5) == "5", "5 bytes");
    ok(ByteCountText(4294967296ULL) == "4294967296", "4 GiB: %s", ByteCountText(4294967296ULL).c_str());
    ok(ByteCountText(5368709120ULL) == "5368709120", "5 GiB: %s", ByteCountText(5368709120ULL).c_str());
    // Past 2^63 - 1 the count reads as a signed number, as "%I64d" prints it.
    ok(ByteCountText(9223372036854775807ULL) == "9223372036854775807", "2^63 - 1");
    ok(ByteCountText(9223372036854775808ULL) == "-9223372036854775808", "2^63: %s",
       ByteCountText(9223372036854775808ULL).c_str());
    ok(ByteCountText(~0ULL) == "-1", "2^64 - 1: %s", ByteCountText(~0ULL).c_str());
}

static void test_folder_entries()
{
    if (GetFileAttributesA("T:\\Data\\notes.txt") == INVALID_FILE_ATTRIBUTES)
    {
        skip("drive T: holds no picker tree; run tests/picker/make-tree.sh first");
        return;
    }
    const UINT acp = GetACP();
    FolderListing listing;
    ok(ListFolderEntries("T:\\Data\\Photos\\..\\", acp, listing), "listing T:\\Data via ..");
    ok(listing.folders.size() == 2, "%u folders", static_cast<unsigned>(listing.folders.size()));
    for (const FolderEntry& entry : listing.folders)
        ok(entry.path == "T:\\Data\\" + entry.name && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY),
           "normalised path %s", entry.path.c_str());
    ok(listing.files.size() == 1 && listing.files[0].path == "T:\\Data\\notes.txt" && listing.files[0].size == 5,
       "files of T:\\Data");
    ok(ListFolderEntries("T:\\", acp, listing) && !listing.folders.empty() &&
           listing.folders[0].path.compare(0, 3, "T:\\") == 0 && listing.folders[0].path[3] != '\\',
       "entries of a root have one backslash");

    ok(!ListFolderEntries("T:\\NoSuchFolder", acp, listing) && listing.folders.empty() && listing.files.empty(),
       "a missing folder");
    std::string tooLong = "T:\\" + std::string(260, 'x');
    ok(!ListFolderEntries(tooLong, acp, listing), "a missing folder with a long path");

    // Paths longer than a path field are listed and reported whole, never
    // cut short and never left out; a folder whose search pattern does not
    // fit one is walked all the same.
    const std::string longFolder = "T:\\Long\\" + std::string(200, 'A');
    const std::string longFile = longFolder + "\\" + std::string(100, 'B') + ".txt";
    const std::string deepFolder = longFolder + "\\" + std::string(100, 'C');
    ok(ListFolderEntries(longFolder, acp, listing), "listing the long folder");
    ok(listing.files.size() == 1 && listing.files[0].path == longFile && listing.files[0].size == 17,
       "%u files in the long folder", static_cast<unsigned>(listing.files.size()));
    ok(ListFolderEntries(deepFolder, acp, listing) && listing.files.size() == 1 &&
           listing.files[0].path == deepFolder + "\\deep.txt",
       "listing a folder whose pattern does not fit a path field");

    std::vector<Report> reports;
    CFolderScan scan([&](const std::string& p, const std::string& s, const std::string& m) {
        reports.push_back({p, s, m});
    }, acp);
    scan.ScanFolder("T:\\Long", "T:\\Long");
    const Report expected[] = {
        {longFolder, "-1", "T:\\Long"},
        {deepFolder, "-1", "T:\\Long"},
        {deepFolder + "\\deep.txt", "21", "T:\\Long"},
        {longFile, "17", "T:\\Long"},
        {"T:\\Long\\short.txt", "18", "T:\\Long"},
    };
    bool whole = reports.size() == sizeof(expected) / sizeof(expected[0]);
    ok(whole, "%u reports below T:\\Long", static_cast<unsigned>(reports.size()));
    for (size_t i = 0; whole && i < reports.size(); ++i)
    {
        bool same = reports[i].path == expected[i].path && reports[i].size == expected[i].size &&
                    reports[i].mode == expected[i].mode;
        ok(same, "report %u: %s %s %s", static_cast<unsigned>(i), reports[i].path.c_str(), reports[i].size.c_str(),
           reports[i].mode.c_str());
        whole = whole && same;
    }
    fault_row("items below a chosen folder whose paths exceed 259 bytes",
              "each reported whole (path, size, mode), a folder whose pattern does not fit walked too",
              std::to_string(reports.size()) + " of 5 reports" + (whole ? ", all whole" : ""), whole);
}

// What a lister hands over, split by kind, as the one-piece listing has it.
static FolderListing TakeAll(CFolderLister& lister)
{
    FolderListing listing;
    std::vector<FolderEntry> batch;
    while (lister.Next(batch))
        for (FolderEntry& entry : batch)
            ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? listing.folders : listing.files).push_back(entry);
    return listing;
}

static bool SameEntries(const std::vector<FolderEntry>& a, const std::vector<FolderEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].path != b[i].path || a[i].name != b[i].name || a[i].size != b[i].size ||
            a[i].attributes != b[i].attributes)
            return false;
    return true;
}

// Names the code page cannot hold: the narrow file functions best-fit them
// (cafe.txt for café.txt, a backslash for the won sign, ? for the rest), so
// a pick would name another file, another folder or nothing. Every entry the
// listing and the walk give must open exactly its own file; the rest must be
// counted, never reported. Wine's drives give every such name a short name.
static void test_names_not_held()
{
    if (GetACP() != 949)
    {
        skip("the system code page is %u, not 949", GetACP());
        return;
    }
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tav-unheld";
    struct File
    {
        const wchar_t* name;
        DWORD size;   // each file's own size tells which one a path opens
        const char* held;   // the name in 949 when it holds it
    };
    const File files[] = {
        {L"caf\x00E9.txt", 1, nullptr},
        {L"cafe.txt", 2, "cafe.txt"},
        {L"\xAC00\x20A9" L"1000.txt", 3, nullptr},   // 가₩1000.txt
        {L"\x4E02.txt", 4, nullptr},                 // 丂.txt
        {L"\xAC00\xB098.txt", 5, "\xB0\xA1\xB3\xAA.txt"},   // 가나.txt
        {L"\x4E02\\in.txt", 6, nullptr},             // in the folder 丂
    };
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\\x4E02").c_str(), nullptr);
    for (const File& f : files)
    {
        HANDLE h = CreateFileW((folder + L"\\" + f.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, "123456", f.size, &written, nullptr);
        CloseHandle(h);
    }
    char narrowTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, narrowTemp);
    const std::string base = std::string(narrowTemp) + "tav-unheld";
    // The size of the file a narrow path opens, or -1.
    auto sizeAt = [](const std::string& path) -> long {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            return -1;
        return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : static_cast<long>(data.nFileSizeLow);
    };

    FolderListing listing;
    ok(ListFolderEntries(base, GetACP(), listing), "listing %s", base.c_str());
    ok(listing.files.size() + listing.unoffered == 5 && listing.folders.size() == 1,
       "%u files, %u folders, %u not offered", static_cast<unsigned>(listing.files.size()),
       static_cast<unsigned>(listing.folders.size()), static_cast<unsigned>(listing.unoffered));
    trace("%u entries without a name the code page holds or a short name\n", static_cast<unsigned>(listing.unoffered));
    std::vector<bool> seen(6, false);
    for (const FolderEntry& entry : listing.files)
    {
        long size = sizeAt(entry.path);
        bool own = size >= 1 && size <= 5 && entry.size == static_cast<ULONGLONG>(size) && !seen[size] &&
                   entry.path == base + "\\" + entry.name;
        ok(own, "%s (listed as %u bytes) opens a file of %ld bytes", entry.path.c_str(),
           static_cast<unsigned>(entry.size), size);
        if (own)
        {
            seen[size] = true;
            const char* held = files[size - 1].held;
            ok(!held || entry.name == held, "a name the code page holds is kept byte for byte: %s", entry.name.c_str());
        }
    }
    for (const FolderEntry& entry : listing.folders)
        ok(sizeAt(entry.path) == 0 && sizeAt(entry.path + "\\in.txt") == 6, "the folder %s opens the folder",
           entry.path.c_str());

    // The walk below the folder reports each file by a path that opens it.
    std::vector<Report> reports;
    CFolderScan scan([&](const std::string& p, const std::string& s, const std::string& m) {
        reports.push_back({p, s, m});
    }, GetACP());
    scan.ScanFolder(base, base);
    ok(reports.size() + scan.Unoffered() == 7, "%u reports, %u not offered", static_cast<unsigned>(reports.size()),
       static_cast<unsigned>(scan.Unoffered()));
    std::vector<bool> reported(7, false);
    for (const Report& r : reports)
    {
        long size = sizeAt(r.path);
        bool own = size >= 0 && size <= 6 && !reported[size] &&
                   r.size == (size == 0 ? std::string("-1") : std::to_string(size)) && r.mode == base;
        ok(own, "report %s %s opens an entry of %ld bytes", r.path.c_str(), r.size.c_str(), size);
        if (own)
            reported[size] = true;
    }

    // Without a short name (volumes that make none), an entry is not offered.
    struct Name
    {
        const wchar_t* name;
        const wchar_t* shortName;
        bool offered;
        const char* as;
    };
    const Name names[] = {
        {L"cafe.txt", L"", true, "cafe.txt"},
        {L"caf\x00E9.txt", L"CAF_~CRT.TXT", true, "CAF_~CRT.TXT"},
        {L"caf\x00E9.txt", L"", false, ""},
        {L"\xAC00\x20A9" L"1000.txt", L"", false, ""},
        {L"\xAC00\xB098.txt", L"_~~~~RVJ.TXT", true, "\xB0\xA1\xB3\xAA.txt"},
        {L"\x4E02.txt", L"\x4E02~1.TXT", false, ""},   // a short name that is no better
    };
    for (const Name& n : names)
    {
        std::string as = "unchanged";
        bool offered = OfferedName(n.name, n.shortName, as);
        ok(offered == n.offered && as == n.as, "%ls (%ls): offered %d as \"%s\"", n.name, n.shortName, offered,
           as.c_str());
    }

    for (const File& f : files)
        DeleteFileW((folder + L"\\" + f.name).c_str());
    RemoveDirectoryW((folder + L"\\\x4E02").c_str());
    RemoveDirectoryW(folder.c_str());
}

static void test_folder_lister()
{
    if (GetFileAttributesA("T:\\Mixed") == INVALID_FILE_ATTRIBUTES)
    {
        skip("drive T: holds no picker tree; run tests/picker/make-tree.sh first");
        return;
    }
    const UINT acp = GetACP();
    const std::string folders[] = {"T:\\Mixed", "T:\\Data\\", "T:\\", "T:\\\xC7\xD1\xB1\xDB" /* 한글 */,
                                   "T:\\NoSuchFolder", "T:\\Long\\" + std::string(200, 'A')};
    // With the worker, and read in one piece on this thread without one.
    for (bool worker : {true, false})
    {
        CFolderLister lister;
        if (worker)
            lister.Prepare();
        for (const std::string& folder : folders)
        {
            FolderListing want;
            ListFolderEntries(folder, acp, want);
            lister.Begin(folder, acp);
            FolderListing got = TakeAll(lister);
            std::vector<FolderEntry> more;
            ok(SameEntries(got.folders, want.folders) && SameEntries(got.files, want.files),
               "%s, %s: %u folders and %u files, want %u and %u", worker ? "worker" : "here", folder.c_str(),
               static_cast<unsigned>(got.folders.size()), static_cast<unsigned>(got.files.size()),
               static_cast<unsigned>(want.folders.size()), static_cast<unsigned>(want.files.size()));
            ok(!lister.Next(more) && more.empty(), "%s: more after the end of %s", worker ? "worker" : "here",
               folder.c_str());
        }

        // A listing left half taken gives way to the next one whole.
        FolderListing data;
        ListFolderEntries("T:\\Data", acp, data);
        lister.Begin("T:\\Mixed", acp);
        std::vector<FolderEntry> batch;
        ok(lister.Next(batch) && !batch.empty(), "%s: a first batch of Mixed", worker ? "worker" : "here");
        lister.Begin("T:\\Data", acp);
        FolderListing got = TakeAll(lister);
        ok(SameEntries(got.folders, data.folders) && SameEntries(got.files, data.files),
           "%s: Data after a dropped listing: %u folders and %u files", worker ? "worker" : "here",
           static_cast<unsigned>(got.folders.size()), static_cast<unsigned>(got.files.size()));
        // Left running: the lister's end waits for it (the test's time limit
        // catches a hang).
        lister.Begin("T:\\Mixed", acp);
    }
}

static void test_registry_helper()
{
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\TavrineTest");
    CRegistryHelper helper(HKEY_CURRENT_USER);

    // A missing subkey: false, output untouched, subkey not created.
    std::string text = "sentinel";
    ok(!helper.ReadString(kScratchKey, "name", text) && text == "sentinel", "read from a missing subkey");
    HKEY key;
    ok(RegOpenKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND,
       "reading created the subkey");

    ok(helper.WriteString(kScratchKey, "plain", "C:\\Data"), "WriteString");
    ok(helper.ReadString(kScratchKey, "plain", text) && text == "C:\\Data", "read back %s", text.c_str());
    ok(helper.WriteString(kScratchKey, "null", nullptr), "WriteString with a null text");
    DWORD type = 0, size = 0;
    BYTE data[16];
    size = sizeof(data);
    ok(SHRegGetValueA(HKEY_CURRENT_USER, kScratchKey, "null", SRRF_RT_ANY | SRRF_NOEXPAND, &type, data, &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ && size == 1 && data[0] == 0,
       "a null text gives type %lu size %lu", type, size);
    text = "sentinel";
    ok(helper.ReadString(kScratchKey, "null", text) && text.empty(), "empty text read back");

    DWORD number = 0x12345678;
    ok(helper.WriteDword(kScratchKey, "number", &number), "WriteDword");
    size = sizeof(data);
    ok(SHRegGetValueA(HKEY_CURRENT_USER, kScratchKey, "number", SRRF_RT_ANY, &type, data, &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == 4 && memcmp(data, &number, 4) == 0,
       "DWORD stored as type %lu size %lu", type, size);
    text = "sentinel";
    ok(!helper.ReadString(kScratchKey, "number", text) && text == "sentinel", "a DWORD read as text");
    ok(!helper.ReadString(kScratchKey, "absent", text) && text == "sentinel", "a missing value");

    ok(RegOpenKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS, "open scratch key");
    const char expand[] = "%SystemRoot%\\x";
    RegSetValueExA(key, "expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof(expand));
    // No terminating NUL: the text is all of the data.
    RegSetValueExA(key, "unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
    RegSetValueExA(key, "embedded", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 6);
    RegSetValueExA(key, "zero", 0, REG_SZ, nullptr, 0);
    RegSetValueExA(key, "binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 4);
    RegCloseKey(key);
    ok(helper.ReadString(kScratchKey, "expand", text) && text == expand, "REG_EXPAND_SZ read as %s", text.c_str());
    ok(helper.ReadString(kScratchKey, "unterminated", text) && text == "abc", "unterminated: %s", text.c_str());
    ok(helper.ReadString(kScratchKey, "embedded", text) && text == "ab", "text up to the first NUL: %s", text.c_str());
    text = "sentinel";
    ok(helper.ReadString(kScratchKey, "zero", text) && text.empty(), "a zero-byte value: %s", text.c_str());
    text = "sentinel";
    ok(!helper.ReadString(kScratchKey, "binary", text) && text == "sentinel", "REG_BINARY read as text");

    // Writing creates every missing key on the way.
    ok(helper.WriteString("Software\\TavrineTest\\Deep\\Er", "v", "x"), "write into new nested keys");
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\TavrineTest");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TavrineTest");
}

static void test_allow_popup()
{
    CoInitialize(nullptr);
    SHDeleteKeyA(HKEY_CURRENT_USER, kAllowKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kAllowKey);
    IVedADA* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA,
                                  reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "CoCreateInstance: %#lx", hr);
    if (!control)
    {
        CoUninitialize();
        return;
    }

    auto check = [](const wchar_t* name, const char* what) {
        DWORD type = 0, data = 0xdeadbeef, size = sizeof(data);
        HKEY key;
        LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
                                    0, KEY_READ, &key);
        if (result == ERROR_SUCCESS)
        {
            result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
            RegCloseKey(key);
        }
        ok(result == ERROR_SUCCESS && type == REG_DWORD && size == 4 && data == 0,
           "%s: result %ld type %lu size %lu data %#lx", what, result, type, size, data);
    };
    auto valueCount = []() {
        HKEY key;
        DWORD values = 0;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kAllowKey, 0, KEY_READ, &key) == ERROR_SUCCESS)
        {
            RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(key);
        }
        return values;
    };

    BSTR site = SysAllocString(L"www.example.com");
    hr = control->AllowPopUp(site);
    ok(hr == S_OK, "AllowPopUp: %#lx", hr);
    check(L"www.example.com", "a site");
    hr = control->AllowPopUp(site);
    ok(hr == S_OK && valueCount() == 1, "a second call: %#lx, %lu values", hr, valueCount());
    SysFreeString(site);

    // The text is used as it is: no trimming, no change of case.
    site = SysAllocString(L" Www.Example.COM ");
    control->AllowPopUp(site);
    SysFreeString(site);
    check(L" Www.Example.COM ", "a site with spaces and capitals");

    site = SysAllocString(L"한국.example");
    hr = control->AllowPopUp(site);
    SysFreeString(site);
    ok(hr == S_OK, "AllowPopUp with a Korean name: %#lx", hr);
    check(L"한국.example", "a Korean site");
    DWORD type = 0, size = 4, data = 1;
    ok(SHRegGetValueA(HKEY_CURRENT_USER, kAllowKey, "\xC7\xD1\xB1\xB9.example", SRRF_RT_ANY, &type, &data, &size) ==
           ERROR_SUCCESS,
       "the Korean name is not stored as code page 949 text");

    site = SysAllocString(L"");
    hr = control->AllowPopUp(site);
    SysFreeString(site);
    ok(hr == S_OK, "AllowPopUp(\"\"): %#lx", hr);
    check(L"", "an empty string");
    SHDeleteValueA(HKEY_CURRENT_USER, kAllowKey, nullptr);
    hr = control->AllowPopUp(nullptr);
    ok(hr == S_OK, "AllowPopUp(NULL): %#lx", hr);
    check(L"", "a null BSTR");

    control->Release();
    SHDeleteKeyA(HKEY_CURRENT_USER, kAllowKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kAllowKey);
    CoUninitialize();
}

namespace
{
HMODULE LoadControlData()
{
    HMODULE module = LoadLibraryExA(TestDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ok(module != nullptr, "loading %s: %lu", TestDllPath().c_str(), GetLastError());
    return module;
}
}

static void test_dialog_template()
{
    HMODULE module = LoadControlData();
    if (!module)
        return;
    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_FILEPICKER),
                                     MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN));
    ok(resource != nullptr, "no Korean dialog %d", IDD_FILEPICKER);
    if (!resource)
    {
        FreeLibrary(module);
        return;
    }
    CTemplateReader r(static_cast<const BYTE*>(LockResource(LoadResource(module, resource))),
                      SizeofResource(module, resource));
    ok(r.Word() == 1 && r.Word() == 0xFFFF, "not an extended template");
    DWORD help = r.Dword(), exStyle = r.Dword(), style = r.Dword();
    ok(help == 0 && exStyle == 0, "help id %lu, extended style %#lx", help, exStyle);
    ok(style == 0x80C808C8, "style %#lx", style);
    WORD count = r.Word();
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    ok(count == 5, "%u controls", count);
    ok(x == 0 && y == 0 && cx == 273 && cy == 181, "placed at %d,%d size %dx%d", x, y, cx, cy);
    std::wstring menu = r.NameOrOrdinal(), cls = r.NameOrOrdinal(), caption = r.Text();
    ok(menu.empty() && cls.empty(), "menu %s class %s", Narrow(menu).c_str(), Narrow(cls).c_str());
    ok(caption == L"대화 상자", "caption %s", Narrow(caption).c_str());
    WORD points = r.Word(), weight = r.Word();
    BYTE italic = r.Byte(), charset = r.Byte();
    std::wstring face = r.Text();
    ok(points == 9 && weight == 0 && italic == 0 && charset == 0 && face == L"MS Shell Dlg",
       "font %u/%u/%u/%u %s", points, weight, italic, charset, Narrow(face).c_str());

    struct Control
    {
        DWORD id;
        const wchar_t* cls;
        const wchar_t* ordinal;   // the predefined class as an ordinal
        const wchar_t* text;
        DWORD style;
        short x, y, cx, cy;
    };
    static const Control controls[] = {
        {116, L"Button", L"#128", L"선택 폴더(파일) 추가", 0x50010001, 133, 158, 79, 16},
        {2, L"Button", L"#128", L"닫기", 0x50010000, 216, 158, 50, 16},
        {201, L"ComboBox", L"#133", L"", 0x50210003, 7, 7, 259, 57},
        {202, L"Edit", L"#129", L"", 0x50810880, 7, 24, 259, 12},
        {203, L"SysListView32", nullptr, L"", 0x50810841, 7, 42, 259, 112},
    };
    for (int i = 0; i < count && i < 5 && !r.Failed(); ++i)
    {
        const Control& want = controls[i];
        DialogItem item = ReadDialogItem(r);
        DWORD itemHelp = item.helpId, itemEx = item.exStyle, itemStyle = item.style;
        short ix = item.x, iy = item.y, icx = item.cx, icy = item.cy;
        DWORD id = item.id;
        const std::wstring& itemClass = item.className;
        const std::wstring& text = item.text;
        ok(id == want.id, "control %d has id %lu, expected %lu", i, id, want.id);
        // Class names are case-insensitive; the resource compiler stores custom ones in capitals.
        ok(lstrcmpiW(itemClass.c_str(), want.cls) == 0 || (want.ordinal && itemClass == want.ordinal),
           "control %lu class %s", id,
           Narrow(itemClass).c_str());
        ok(text == want.text, "control %lu text %s", id, Narrow(text).c_str());
        ok(itemStyle == want.style, "control %lu style %#lx, expected %#lx", id, itemStyle, want.style);
        ok(itemHelp == 0 && itemEx == 0, "control %lu help %lu extended style %#lx", id, itemHelp, itemEx);
        ok(ix == want.x && iy == want.y && icx == want.cx && icy == want.cy, "control %lu at %d,%d size %dx%d", id, ix,
           iy, icx, icy);
    }
    ok(!r.Failed(), "the template ends early");
    FreeLibrary(module);
}

static void test_parent_bitmap()
{
    HMODULE module = LoadControlData();
    if (!module)
        return;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDB_PARENTUP), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    ok(resource != nullptr, "no bitmap %d", IDB_PARENTUP);
    if (resource)
    {
        auto info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, resource)));
        ok(info->biWidth == 16 && info->biHeight == 16 && info->biBitCount == 24 && info->biCompression == BI_RGB,
           "bitmap %ldx%ld, %u bits, compression %lu", info->biWidth, info->biHeight, info->biBitCount,
           info->biCompression);
        const BYTE* pixels = reinterpret_cast<const BYTE*>(info) + info->biSize;
        int magenta = 0;
        for (int i = 0; i < 256; ++i)
            magenta += pixels[i * 3] == 255 && pixels[i * 3 + 1] == 0 && pixels[i * 3 + 2] == 255;
        ok(pixels[0] == 255 && pixels[1] == 0 && pixels[2] == 255, "the corner is not magenta");
        ok(magenta > 64 && magenta < 192, "%d of 256 pixels are background", magenta);
    }
    FreeLibrary(module);
}

TEST_MAIN(TEST(test_path_rules), TEST(test_byte_count_text), TEST(test_folder_entries), TEST(test_names_not_held),
          TEST(test_folder_lister), TEST(test_registry_helper),
          TEST(test_allow_popup), TEST(test_dialog_template), TEST(test_parent_bitmap))
