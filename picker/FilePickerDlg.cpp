// The file picker dialog: locations, folder listing, navigation and the add
// action. Runs on the page's UI thread inside the modal loop of
// ShowUpFileDlg; a press of the add button reports synchronously.
#include "picker/FilePickerDlg.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstring>

#include "resource.h"
#include "base/Module.h"
#include "base/Shared.h"
#include "picker/FolderScan.h"
#include "picker/PickerPath.h"
#include "picker/PickerTexts.h"

namespace
{
const char kWebDriveValue[] = "strWebDrive";
const char kWebPathValue[] = "strWebPath";
// Third column: what a row is, read back by navigation and the add action.
const char kKindParent[] = "0";
const char kKindFolder[] = "1";
const char kKindFile[] = "2";

bool CopyPath(char (&field)[MAX_PATH], const std::string& path)
{
    if (path.size() >= MAX_PATH)
        return false;
    memcpy(field, path.c_str(), path.size() + 1);
    return true;
}

// Re-enables the add button however the walk ends.
class CReenable
{
public:
    explicit CReenable(HWND button) : m_hButton(button) { EnableWindow(m_hButton, FALSE); }
    ~CReenable() { EnableWindow(m_hButton, TRUE); }
    CReenable(const CReenable&) = delete;
    CReenable& operator=(const CReenable&) = delete;

private:
    HWND m_hButton;
};

// The list neither draws nor shows while it is filled, however the fill ends.
// The list keeps its own redraw flag; the window's visible bit goes off as
// well, so that turning redraw back on (which sets the scroll bars) draws
// nothing before the one repaint at the end.
class CRedrawOff
{
public:
    explicit CRedrawOff(HWND list) : m_hList(list)
    {
        SendMessageA(m_hList, WM_SETREDRAW, FALSE, 0);
        DefWindowProcA(m_hList, WM_SETREDRAW, FALSE, 0);
    }
    ~CRedrawOff()
    {
        SendMessageA(m_hList, WM_SETREDRAW, TRUE, 0);
        DefWindowProcA(m_hList, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(m_hList, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;

private:
    HWND m_hList;
};

// One message, when the scope ends, for the entries of a listing or an add
// press that could not be offered (see EnumerateFolder).
class CUnofferedNotice
{
public:
    explicit CUnofferedNotice(HWND owner) : m_hOwner(owner) {}
    ~CUnofferedNotice()
    {
        if (m_nCount > 0)
            MessageBoxA(m_hOwner, PickerUnofferedText(m_nCount).c_str(), kPickerNoticeCaption, MB_OK);
    }
    CUnofferedNotice(const CUnofferedNotice&) = delete;
    CUnofferedNotice& operator=(const CUnofferedNotice&) = delete;
    void Add(size_t count) noexcept { m_nCount += count; }

private:
    HWND m_hOwner;
    size_t m_nCount = 0;
};

// Stores the listed location when the scope ends, however the listing ends.
// The rows go in first: while the worker reads the folder, Wine's server is
// busy with it, and these two writes cost a tenth of the whole listing then
// (3 ms against 0.3 ms once the reading is done).
class CLocationMemo
{
public:
    CLocationMemo(CRegistryHelper& settings, const std::string& key, const std::string& drive,
                  const std::string& path)
        : m_settings(settings), m_key(key), m_drive(drive), m_path(path)
    {
    }
    ~CLocationMemo()
    {
        // A location that could not be stored is only not remembered.
        m_settings.WriteString(m_key.c_str(), kWebDriveValue, m_drive.c_str());
        m_settings.WriteString(m_key.c_str(), kWebPathValue, m_path.c_str());
    }
    CLocationMemo(const CLocationMemo&) = delete;
    CLocationMemo& operator=(const CLocationMemo&) = delete;

private:
    CRegistryHelper& m_settings;
    const std::string& m_key;
    const std::string& m_drive;
    const std::string& m_path;
};

// Drops the rest of a listing that the list stopped taking.
class CListingEnd
{
public:
    explicit CListingEnd(CFolderLister& lister) : m_lister(lister) {}
    ~CListingEnd() { m_lister.Finish(); }
    CListingEnd(const CListingEnd&) = delete;
    CListingEnd& operator=(const CListingEnd&) = delete;

private:
    CFolderLister& m_lister;
};
}

CFilePickerDlg::CFilePickerDlg(PickerReport report)
    : m_report(std::move(report)), m_settings(HKEY_CURRENT_USER), m_strSettingsKey("Software\\Tavrine"), m_uCodePage(GetACP())
{
}

CFilePickerDlg::~CFilePickerDlg() = default;

INT_PTR CFilePickerDlg::DoModal(HWND owner)
{
    // The template's list view is a common control: its class must be
    // registered before the dialog creates it.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return CModalDlg::DoModal(IDD_FILEPICKER, owner);
}

BOOL CFilePickerDlg::OnInitDialog()
{
    // The worker starts while the dialog is being set up.
    m_lister.Prepare();
    m_hLocations = GetDlgItem(m_hWnd, IDC_LOCATIONS);
    m_hFolderPath = GetDlgItem(m_hWnd, IDC_FOLDERPATH);
    m_hItems = GetDlgItem(m_hWnd, IDC_ITEMLIST);

    // Wide, so the caption is right whatever the ANSI code page.
    SetWindowTextW(m_hWnd, L"파일/폴더 선택창");

    m_settings.ReadString(m_strSettingsKey.c_str(), kWebDriveValue, m_strWebDrive);
    m_settings.ReadString(m_strSettingsKey.c_str(), kWebPathValue, m_strWebPath);
    FillLocations();
    InsertColumns();

    // LVS_SHAREIMAGELISTS: the list never destroys it; the dialog does.
    if (m_icons.Create(Module::Instance(), IDB_PARENTUP))
        SendMessageA(m_hItems, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_icons.List()));
    SendMessageA(m_hItems, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_ONECLICKACTIVATE);
    SendMessageA(m_hItems, LVM_SETCALLBACKMASK, LVIS_FOCUSED, 0);

    ListFolder();
    return TRUE;
}

BOOL CFilePickerDlg::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDC_ADDSELECTED && code == BN_CLICKED)
    {
        OnAddSelected();
        return TRUE;
    }
    if (id == IDCANCEL && code == 0)
    {
        EndDialog(m_hWnd, IDCANCEL);
        return TRUE;
    }
    if (id == IDC_LOCATIONS && code == CBN_SELCHANGE)
    {
        OnLocationChange();
        return TRUE;
    }
    return FALSE;
}

BOOL CFilePickerDlg::OnNotify(NMHDR* header, LRESULT& result)
{
    if (header->idFrom == IDC_ITEMLIST && header->code == static_cast<UINT>(LVN_GETDISPINFOA))
    {
        OnItemText(*reinterpret_cast<NMLVDISPINFOA*>(header));
        result = 0;
        return TRUE;
    }
    if (header->idFrom == IDC_ITEMLIST && header->code == static_cast<UINT>(NM_DBLCLK))
    {
        OnListDblClk();
        result = 0;
        return TRUE;
    }
    return FALSE;
}

void CFilePickerDlg::InsertColumns()
{
    struct Column
    {
        const wchar_t* header;
        int format;
        int width;
    };
    // The third column is hidden: it holds the row's kind code.
    static const Column columns[] = {
        {L"이름", LVCFMT_LEFT, 300},
        {L"크기", LVCFMT_RIGHT, 120},
        {L"", LVCFMT_RIGHT, 0},
    };
    for (int i = 0; i < 3; ++i)
    {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = columns[i].format;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].header);
        column.iSubItem = i;
        SendMessageW(m_hItems, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

bool CFilePickerDlg::AppendLocation(const std::wstring& wideText, const std::string& text, const std::string& path)
{
    // A path that does not fit the entry's field is left out, never cut.
    auto entry = std::make_unique<LocationEntry>();
    if (!CopyPath(entry->path, path))
        return false;
    LRESULT index = SendMessageA(m_hLocations, CB_GETCOUNT, 0, 0);
    if (!wideText.empty())
        index = SendMessageW(m_hLocations, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(wideText.c_str()));
    else
        index = SendMessageA(m_hLocations, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0)
        return false;
    SendMessageA(m_hLocations, CB_SETITEMDATA, index, reinterpret_cast<LPARAM>(entry.get()));
    m_locations.push_back(std::move(entry));
    return true;
}

void CFilePickerDlg::FillLocations()
{
    DWORD drives = GetLogicalDrives();
    bool foldersAdded = false;
    for (int letter = 0; letter < 26; ++letter)
    {
        if (!(drives & (1u << letter)))
            continue;
        char root[4] = {static_cast<char>('A' + letter), ':', '\\', '\0'};
        UINT type = GetDriveTypeA(root);
        if (type != DRIVE_FIXED && type != DRIVE_CDROM)
            continue;
        SHFILEINFOA info = {};
        if (!SHGetFileInfoA(root, 0, &info, sizeof(info), SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
            continue;

        // The two folder entries come first, and only when a drive is listed.
        // One whose folder the shell cannot name is left out.
        if (!foldersAdded)
        {
            foldersAdded = true;
            char folder[MAX_PATH] = {};
            if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_DESKTOP, FALSE) && folder[0])
                AppendLocation(L"바탕 화면", std::string(), folder);
            folder[0] = '\0';
            if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, FALSE) && folder[0])
                AppendLocation(L"내 문서", std::string(), folder);
        }
        AppendLocation(std::wstring(), info.szDisplayName, root);
    }

    SendMessageA(m_hLocations, CB_SETCURSEL, 0, 0);
    if (!m_strWebDrive.empty())
    {
        for (size_t i = 0; i < m_locations.size(); ++i)
        {
            auto entry = reinterpret_cast<const LocationEntry*>(SendMessageA(m_hLocations, CB_GETITEMDATA, i, 0));
            if (entry && entry != reinterpret_cast<const LocationEntry*>(CB_ERR) && m_strWebDrive == entry->path)
            {
                SendMessageA(m_hLocations, CB_SETCURSEL, i, 0);
                break;
            }
        }
    }
    else if (!m_locations.empty())
    {
        auto entry = reinterpret_cast<const LocationEntry*>(SendMessageA(m_hLocations, CB_GETITEMDATA, 0, 0));
        if (entry && entry != reinterpret_cast<const LocationEntry*>(CB_ERR))
        {
            m_strWebDrive = entry->path;
            m_settings.WriteString(m_strSettingsKey.c_str(), kWebDriveValue, m_strWebDrive.c_str());
        }
    }
    if (m_strWebPath.empty())
        m_strWebPath = m_strWebDrive;
}

void CFilePickerDlg::ClearList()
{
    SendMessageA(m_hItems, LVM_DELETEALLITEMS, 0, 0);
    m_items.Clear();
}

void CFilePickerDlg::InsertParentRow()
{
    LVITEMA row = {};
    row.mask = LVIF_TEXT | LVIF_IMAGE;
    row.iItem = 0;
    row.pszText = const_cast<char*>(" ..");
    row.iImage = m_icons.ParentIndex();
    int index = static_cast<int>(SendMessageA(m_hItems, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
    if (index < 0)
        return;
    LVITEMA sub = {};
    sub.iSubItem = 2;
    sub.pszText = const_cast<char*>(kKindParent);
    SendMessageA(m_hItems, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
}

bool CFilePickerDlg::InsertRow(int index, const std::string& name, int icon, const char* kind, const std::string& path,
                               bool folder, ULONGLONG size)
{
    if (path.size() >= sizeof(PickerItem::path))
        return false;
    // Owned by the dialog before any row points at it.
    PickerItem* owned = m_items.Add();
    CopyPath(owned->path, path);
    owned->size = size;
    owned->folder = folder;
    lstrcpynA(owned->kind, kind, sizeof(owned->kind));
    // The list asks for the texts it shows (LVN_GETDISPINFO) instead of keeping
    // copies of its own, and the size column is made only for the rows it
    // draws; a text the item cannot give back as it is goes into the list itself.
    const bool nameInPath = path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0;
    owned->nameAt = static_cast<WORD>(nameInPath ? path.size() - name.size() : 0);

    LVITEMA row = {};
    row.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    row.iItem = index;
    row.pszText = nameInPath ? LPSTR_TEXTCALLBACKA : const_cast<char*>(name.c_str());
    row.iImage = icon;
    row.lParam = reinterpret_cast<LPARAM>(owned);
    index = static_cast<int>(SendMessageA(m_hItems, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
    if (index < 0)
    {
        m_items.RemoveLast();
        return false;
    }

    // The columns of a row whose label is asked for are asked for too, as
    // long as they were never set: no message per column.
    if (nameInPath)
        return true;
    LVITEMA sub = {};
    if (!folder)
    {
        sub.iSubItem = 1;
        sub.pszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(m_hItems, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
    }
    sub.iSubItem = 2;
    sub.pszText = LPSTR_TEXTCALLBACKA;
    SendMessageA(m_hItems, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
    return true;
}

void CFilePickerDlg::OnItemText(NMLVDISPINFOA& info) const
{
    const PickerItem* item = reinterpret_cast<const PickerItem*>(info.item.lParam);
    if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0)
        return;
    // The parent row keeps its own texts; a column of it never set is empty.
    if (!item)
    {
        info.item.pszText[0] = '\0';
        return;
    }
    char size[64] = "";
    if (info.item.iSubItem == 1 && !item->folder &&
        !StrFormatByteSize64A(static_cast<LONGLONG>(item->size), size, sizeof(size)))
        size[0] = '\0';
    const char* text = info.item.iSubItem == 0 ? item->path + item->nameAt
                     : info.item.iSubItem == 1 ? size
                     : info.item.iSubItem == 2 ? item->kind : "";
    lstrcpynA(info.item.pszText, text, info.item.cchTextMax);
}

void CFilePickerDlg::ListFolder()
{
    // With no location at all and nothing stored there is no folder to show
    // or remember.
    if (m_strWebDrive.empty() && m_strWebPath.empty())
    {
        ClearList();
        return;
    }
    // The disk is read on the worker from here on, while this thread empties
    // the list and fills it again.
    m_lister.Begin(m_strWebPath, m_uCodePage);
    CListingEnd listingEnd(m_lister);
    SetWindowTextA(m_hFolderPath, m_strWebPath.c_str());

    // Told once the list shows.
    CUnofferedNotice unoffered(m_hWnd);
    CLocationMemo memo(m_settings, m_strSettingsKey, m_strWebDrive, m_strWebPath);
    // One repaint at the end instead of one per row.
    CRedrawOff quiet(m_hItems);
    ClearList();
    // Hidden at every root, the Desktop and My Documents ones included (they
    // carry no trailing backslash, going up keeps one), so the user cannot
    // wander above the chosen location.
    if (!m_strWebPath.empty() && !PickerPath::SamePlace(m_strWebDrive, m_strWebPath, m_uCodePage))
        InsertParentRow();

    // Folders come before files, each kind in enumeration order: a folder row
    // goes after the folders so far, a file row at the end. A row keeps its
    // path in a fixed field: an entry whose path does not fit stays out of the
    // list rather than being cut short (the scan below a chosen folder still
    // reports it).
    int folderEnd = static_cast<int>(SendMessageA(m_hItems, LVM_GETITEMCOUNT, 0, 0));
    int end = folderEnd;
    std::vector<FolderEntry> batch;
    while (m_lister.Next(batch))
    {
        // Room for the batch at once instead of row by row.
        SendMessageA(m_hItems, LVM_SETITEMCOUNT, end + batch.size(), 0);
        for (const FolderEntry& entry : batch)
        {
            if (!IsOffered(entry))
                unoffered.Add(1);
            if (!IsOffered(entry) || entry.path.size() > PickerPath::kMaxPathBytes)
                continue;
            if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
            {
                if (InsertRow(folderEnd, entry.name, m_icons.FolderIcon(entry.path, entry.attributes), kKindFolder,
                              entry.path, true, 0))
                {
                    ++folderEnd;
                    ++end;
                }
            }
            else if (InsertRow(end, entry.name, m_icons.FileIcon(entry.path, entry.name), kKindFile, entry.path,
                               false, entry.size))
            {
                ++end;
            }
        }
    }
}

std::string CFilePickerDlg::RowText(int row, int column) const
{
    char text[MAX_PATH * 2] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(m_hItems, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

PickerItem* CFilePickerDlg::RowItem(int row) const
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(m_hItems, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<PickerItem*>(item.lParam);
}

void CFilePickerDlg::OnLocationChange()
{
    LRESULT index = SendMessageA(m_hLocations, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    auto entry = reinterpret_cast<const LocationEntry*>(SendMessageA(m_hLocations, CB_GETITEMDATA, index, 0));
    if (!entry || entry == reinterpret_cast<const LocationEntry*>(CB_ERR))
        return;
    m_strWebDrive = entry->path;
    m_strWebPath = m_strWebDrive;
    m_settings.WriteString(m_strSettingsKey.c_str(), kWebDriveValue, m_strWebDrive.c_str());
    ListFolder();
}

void CFilePickerDlg::OnListDblClk()
{
    // The first selected row, wherever the click landed.
    int row = static_cast<int>(SendMessageA(m_hItems, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0)
        return;
    std::string name = RowText(row, 0);
    std::string kind = RowText(row, 2);
    if (kind == kKindParent)
    {
        m_strWebPath = PickerPath::Up(m_strWebPath, m_uCodePage);
        ListFolder();
    }
    else if (kind == kKindFolder)
    {
        m_strWebPath = PickerPath::Join(m_strWebPath, name, m_uCodePage);
        ListFolder();
    }
}

void CFilePickerDlg::Report(const std::string& path, const std::string& size, BSTR mode)
{
    // The owners take the new strings as they are (a CBstr made from a
    // pointer would copy it and leave the original behind).
    CBstr strPath;
    strPath.Reset(NarrowToBstr(path, CP_ACP));
    CBstr strSize;
    strSize.Reset(NarrowToBstr(size, CP_ACP));
    if (m_report)
        m_report(strPath.Get(), strSize.Get(), mode);
}

void CFilePickerDlg::OnAddSelected()
{
    int row = static_cast<int>(SendMessageA(m_hItems, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0)
        return;
    CReenable busy(GetDlgItem(m_hWnd, IDC_ADDSELECTED));

    // Copy the choice before the first report: the page's handler runs inside
    // each report and may pump messages that change the list.
    struct Chosen
    {
        std::string path;
        std::string size;
        bool folder;
    };
    std::vector<Chosen> chosen;
    for (; row >= 0; row = static_cast<int>(SendMessageA(m_hItems, LVM_GETNEXTITEM, row, LVNI_SELECTED)))
    {
        std::string kind = RowText(row, 2);
        if (kind == kKindParent)
            continue;
        const PickerItem* item = RowItem(row);
        if (!item)
            continue;
        chosen.push_back({item->path, item->folder ? std::string("-1") : ByteCountText(item->size), kind == kKindFolder});
    }

    CUnofferedNotice unoffered(m_hWnd);
    // One mode string per chosen item: every report below a chosen folder
    // carries that folder's path, so it is made once, not once per report.
    CBstr chosenMode;
    chosenMode.Reset(NarrowToBstr("-1", CP_ACP));
    CBstr scanMode;
    CFolderScan scan([this, &scanMode](const std::string& path, const std::string& size, const std::string&) {
        Report(path, size, scanMode.Get());
    }, m_uCodePage);
    for (const Chosen& item : chosen)
    {
        Report(item.path, item.size, chosenMode.Get());
        if (item.folder)
        {
            scanMode.Reset(NarrowToBstr(item.path, CP_ACP));
            scan.ScanFolder(item.path, item.path);
        }
    }
    unoffered.Add(scan.Unoffered());

    int count = static_cast<int>(SendMessageA(m_hItems, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        LVITEMA state = {};
        state.stateMask = 0xFFFFFFFF;
        state.state = 0;
        SendMessageA(m_hItems, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
}
