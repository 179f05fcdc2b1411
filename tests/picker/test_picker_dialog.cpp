// The file picker through the real control: ShowUpFileDlg runs on the main
// thread while a driver thread finds the picker by its caption and works it
// with messages; a native sink collects UpSelectComplete. The folder tree is
// drive T: (tests/picker/make-tree.sh); hidden and system attributes are set
// here with SetFileAttributesA, which Wine keeps in the user.DOSATTRIB
// extended attribute of the Unix file, and read back before they are relied on.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>

#include "resource.h"
#include "PickerTestSupport.h"
#include "harness/TestHarness.h"
#include "picker/FolderScan.h"

namespace
{
using Events = std::vector<SelectEvent>;

bool HasParentRow(const CPickerDriver& driver)
{
    std::vector<PickerRow> rows = driver.Rows();
    return !rows.empty() && rows[0].kind == L"0";
}

std::wstring Wide(const std::string& text)
{
    int needed = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(needed > 0 ? needed : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], needed);
    result.resize(wcslen(result.c_str()));
    return result;
}

// Folders ("1") all stand before files ("2"), and nothing else but a leading parent row.
bool FoldersBeforeFiles(const std::vector<PickerRow>& rows)
{
    bool seenFile = false;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        if (rows[i].kind == L"0" && i == 0)
            continue;
        if (rows[i].kind == L"2")
            seenFile = true;
        else if (rows[i].kind != L"1" || seenFile)
            return false;
    }
    return true;
}

std::vector<std::wstring> Names(const std::vector<PickerRow>& rows)
{
    std::vector<std::wstring> names;
    for (const PickerRow& row : rows)
        names.push_back(row.name);
    std::sort(names.begin(), names.end());
    return names;
}

void ChooseDrive(CPickerDriver& driver, const wchar_t* part)
{
    int index = driver.FindLocation(part);
    ok(index >= 0, "no location %s", Narrow(part).c_str());
    if (index >= 0)
        driver.ChooseLocation(index);
}

void SelectNames(CPickerDriver& driver, const std::vector<std::wstring>& names)
{
    std::vector<int> rows;
    for (const std::wstring& name : names)
    {
        int row = driver.FindRow(name);
        ok(row >= 0, "no row %s", Narrow(name).c_str());
        rows.push_back(row);
    }
    ok(driver.Select(rows), "selecting %u rows", static_cast<unsigned>(rows.size()));
}

// Sets the attribute and answers whether the file system kept it.
bool SetAttribute(const char* path, DWORD attribute)
{
    DWORD current = GetFileAttributesA(path);
    if (current == INVALID_FILE_ATTRIBUTES)
        return false;
    SetFileAttributesA(path, (current & ~FILE_ATTRIBUTE_DIRECTORY) | attribute);
    DWORD now = GetFileAttributesA(path);
    return now != INVALID_FILE_ATTRIBUTES && (now & attribute) == attribute;
}

// Draws the image on white: the magenta background must have become
// transparent and the arrow (green at 9,3) must be there.
bool IsParentPicture(HIMAGELIST list, int image)
{
    if (!list || image < 0 || image >= ImageList_GetImageCount(list))
        return false;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_DrawEx(list, image, dc, 0, 0, 16, 16, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
    COLORREF corner = GetPixel(dc, 0, 0), arrow = GetPixel(dc, 9, 3);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    if (corner != RGB(255, 255, 255) || arrow != RGB(0, 160, 0))
        trace("image %d: corner %06lx, arrow %06lx\n", image, corner, arrow);
    return corner == RGB(255, 255, 255) && arrow == RGB(0, 160, 0);
}

bool TreeReady()
{
    if (GetFileAttributesA("T:\\Data\\notes.txt") == INVALID_FILE_ATTRIBUTES)
    {
        skip("drive T: holds no picker tree; run tests/picker/make-tree.sh first");
        return false;
    }
    return true;
}
}

static void test_first_opening()
{
    ClearSettings();
    CTestControl control;
    std::wstring desktop = SpecialFolder(CSIDL_DESKTOP);
    std::wstring documents = SpecialFolder(CSIDL_PERSONAL);
    RunPicker(control, [&](CPickerDriver& d) {
        wchar_t caption[64] = {};
        GetWindowTextW(d.Dialog(), caption, 64);
        ok(lstrcmpW(caption, CPickerDriver::kCaption) == 0, "caption %s", Narrow(caption).c_str());
        ok(GetWindow(d.Dialog(), GW_OWNER) == nullptr, "a picker opened with no active window has an owner");

        std::vector<std::wstring> locations = d.Locations();
        ok(locations.size() >= 4, "%u locations", static_cast<unsigned>(locations.size()));
        if (locations.size() >= 2)
        {
            ok(locations[0] == L"바탕 화면", "first location %s", Narrow(locations[0]).c_str());
            ok(locations[1] == L"내 문서", "second location %s", Narrow(locations[1]).c_str());
        }
        int c = d.FindLocation(L"C:"), t = d.FindLocation(L"T:");
        ok(c >= 2 && t > c, "drives C: at %d and T: at %d, after the two folders, in letter order", c, t);

        // No stored values: the Desktop is chosen, listed and stored at once.
        ok(d.CurrentLocation() == 0, "selected location %d", d.CurrentLocation());
        ok(d.FolderPath() == desktop, "folder %s", Narrow(d.FolderPath()).c_str());
        ok(ReadSetting("strWebDrive") == desktop, "strWebDrive %s", Narrow(ReadSetting("strWebDrive")).c_str());
        ok(ReadSetting("strWebPath") == desktop, "strWebPath %s", Narrow(ReadSetting("strWebPath")).c_str());
        ok(!HasParentRow(d), "a parent row at the Desktop root");

        ok(d.ColumnHeader(0) == L"이름", "column 0 %s", Narrow(d.ColumnHeader(0)).c_str());
        ok(d.ColumnHeader(1) == L"크기", "column 1 %s", Narrow(d.ColumnHeader(1)).c_str());
        ok(d.ColumnHeader(2) == L"", "column 2 %s", Narrow(d.ColumnHeader(2)).c_str());
        ok(d.ColumnWidth(0) == 300 && d.ColumnWidth(1) == 120 && d.ColumnWidth(2) == 0, "widths %d %d %d",
           d.ColumnWidth(0), d.ColumnWidth(1), d.ColumnWidth(2));

        HWND list = d.Control(IDC_ITEMLIST);
        LRESULT extended = SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        ok((extended & 0x41) == 0x41, "extended list style %#lx", static_cast<long>(extended));
        HIMAGELIST shown = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        ok(shown != nullptr, "no small image list");

        // The caption's close box ends the picker like its close button.
        PostMessageW(d.Dialog(), WM_CLOSE, 0, 0);
        ok(d.WaitClosed(20000), "WM_CLOSE did not end the picker");
    });
}

static void test_navigation_walk()
{
    if (!TreeReady())
        return;
    ClearSettings();
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        ChooseDrive(d, L"(T:)");
        ok(d.FolderPath() == L"T:\\", "root folder %s", Narrow(d.FolderPath()).c_str());
        ok(ReadSetting("strWebDrive") == L"T:\\" && ReadSetting("strWebPath") == L"T:\\", "settings after choosing T:");
        ok(!HasParentRow(d), "a parent row at the drive root");

        ok(d.OpenPath(L"Data"), "opening Data");
        ok(d.FolderPath() == L"T:\\Data", "into Data: %s", Narrow(d.FolderPath()).c_str());
        std::vector<PickerRow> rows = d.Rows();
        ok(rows.size() == 4, "%u rows in T:\\Data", static_cast<unsigned>(rows.size()));
        if (rows.size() == 4)
        {
            ok(rows[0].name == L" .." && rows[0].size.empty() && rows[0].kind == L"0" && !rows[0].hasItemData,
               "parent row [%s|%s|%s]", Narrow(rows[0].name).c_str(), Narrow(rows[0].size).c_str(),
               Narrow(rows[0].kind).c_str());
            HIMAGELIST list = reinterpret_cast<HIMAGELIST>(
                SendMessageW(d.Control(IDC_ITEMLIST), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            ok(IsParentPicture(list, rows[0].image), "parent row image %d of %d is not the parent picture",
               rows[0].image, ImageList_GetImageCount(list));
            ok(FoldersBeforeFiles(rows), "folders before files");
            ok(rows[3].name == L"notes.txt" && rows[3].size == L"5 바이트" && rows[3].kind == L"2",
               "file row [%s|%s|%s]", Narrow(rows[3].name).c_str(), Narrow(rows[3].size).c_str(),
               Narrow(rows[3].kind).c_str());
            for (int i = 1; i <= 3; ++i)
            {
                ok(rows[i].hasItemData && rows[i].image >= 0, "row %d has no item or image", i);
                ok(!IsParentPicture(list, rows[i].image), "row %d shows the parent picture", i);
            }
            ok(rows[1].size.empty() && rows[2].size.empty(), "folder rows with a size");
        }
        ok(ReadSetting("strWebPath") == L"T:\\Data", "strWebPath %s", Narrow(ReadSetting("strWebPath")).c_str());
        ok(ReadSetting("strWebDrive") == L"T:\\", "strWebDrive %s", Narrow(ReadSetting("strWebDrive")).c_str());

        // The worked walk: in, in, up (keeping a backslash), in, up, up to the root.
        struct Step
        {
            const wchar_t* open;   // a row name, or null for the parent row
            const wchar_t* folder;
            bool parentRow;
        };
        static const Step walk[] = {
            {L"Photos", L"T:\\Data\\Photos", true}, {nullptr, L"T:\\Data\\", true},
            {L"Music", L"T:\\Data\\Music", true},   {nullptr, L"T:\\Data\\", true},
            {nullptr, L"T:\\", false},
        };
        for (const Step& step : walk)
        {
            ok(d.Open(step.open ? d.FindRow(step.open) : 0), "opening %s", step.open ? Narrow(step.open).c_str() : "..");
            ok(d.FolderPath() == step.folder, "walk: %s, expected %s", Narrow(d.FolderPath()).c_str(),
               Narrow(step.folder).c_str());
            ok(ReadSetting("strWebPath") == step.folder, "stored %s", Narrow(ReadSetting("strWebPath")).c_str());
            ok(HasParentRow(d) == step.parentRow, "parent row at %s", Narrow(step.folder).c_str());
        }

        // A file row does nothing; several selected rows: the first one counts.
        d.OpenPath(L"Data");
        ok(d.Open(d.FindRow(L"notes.txt")), "double-click notes.txt");
        ok(d.FolderPath() == L"T:\\Data", "a file row navigated to %s", Narrow(d.FolderPath()).c_str());
        int photos = d.FindRow(L"Photos"), music = d.FindRow(L"Music");
        ok(d.Select({photos, music}), "two folders selected");
        d.NotifyDoubleClick();
        std::wstring first = photos < music ? L"T:\\Data\\Photos" : L"T:\\Data\\Music";
        ok(d.FolderPath() == first, "several selected went to %s", Narrow(d.FolderPath()).c_str());
        // No row selected: nothing happens.
        d.Open(0);
        d.Select({});
        d.NotifyDoubleClick();
        ok(d.FolderPath() == L"T:\\Data\\", "with nothing selected went to %s", Narrow(d.FolderPath()).c_str());
    });

    // The shell's own icon list is left as it was: an image added to it puts
    // the small and large lists out of step and later icons go wrong.
    SHFILEINFOA info = {};
    HIMAGELIST system = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        "*.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON));
    int found = -1;
    for (int i = 0; system && i < ImageList_GetImageCount(system) && found < 0; ++i)
        if (IsParentPicture(system, i))
            found = i;
    ok(system && found < 0, "the parent picture is image %d of the shell's list", found);
}

static void test_worked_example()
{
    if (!TreeReady())
        return;
    StoreSettings(L"T:\\", L"T:\\Data");
    CTestControl control;
    // The page's handler runs inside each report, while the add button is off.
    int enabledDuring = 0;
    control.sink.onSelect = [&](const SelectEvent&) {
        HWND picker = FindWindowW(L"#32770", CPickerDriver::kCaption);
        if (!picker || IsWindowEnabled(GetDlgItem(picker, IDC_ADDSELECTED)))
            ++enabledDuring;
    };
    RunPicker(control, [&](CPickerDriver& d) {
        ok(d.FolderPath() == L"T:\\Data", "reopened at %s", Narrow(d.FolderPath()).c_str());
        SelectNames(d, {L"Photos", L"notes.txt"});
        d.ClickAdd();
        CheckEvents("Photos and notes.txt", control.sink.TakeSelections(),
                    {{L"T:\\Data\\Photos", L"-1", L"-1"},
                     {L"T:\\Data\\Photos\\Trip", L"-1", L"T:\\Data\\Photos"},
                     {L"T:\\Data\\Photos\\Trip\\a.jpg", L"1000", L"T:\\Data\\Photos"},
                     {L"T:\\Data\\Photos\\b.jpg", L"2048", L"T:\\Data\\Photos"},
                     {L"T:\\Data\\notes.txt", L"5", L"-1"}});
        ok(enabledDuring == 0, "the add button was enabled during %d reports", enabledDuring);
        ok(IsWindowVisible(d.Dialog()), "the picker stays open after adding");
        ok(d.SelectedCount() == 0, "%d rows still selected", d.SelectedCount());
        ok(d.AddEnabled(), "the add button stays disabled");

        d.ClickAdd();
        ok(control.sink.SelectionCount() == 0, "adding with nothing selected reported %u items",
           static_cast<unsigned>(control.sink.SelectionCount()));

        ok(d.Select({0}), "selecting the parent row");
        d.ClickAdd();
        ok(control.sink.SelectionCount() == 0, "the parent row was reported");
        ok(d.SelectedCount() == 0 && d.AddEnabled(), "after adding the parent row alone");

        // The same item may be added again.
        SelectNames(d, {L"notes.txt"});
        d.ClickAdd();
        CheckEvents("notes.txt again", control.sink.TakeSelections(), {{L"T:\\Data\\notes.txt", L"5", L"-1"}});
    });
}

static void test_hidden_and_system()
{
    if (!TreeReady())
        return;
    bool kept = SetAttribute("T:\\Filters\\hidden.txt", FILE_ATTRIBUTE_HIDDEN) &&
                SetAttribute("T:\\Filters\\HidDir", FILE_ATTRIBUTE_HIDDEN) &&
                SetAttribute("T:\\Filters\\system.txt", FILE_ATTRIBUTE_SYSTEM) &&
                SetAttribute("T:\\Filters\\SysDir", FILE_ATTRIBUTE_SYSTEM);
    if (!kept)
    {
        skip("this file system keeps no hidden or system attribute (no extended attributes)");
        return;
    }
    ok(GetFileAttributesA("T:\\Filters\\.dotfile") & FILE_ATTRIBUTE_HIDDEN, "a dot file is not hidden");

    StoreSettings(L"T:\\", L"T:\\Filters");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        std::vector<PickerRow> rows = d.Rows();
        std::vector<std::wstring> names = Names(rows);
        std::vector<std::wstring> want = {L" ..", L"SysDir", L"visible.txt"};
        ok(names == want, "%u rows listed in T:\\Filters, expected the parent row, SysDir and visible.txt",
           static_cast<unsigned>(names.size()));
        for (const std::wstring& name : names)
            trace("listed %s\n", Narrow(name).c_str());

        d.Open(0);
        SelectNames(d, {L"Filters"});
        d.ClickAdd();
        CheckEvents("Filters", control.sink.TakeSelections(),
                    {{L"T:\\Filters", L"-1", L"-1"},
                     {L"T:\\Filters\\SysDir", L"-1", L"T:\\Filters"},
                     {L"T:\\Filters\\SysDir\\inner.txt", L"9", L"T:\\Filters"},
                     {L"T:\\Filters\\visible.txt", L"3", L"T:\\Filters"}});
    });
}

static void test_sizes_and_empty_folders()
{
    if (!TreeReady())
        return;
    StoreSettings(L"T:\\", L"T:\\Sizes");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        int zero = d.FindRow(L"zero.bin"), big = d.FindRow(L"big.bin");
        std::vector<PickerRow> rows = d.Rows();
        ok(zero > 0 && big > 0, "rows zero.bin %d big.bin %d", zero, big);
        if (zero <= 0 || big <= 0)
            return;
        ok(rows[big].size == L"5.00 GB", "big.bin shown as %s", Narrow(rows[big].size).c_str());
        ok(rows[zero].size == L"0 바이트", "zero.bin shown as %s", Narrow(rows[zero].size).c_str());

        ok(d.Select({zero, big}), "selecting the two files");
        d.ClickAdd();
        Events zeroEvent = {{L"T:\\Sizes\\zero.bin", L"0", L"-1"}};
        Events bigEvent = {{L"T:\\Sizes\\big.bin", L"5368709120", L"-1"}};
        Events want = zero < big ? Events{zeroEvent[0], bigEvent[0]} : Events{bigEvent[0], zeroEvent[0]};
        CheckEvents("chosen files", control.sink.TakeSelections(), want);

        SelectNames(d, {L"Empty"});
        d.ClickAdd();
        CheckEvents("an empty folder", control.sink.TakeSelections(), {{L"T:\\Sizes\\Empty", L"-1", L"-1"}});
        SelectNames(d, {L"OnlyHidden"});
        d.ClickAdd();
        CheckEvents("a folder of hidden entries", control.sink.TakeSelections(), {{L"T:\\Sizes\\OnlyHidden", L"-1", L"-1"}});
    });
}

static void test_mixed_folder_rows()
{
    if (!TreeReady())
        return;
    // The rows as the folder's one-piece listing orders them: folders first.
    FolderListing listing;
    ok(ListFolderEntries("T:\\Mixed", GetACP(), listing) && listing.folders.size() == 40 && listing.files.size() == 280,
       "T:\\Mixed holds %u folders and %u files", static_cast<unsigned>(listing.folders.size()),
       static_cast<unsigned>(listing.files.size()));
    std::vector<std::wstring> want = {L" .."};
    for (const std::vector<FolderEntry>* kind : {&listing.folders, &listing.files})
        for (const FolderEntry& entry : *kind)
            want.push_back(std::wstring(entry.name.begin(), entry.name.end()));
    StoreSettings(L"T:\\", L"T:\\Mixed");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        std::vector<PickerRow> rows = d.Rows();
        std::vector<std::wstring> names;
        for (const PickerRow& row : rows)
            names.push_back(row.name);
        ok(names == want, "%u rows of T:\\Mixed out of order", static_cast<unsigned>(rows.size()));
        ok(FoldersBeforeFiles(rows), "folders before files");
        ok(d.OpenPath(L"d17") && d.FolderPath() == L"T:\\Mixed\\d17", "into d17: %s", Narrow(d.FolderPath()).c_str());
    });
}

// The rows of one folder at three lengths of its items' paths, against its
// one-piece listing: names, order, size and kind texts, icons and item data,
// the item data read back through the add button.
static void test_rows_at_path_lengths()
{
    if (!TreeReady())
        return;
    const std::wstring folders[] = {
        L"T:\\Lengths\\a",
        L"T:\\Lengths\\" + std::wstring(50, L'b'),
        L"T:\\Lengths\\" + std::wstring(40, L'\uAC00') + L"\\" + std::wstring(40, L'\uB098'),
    };
    for (const std::wstring& folder : folders)
    {
        const std::string ansi = Ansi(folder), shown = Narrow(folder);
        FolderListing listing;
        ok(ListFolderEntries(ansi, GetACP(), listing) && listing.folders.size() == 8 && listing.files.size() == 130,
           "%s holds %u folders and %u files", shown.c_str(), static_cast<unsigned>(listing.folders.size()),
           static_cast<unsigned>(listing.files.size()));
        if (listing.files.size() != 130)
            continue;
        std::vector<PickerRow> want = {{L" ..", L"", L"0", -1, false}};
        for (const FolderEntry& entry : listing.folders)
            want.push_back({Wide(entry.name), L"", L"1", -1, true});
        for (const FolderEntry& entry : listing.files)
        {
            char size[64] = {};
            StrFormatByteSize64A(static_cast<LONGLONG>(entry.size), size, sizeof(size));
            want.push_back({Wide(entry.name), Wide(size), L"2", -1, true});
        }
        StoreSettings(L"T:\\", folder.c_str());
        CTestControl control;
        RunPicker(control, [&](CPickerDriver& d) {
            std::vector<PickerRow> rows = d.Rows();
            ok(rows.size() == want.size(), "%s: %u rows", shown.c_str(), static_cast<unsigned>(rows.size()));
            for (size_t i = 0; i < rows.size() && i < want.size(); ++i)
            {
                const PickerRow& row = rows[i];
                bool same = row.name == want[i].name && row.size == want[i].size && row.kind == want[i].kind &&
                            row.hasItemData == want[i].hasItemData && row.image >= 0;
                ok(same, "%s row %u: %s [%s] kind %s image %d data %d", shown.c_str(), static_cast<unsigned>(i),
                   Narrow(row.name).c_str(), Narrow(row.size).c_str(), Narrow(row.kind).c_str(), row.image,
                   row.hasItemData);
                if (!same)
                    break;
            }
            // Every folder and every tenth file, reported from the rows' own item data.
            std::vector<int> picked;
            Events expected;
            for (size_t i = 0; i < listing.folders.size(); ++i)
            {
                picked.push_back(static_cast<int>(1 + i));
                expected.push_back({Wide(listing.folders[i].path), L"-1", L"-1"});
            }
            for (size_t i = 0; i < listing.files.size(); i += 10)
            {
                picked.push_back(static_cast<int>(1 + listing.folders.size() + i));
                expected.push_back({Wide(listing.files[i].path), Wide(ByteCountText(listing.files[i].size)), L"-1"});
            }
            ok(d.Select(picked), "%s: selecting %u rows", shown.c_str(), static_cast<unsigned>(picked.size()));
            d.ClickAdd();
            CheckEvents(shown.c_str(), control.sink.TakeSelections(), expected);
        });
    }
}

static void test_walk_order_and_base()
{
    if (!TreeReady())
        return;
    StoreSettings(L"T:\\", L"T:\\");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        SelectNames(d, {L"Deep"});
        d.ClickAdd();
        Events events = control.sink.TakeSelections();
        CheckEvents("Deep", events,
                    {{L"T:\\Deep", L"-1", L"-1"},
                     {L"T:\\Deep\\L1", L"-1", L"T:\\Deep"},
                     {L"T:\\Deep\\L1\\L2", L"-1", L"T:\\Deep"},
                     {L"T:\\Deep\\L1\\L2\\L3", L"-1", L"T:\\Deep"},
                     {L"T:\\Deep\\L1\\L2\\L3\\f.txt", L"10", L"T:\\Deep"},
                     {L"T:\\Deep\\L1\\g.txt", L"11", L"T:\\Deep"},
                     {L"T:\\Deep\\top.txt", L"12", L"T:\\Deep"}});

        // Two chosen folders: the first one's whole tree comes before the second's own report.
        int deep = d.FindRow(L"Deep"), data = d.FindRow(L"Data");
        ok(d.Select({deep, data}), "selecting Deep and Data");
        d.ClickAdd();
        events = control.sink.TakeSelections();
        std::wstring first = deep < data ? L"T:\\Deep" : L"T:\\Data";
        std::wstring second = deep < data ? L"T:\\Data" : L"T:\\Deep";
        size_t boundary = 0;
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].path == second && events[i].mode == L"-1")
                boundary = i;
        ok(events.size() == 14 && events[0].path == first && boundary == 7,
           "%u events, second folder's report at %u", static_cast<unsigned>(events.size()),
           static_cast<unsigned>(boundary));
        for (size_t i = 0; i < events.size(); ++i)
        {
            const SelectEvent& e = events[i];
            std::wstring base = i < boundary ? first : second;
            if (e.mode == L"-1")
                continue;
            ok(e.mode == base && e.path.compare(0, base.size() + 1, base + L"\\") == 0,
               "event %u: %s below %s", static_cast<unsigned>(i + 1), Narrow(e.path).c_str(), Narrow(e.mode).c_str());
        }
    });
}

static void test_directory_cycle()
{
    if (!TreeReady())
        return;
    DWORD back = GetFileAttributesA("T:\\Cycle\\inner\\back");
    if (back == INVALID_FILE_ATTRIBUTES || !(back & FILE_ATTRIBUTE_DIRECTORY))
    {
        skip("T:\\Cycle\\inner\\back is not a folder link here (%#lx)", back);
        return;
    }
    StoreSettings(L"T:\\", L"T:\\");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        SelectNames(d, {L"Cycle"});
        d.ClickAdd();
        std::vector<SelectEvent> cycle = control.sink.TakeSelections();
        fault_row("a folder tree with a cycle (a link back up the tree)",
                  "the walk ends; each folder reported once; the link reported but not walked again",
                  std::to_string(cycle.size()) + " reports", cycle.size() == 5);
        CheckEvents("Cycle", cycle,
                    {{L"T:\\Cycle", L"-1", L"-1"},
                     {L"T:\\Cycle\\inner", L"-1", L"T:\\Cycle"},
                     {L"T:\\Cycle\\inner\\back", L"-1", L"T:\\Cycle"},
                     {L"T:\\Cycle\\inner\\i.txt", L"14", L"T:\\Cycle"},
                     {L"T:\\Cycle\\c.txt", L"13", L"T:\\Cycle"}});
        // Chosen below the link, the loop is cut one level further down.
        d.OpenPath(L"Cycle\\inner");
        SelectNames(d, {L"back"});
        d.ClickAdd();
        CheckEvents("Cycle\\inner\\back", control.sink.TakeSelections(),
                    {{L"T:\\Cycle\\inner\\back", L"-1", L"-1"},
                     {L"T:\\Cycle\\inner\\back\\inner", L"-1", L"T:\\Cycle\\inner\\back"},
                     {L"T:\\Cycle\\inner\\back\\inner\\back", L"-1", L"T:\\Cycle\\inner\\back"},
                     {L"T:\\Cycle\\inner\\back\\inner\\i.txt", L"14", L"T:\\Cycle\\inner\\back"},
                     {L"T:\\Cycle\\inner\\back\\c.txt", L"13", L"T:\\Cycle\\inner\\back"}});
        // A link up to the chosen folder's parent: the walk goes through it
        // once and stops at the chosen folder.
        d.Open(0);
        d.Open(0);
        d.OpenPath(L"Outer");
        SelectNames(d, {L"Inner"});
        d.ClickAdd();
        CheckEvents("Outer\\Inner", control.sink.TakeSelections(),
                    {{L"T:\\Outer\\Inner", L"-1", L"-1"},
                     {L"T:\\Outer\\Inner\\toOuter", L"-1", L"T:\\Outer\\Inner"},
                     {L"T:\\Outer\\Inner\\toOuter\\Inner", L"-1", L"T:\\Outer\\Inner"},
                     {L"T:\\Outer\\Inner\\toOuter\\o.txt", L"19", L"T:\\Outer\\Inner"},
                     {L"T:\\Outer\\Inner\\i.txt", L"20", L"T:\\Outer\\Inner"}});
    });
}

static void test_remembered_location()
{
    if (!TreeReady())
        return;
    ClearSettings();
    std::wstring desktop = SpecialFolder(CSIDL_DESKTOP);
    {
        CTestControl control;
        RunPicker(control, [&](CPickerDriver& d) {
            ChooseDrive(d, L"(T:)");
            ok(d.OpenPath(L"Data\\Photos"), "opening Data\\Photos");
        });
    }
    ok(ReadSetting("strWebDrive") == L"T:\\", "stored root %s", Narrow(ReadSetting("strWebDrive")).c_str());
    ok(ReadSetting("strWebPath") == L"T:\\Data\\Photos", "stored folder %s", Narrow(ReadSetting("strWebPath")).c_str());

    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        ok(d.CurrentLocation() == d.FindLocation(L"(T:)"), "reopened on location %d", d.CurrentLocation());
        ok(d.FolderPath() == L"T:\\Data\\Photos", "reopened at %s", Narrow(d.FolderPath()).c_str());
        std::vector<std::wstring> want = {L" ..", L"Trip", L"b.jpg"};
        ok(Names(d.Rows()) == want, "rows of the reopened folder");

        // Choosing a location always starts at its root.
        d.ChooseLocation(0);
        ok(d.FolderPath() == desktop, "Desktop chosen: %s", Narrow(d.FolderPath()).c_str());
        ok(ReadSetting("strWebDrive") == desktop && ReadSetting("strWebPath") == desktop, "settings after the Desktop");
    });

    // A Desktop root has no trailing backslash, going up keeps one: the parent
    // row is still hidden back at the root.
    std::wstring sub = desktop + L"\\PickerSub";
    CreateDirectoryW(sub.c_str(), nullptr);
    RunPicker(control, [&](CPickerDriver& d) {
        ok(d.OpenPath(L"PickerSub"), "opening PickerSub on the Desktop");
        ok(HasParentRow(d), "no parent row below the Desktop");
        d.Open(0);
        ok(d.FolderPath() == desktop + L"\\", "up to %s", Narrow(d.FolderPath()).c_str());
        ok(!HasParentRow(d), "a parent row back at the Desktop root leads above it");
    });
    RemoveDirectoryW(sub.c_str());

    // A stored root that matches no location: the first is shown, the stored folder still listed.
    StoreSettings(L"Q:\\Gone", L"T:\\Data");
    RunPicker(control, [&](CPickerDriver& d) {
        ok(d.CurrentLocation() == 0, "location %d", d.CurrentLocation());
        ok(d.FolderPath() == L"T:\\Data", "folder %s", Narrow(d.FolderPath()).c_str());
        ok(d.FindRow(L"notes.txt") > 0, "T:\\Data is not listed");
    });
    ok(ReadSetting("strWebDrive") == L"Q:\\Gone", "stored root %s", Narrow(ReadSetting("strWebDrive")).c_str());
}

static void test_korean_names()
{
    if (!TreeReady())
        return;
    StoreSettings(L"T:\\", L"T:\\");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        ok(d.OpenPath(L"한글"), "opening 한글");
        ok(d.FolderPath() == L"T:\\한글", "folder %s", Narrow(d.FolderPath()).c_str());
        ok(ReadSetting("strWebPath") == L"T:\\한글", "stored %s", Narrow(ReadSetting("strWebPath")).c_str());
        ok(d.OpenPath(L"사진"), "opening 사진");
        d.Open(0);
        ok(d.FolderPath() == L"T:\\한글\\", "up from 사진: %s", Narrow(d.FolderPath()).c_str());
        d.Open(0);
        ok(d.FolderPath() == L"T:\\", "up from 한글: %s", Narrow(d.FolderPath()).c_str());
        SelectNames(d, {L"한글"});
        d.ClickAdd();
        CheckEvents("한글", control.sink.TakeSelections(),
                    {{L"T:\\한글", L"-1", L"-1"},
                     {L"T:\\한글\\사진", L"-1", L"T:\\한글"},
                     {L"T:\\한글\\사진\\풍경.jpg", L"16", L"T:\\한글"},
                     {L"T:\\한글\\문서.txt", L"15", L"T:\\한글"}});
    });
}

// Pressing add again and again holds no more memory than the first presses
// did: every string a report makes is given back.
static void test_presses_give_memory_back()
{
    if (!TreeReady())
        return;
    StoreSettings(L"T:\\", L"T:\\");
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        const int presses = 60, settled = 5;
        SIZE_T before = 0;
        size_t reports = 0;
        for (int i = 0; i < presses; ++i)
        {
            if (i == settled)
                before = PrivateBytes();
            ok(d.Select({d.FindRow(L"Mixed")}), "selecting Mixed");
            d.ClickAdd();
            reports += control.sink.TakeSelections().size();
            // The sink's own record would grow too.
            std::vector<RecordedEvent>().swap(control.sink.events);
        }
        SIZE_T after = PrivateBytes();
        ok(reports == presses * 321u, "%u reports", static_cast<unsigned>(reports));
        // 55 presses of 321 reports: some 2 MB if each left its strings behind.
        ok(after < before + 1024 * 1024, "private bytes grew from %lu KB to %lu KB",
           static_cast<unsigned long>(before / 1024), static_cast<unsigned long>(after / 1024));
    });
}

static void test_escape_closes()
{
    CTestControl control;
    RunPicker(control, [&](CPickerDriver& d) {
        PostMessageW(d.Control(IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
        ok(d.WaitClosed(20000), "Escape did not end the picker");
    });
    ok(control.sink.SelectionCount() == 0, "closing reported %u items", static_cast<unsigned>(control.sink.SelectionCount()));
}

TEST_MAIN(TEST(test_first_opening), TEST(test_navigation_walk), TEST(test_worked_example),
          TEST(test_hidden_and_system), TEST(test_sizes_and_empty_folders), TEST(test_mixed_folder_rows),
          TEST(test_rows_at_path_lengths),
          TEST(test_walk_order_and_base), TEST(test_directory_cycle), TEST(test_remembered_location),
          TEST(test_korean_names), TEST(test_presses_give_memory_back), TEST(test_escape_closes))
