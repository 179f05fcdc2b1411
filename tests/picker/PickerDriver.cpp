// The picker driver. Every wait is bounded; nothing here hooks the picker.
#include "PickerDriver.h"

#include <commctrl.h>
#include <cstring>

#include "resource.h"

const wchar_t CPickerDriver::kCaption[] = L"파일/폴더 선택창";

namespace
{
const size_t kRemoteSize = 64 * 1024;
const size_t kTextOffset = 4096;   // text buffers follow the structures
const DWORD kSendTimeoutMs = 60000;

LRESULT SendBounded(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result))
        return -1;
    return static_cast<LRESULT>(result);
}
}

CPickerDriver::~CPickerDriver()
{
    if (m_pRemote)
        VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
    if (m_hProcess)
        CloseHandle(m_hProcess);
}

bool CPickerDriver::Attach(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        HWND found = FindWindowW(L"#32770", kCaption);
        if (found && IsWindowVisible(found))
        {
            m_hDialog = found;
            break;
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    m_hList = GetDlgItem(m_hDialog, IDC_ITEMLIST);
    DWORD pid = 0;
    GetWindowThreadProcessId(m_hDialog, &pid);
    m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!m_hProcess)
        return false;
    m_pRemote = static_cast<BYTE*>(
        VirtualAllocEx(m_hProcess, nullptr, kRemoteSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    return m_pRemote != nullptr;
}

bool CPickerDriver::ReadRemote(const void* remote, void* local, size_t size) const
{
    SIZE_T done = 0;
    return ReadProcessMemory(m_hProcess, remote, local, size, &done) && done == size;
}

bool CPickerDriver::WriteRemote(void* remote, const void* local, size_t size) const
{
    SIZE_T done = 0;
    return WriteProcessMemory(m_hProcess, remote, local, size, &done) && done == size;
}

std::vector<std::wstring> CPickerDriver::Locations() const
{
    std::vector<std::wstring> texts;
    HWND combo = Control(IDC_LOCATIONS);
    LRESULT count = SendBounded(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
    {
        wchar_t text[512] = {};
        LRESULT length = SendBounded(combo, CB_GETLBTEXTLEN, i, 0);
        if (length >= 0 && length < 512)
            SendBounded(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

int CPickerDriver::CurrentLocation() const
{
    return static_cast<int>(SendBounded(Control(IDC_LOCATIONS), CB_GETCURSEL, 0, 0));
}

int CPickerDriver::FindLocation(const std::wstring& part) const
{
    std::vector<std::wstring> texts = Locations();
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].find(part) != std::wstring::npos)
            return static_cast<int>(i);
    return -1;
}

bool CPickerDriver::ChooseLocation(int index)
{
    HWND combo = Control(IDC_LOCATIONS);
    if (SendBounded(combo, CB_SETCURSEL, index, 0) != index)
        return false;
    SendBounded(m_hDialog, WM_COMMAND, MAKEWPARAM(IDC_LOCATIONS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return true;
}

std::wstring CPickerDriver::FolderPath() const
{
    wchar_t text[1024] = {};
    SendBounded(Control(IDC_FOLDERPATH), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring CPickerDriver::RowText(int row, int column) const
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(m_pRemote + kTextOffset);
    item.cchTextMax = 1024;
    wchar_t empty = 0;
    WriteRemote(m_pRemote + kTextOffset, &empty, sizeof(empty));
    if (!WriteRemote(m_pRemote, &item, sizeof(item)))
        return std::wstring();
    LRESULT length = SendBounded(m_hList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(m_pRemote));
    if (length <= 0 || length >= 1024)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length), L'\0');
    ReadRemote(m_pRemote + kTextOffset, &text[0], length * sizeof(wchar_t));
    return text;
}

std::vector<PickerRow> CPickerDriver::Rows() const
{
    std::vector<PickerRow> rows;
    int count = static_cast<int>(SendBounded(m_hList, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        PickerRow row;
        row.name = RowText(i, 0);
        row.size = RowText(i, 1);
        row.kind = RowText(i, 2);
        LVITEMW item = {};
        item.mask = LVIF_IMAGE | LVIF_PARAM;
        item.iItem = i;
        if (WriteRemote(m_pRemote, &item, sizeof(item)) &&
            SendBounded(m_hList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(m_pRemote)) > 0 &&
            ReadRemote(m_pRemote, &item, sizeof(item)))
        {
            row.image = item.iImage;
            row.hasItemData = item.lParam != 0;
        }
        rows.push_back(row);
    }
    return rows;
}

int CPickerDriver::FindRow(const std::wstring& name) const
{
    std::vector<PickerRow> rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name == name)
            return static_cast<int>(i);
    return -1;
}

std::wstring CPickerDriver::ColumnHeader(int column) const
{
    LVCOLUMNW col = {};
    col.mask = LVCF_TEXT;
    col.pszText = reinterpret_cast<wchar_t*>(m_pRemote + kTextOffset);
    col.cchTextMax = 256;
    wchar_t empty = 0;
    WriteRemote(m_pRemote + kTextOffset, &empty, sizeof(empty));
    if (!WriteRemote(m_pRemote, &col, sizeof(col)) ||
        !SendBounded(m_hList, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(m_pRemote)))
        return L"<none>";
    wchar_t text[256] = {};
    ReadRemote(m_pRemote + kTextOffset, text, sizeof(text) - sizeof(wchar_t));
    return text;
}

int CPickerDriver::ColumnWidth(int column) const
{
    return static_cast<int>(SendBounded(m_hList, LVM_GETCOLUMNWIDTH, column, 0));
}

bool CPickerDriver::Select(const std::vector<int>& rows)
{
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    if (!WriteRemote(m_pRemote, &state, sizeof(state)))
        return false;
    SendBounded(m_hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(m_pRemote));
    state.state = LVIS_SELECTED;
    if (!WriteRemote(m_pRemote, &state, sizeof(state)))
        return false;
    for (int row : rows)
        if (row < 0 || !SendBounded(m_hList, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(m_pRemote)))
            return false;
    // Focus on the list, as after a click, so the selection shows.
    SendBounded(m_hDialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_hList), TRUE);
    // LVM_SETITEMSTATE can answer TRUE and select nothing when the pointer is wrong.
    return SelectedCount() == static_cast<int>(rows.size());
}

int CPickerDriver::SelectedCount() const
{
    return static_cast<int>(SendBounded(m_hList, LVM_GETSELECTEDCOUNT, 0, 0));
}

void CPickerDriver::NotifyDoubleClick()
{
    int row = static_cast<int>(SendBounded(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    DWORD pid = 0;
    GetWindowThreadProcessId(m_hDialog, &pid);
    if (pid == GetCurrentProcessId() || row < 0)
    {
        // In the picker's process the notification can be sent as it is.
        NMITEMACTIVATE activate = {};
        activate.hdr.hwndFrom = m_hList;
        activate.hdr.idFrom = IDC_ITEMLIST;
        activate.hdr.code = NM_DBLCLK;
        activate.iItem = -1;
        if (WriteRemote(m_pRemote, &activate, sizeof(activate)))
            SendBounded(m_hDialog, WM_NOTIFY, IDC_ITEMLIST, reinterpret_cast<LPARAM>(m_pRemote));
        return;
    }
    // Across processes Wine refuses to send WM_NOTIFY (it carries a pointer),
    // so the list itself is double-clicked on the row and sends NM_DBLCLK.
    SendBounded(m_hList, LVM_ENSUREVISIBLE, row, FALSE);
    RECT bounds = {LVIR_LABEL, 0, 0, 0};
    if (!WriteRemote(m_pRemote, &bounds, sizeof(bounds)) ||
        !SendBounded(m_hList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(m_pRemote)) ||
        !ReadRemote(m_pRemote, &bounds, sizeof(bounds)))
        return;
    LPARAM point = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    SendBounded(m_hList, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendBounded(m_hList, WM_LBUTTONUP, 0, point);
}

bool CPickerDriver::Open(int row)
{
    if (!Select({row}))
        return false;
    NotifyDoubleClick();
    return true;
}

bool CPickerDriver::OpenPath(const std::wstring& relative)
{
    size_t start = 0;
    while (start < relative.size())
    {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        std::wstring name = relative.substr(start, end - start);
        if (!name.empty())
        {
            int row = FindRow(name);
            if (row < 0 || !Open(row))
                return false;
            std::wstring now = FolderPath();
            if (now.size() < name.size() || now.compare(now.size() - name.size(), name.size(), name) != 0)
                return false;
        }
        start = end + 1;
    }
    return true;
}

void CPickerDriver::ClickAdd()
{
    SendBounded(m_hDialog, WM_COMMAND, MAKEWPARAM(IDC_ADDSELECTED, BN_CLICKED),
                reinterpret_cast<LPARAM>(Control(IDC_ADDSELECTED)));
}

bool CPickerDriver::AddEnabled() const
{
    return IsWindowEnabled(Control(IDC_ADDSELECTED)) != FALSE;
}

void CPickerDriver::Close()
{
    PostMessageW(m_hDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDCANCEL)));
}

bool CPickerDriver::WaitClosed(DWORD timeoutMs) const
{
    DWORD start = GetTickCount();
    while (IsWindow(m_hDialog))
    {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}
