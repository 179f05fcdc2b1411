// Faults of the surroundings that cross the control's parts: an unwritable
// settings key, items that vanish between listing and adding, a remembered
// folder that is gone, and a missing install directory. Each case records a
// row of the fault matrix. Needs the picker's tree on drive T:.
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include "PickerTestSupport.h"
#include "harness/TestHarness.h"

namespace
{
std::string TempFolder(const char* name)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    return std::string(temp) + name;
}

void WriteFileText(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    CloseHandle(file);
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

std::string Describe(const std::vector<SelectEvent>& events)
{
    std::string text = std::to_string(events.size()) + " report(s):";
    for (const SelectEvent& e : events)
        text += " [" + Narrow(e.path) + " " + Narrow(e.size) + " " + Narrow(e.mode) + "]";
    return text;
}
}

static void test_settings_key_not_writable()
{
    if (GetFileAttributesA("T:\\Data\\notes.txt") == INVALID_FILE_ATTRIBUTES)
    {
        skip("no picker tree on T:");
        return;
    }
    ClearSettings();
    CTestControl control;
    if (!control)
        return;

    // The current user's root is replaced by a handle that is no key at all, so every
    // read and write of the settings fails, as with a broken or locked-down profile.
    HANDLE notAKey = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    LONG lr = RegOverridePredefKey(HKEY_CURRENT_USER, reinterpret_cast<HKEY>(notAKey));
    ok(lr == ERROR_SUCCESS, "RegOverridePredefKey failed: %ld\n", lr);
    HKEY probe = nullptr;
    LONG denied = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tavrine", 0, nullptr, 0, KEY_WRITE, nullptr, &probe,
                                  nullptr);
    if (probe)
        RegCloseKey(probe);

    size_t locations = 0, rows = 0;
    std::wstring firstFolder, chosenFolder;
    bool driven = RunPicker(control, [&](CPickerDriver& d) {
        locations = d.Locations().size();
        firstFolder = d.FolderPath();
        int drive = d.FindLocation(L"(T:)");
        if (drive >= 0 && d.ChooseLocation(drive))
        {
            chosenFolder = d.FolderPath();
            rows = d.Rows().size();
        }
    });
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    CloseHandle(notAKey);

    std::string observed = "settings key writable: " + std::string(denied == ERROR_SUCCESS ? "yes" : "no") +
                           "; picker " + (driven ? "opened" : "did not open") + " with " +
                           std::to_string(locations) + " locations, first folder \"" + Narrow(firstFolder) +
                           "\", T: lists " + std::to_string(rows) + " rows";
    fault_row("HKCU\\Software\\Tavrine cannot be written",
              "the picker opens from its defaults and browses; nothing is remembered", observed,
              denied != ERROR_SUCCESS && driven && locations > 0 && !firstFolder.empty() && chosenFolder == L"T:\\" &&
                  rows > 0 && ReadSetting("strWebDrive") == L"<missing>");
}

static void test_items_vanish_before_adding()
{
    std::string folder = TempFolder("tavrine-vanish");
    std::string sub = folder + "\\sub";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(sub.c_str(), nullptr);
    WriteFileText(folder + "\\gone.txt", "12345");
    WriteFileText(sub + "\\inner.txt", "abc");

    std::wstring drive = Wide(folder.substr(0, 3));
    StoreSettings(drive.c_str(), Wide(folder).c_str());
    CTestControl control;
    if (!control)
        return;
    std::vector<SelectEvent> events;
    size_t rowsAfter = 0;
    bool driven = RunPicker(control, [&](CPickerDriver& d) {
        int file = d.FindRow(L"gone.txt"), dir = d.FindRow(L"sub");
        if (file < 0 || dir < 0 || !d.Select({dir, file}))
            return;
        // Both go between the listing and the press of the add button.
        DeleteFileA((sub + "\\inner.txt").c_str());
        RemoveDirectoryA(sub.c_str());
        DeleteFileA((folder + "\\gone.txt").c_str());
        d.ClickAdd();
        events = control.sink.TakeSelections();
        rowsAfter = d.Rows().size();
    });
    bool expected = events.size() == 2 && Narrow(events[0].path) == sub && events[0].size == L"-1" &&
                    Narrow(events[1].path) == folder + "\\gone.txt" && events[1].size == L"5" &&
                    events[1].mode == L"-1";
    fault_row("a chosen file and folder deleted between listing and adding",
              "each reported once as listed, nothing below the vanished folder, the picker stays open",
              Describe(events) + (driven ? "" : "; picker not driven"), driven && expected && rowsAfter == 3);
    RemoveDirectoryA(folder.c_str());
}

static void test_remembered_folder_gone()
{
    std::string folder = TempFolder("tavrine-gone-folder");
    RemoveDirectoryA(folder.c_str());
    std::wstring drive = Wide(folder.substr(0, 3));
    StoreSettings(drive.c_str(), Wide(folder).c_str());
    CTestControl control;
    if (!control)
        return;
    std::vector<PickerRow> rows;
    std::wstring shown;
    bool driven = RunPicker(control, [&](CPickerDriver& d) {
        shown = d.FolderPath();
        rows = d.Rows();
    });
    std::string observed = "picker " + std::string(driven ? "opened" : "did not open") + " at \"" + Narrow(shown) +
                           "\" with " + std::to_string(rows.size()) + " row(s)" +
                           (rows.size() == 1 ? ", kind " + Narrow(rows[0].kind) : "");
    fault_row("the remembered folder no longer exists (cannot be enumerated)",
              "the picker opens there with only the parent entry; no message", observed,
              driven && Narrow(shown) == folder && rows.size() == 1 && rows[0].kind == L"0");
}

static void test_install_dir_missing()
{
    // The control looks for its programs where every control of this bitness does.
    char programs[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAM_FILES, FALSE);
    std::string installDir = std::string(programs) + "\\Tavrine";
    std::string aside = installDir + ".aside";
    bool moved = GetFileAttributesA(installDir.c_str()) != INVALID_FILE_ATTRIBUTES &&
                 MoveFileA(installDir.c_str(), aside.c_str());

    // An explorer window lets the install check pass; the upload program's window is missing.
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "tavrine_class_explorer";
    RegisterClassA(&cls);
    HWND explorer = CreateWindowA(cls.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, cls.hInstance,
                                  nullptr);
    std::string list = TempFolder("Tavrine_Upload_List");
    DeleteFileA(list.c_str());

    IVedADA* control = nullptr;
    CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA, reinterpret_cast<void**>(&control));
    HRESULT hr = E_FAIL;
    DWORD elapsed = 0;
    if (control)
    {
        BSTR idx = SysAllocString(L"1001"), user = SysAllocString(L"user"), pw = SysAllocString(L"secret");
        control->UpLoadInit();
        control->UpLoadInfo(idx);
        DWORD start = GetTickCount();
        hr = control->UpLoadEnd(user, pw);
        elapsed = GetTickCount() - start;
        SysFreeString(idx);
        SysFreeString(user);
        SysFreeString(pw);
        control->Release();
    }
    DestroyWindow(explorer);
    bool listWritten = GetFileAttributesA(list.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (moved)
        MoveFileA(aside.c_str(), installDir.c_str());

    char observed[160];
    snprintf(observed, sizeof(observed), "UpLoadEnd returned %#lx after %lu ms; list file %s", hr, elapsed,
             listWritten ? "written" : "not written");
    fault_row("the install directory is missing (the upload program cannot start)",
              "UpLoadEnd answers S_FALSE at once, without waiting out the 30 s start bound; no record written",
              observed, hr == S_FALSE && elapsed < 15000 && !listWritten);
}

TEST_MAIN(TEST(test_settings_key_not_writable), TEST(test_items_vanish_before_adding), TEST(test_remembered_folder_gone),
          TEST(test_install_dir_missing))

static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
