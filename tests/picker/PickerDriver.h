// Drives an open file picker with window messages, from another thread of
// the same process or from another process: the list view's messages carry
// pointers, so every structure they need is placed in the picker's process.
// Used by the picker tests, the screenshot command and the demonstration.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

struct PickerRow
{
    std::wstring name;   // column 0
    std::wstring size;   // column 1
    std::wstring kind;   // column 2: "0" parent, "1" folder, "2" file
    int image = -1;
    bool hasItemData = false;
};

class CPickerDriver
{
public:
    static const wchar_t kCaption[];

    CPickerDriver() = default;
    ~CPickerDriver();
    CPickerDriver(const CPickerDriver&) = delete;
    CPickerDriver& operator=(const CPickerDriver&) = delete;

    // Waits (bounded) for a visible picker and prepares to drive it.
    bool Attach(DWORD timeoutMs);
    HWND Dialog() const { return m_hDialog; }
    HWND Control(int id) const { return GetDlgItem(m_hDialog, id); }

    std::vector<std::wstring> Locations() const;
    int CurrentLocation() const;
    // Index of the first location whose text contains part, or -1.
    int FindLocation(const std::wstring& part) const;
    // CB_SETCURSEL, then the CBN_SELCHANGE that a user's choice would send.
    bool ChooseLocation(int index);

    std::wstring FolderPath() const;
    std::vector<PickerRow> Rows() const;
    int FindRow(const std::wstring& name) const;
    std::wstring ColumnHeader(int column) const;
    int ColumnWidth(int column) const;

    // Selects exactly these rows (and no other).
    bool Select(const std::vector<int>& rows);
    int SelectedCount() const;
    // The double-click notification the list sends its dialog; the picker
    // acts on the first selected row. From another process the list is
    // double-clicked on that row instead.
    void NotifyDoubleClick();
    // Selects the row and double-clicks it.
    bool Open(int row);
    // Opens each folder of a relative path (backslash-separated) in turn.
    bool OpenPath(const std::wstring& relative);
    // Presses the add button; returns when the picker has made every report.
    void ClickAdd();
    bool AddEnabled() const;

    // Ends the picker like its close button (posted, so a caller on the
    // picker's own thread is never blocked).
    void Close();
    bool WaitClosed(DWORD timeoutMs) const;

private:
    bool ReadRemote(const void* remote, void* local, size_t size) const;
    bool WriteRemote(void* remote, const void* local, size_t size) const;
    std::wstring RowText(int row, int column) const;

    HWND m_hDialog = nullptr;
    HWND m_hList = nullptr;
    HANDLE m_hProcess = nullptr;
    BYTE* m_pRemote = nullptr;   // a scratch block in the picker's process
};
