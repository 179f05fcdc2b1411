// CFilePickerDlg: the modal dialog in which the page's user chooses local
// files and folders for upload. Runs on the page's UI thread inside
// ShowUpFileDlg; every choice goes to the report callback it was given.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ModalDlg.h"
#include "base/RegistryHelper.h"
#include "picker/FolderLister.h"
#include "picker/PickerItems.h"
#include "picker/ShellIcons.h"

// Receives each chosen entry while the dialog runs: its path, its size text
// ("-1" for a folder) and the mode, as BSTRs in the system code page that the
// callee does not own. It must not throw.
using PickerReport = std::function<void(BSTR path, BSTR size, BSTR mode)>;

class CFilePickerDlg : public CModalDlg
{
public:
    explicit CFilePickerDlg(PickerReport report);
    ~CFilePickerDlg() override;

    // Runs the dialog from its template; answers the end code (2), or -1
    // when it cannot be shown.
    INT_PTR DoModal(HWND owner);

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    BOOL OnNotify(NMHDR* header, LRESULT& result) override;

private:
    // Path of one location entry, attached to its combo box item.
    struct LocationEntry
    {
        char path[MAX_PATH];
    };

    void FillLocations();
    bool AppendLocation(const std::wstring& wideText, const std::string& text, const std::string& path);
    void ListFolder();
    void ClearList();
    void OnLocationChange();
    void OnListDblClk();
    void OnAddSelected();

    void InsertColumns();
    void InsertParentRow();
    // Inserts a row at index; false when it was left out.
    bool InsertRow(int index, const std::string& name, int icon, const char* kind, const std::string& path,
                   bool folder, ULONGLONG size);
    std::string RowText(int row, int column) const;
    // Gives the list a row's text from its item data.
    void OnItemText(NMLVDISPINFOA& info) const;
    PickerItem* RowItem(int row) const;
    void Report(const std::string& path, const std::string& size, BSTR mode);

    PickerReport m_report;
    HWND m_hLocations = nullptr;
    HWND m_hFolderPath = nullptr;
    HWND m_hItems = nullptr;
    CRegistryHelper m_settings;
    const std::string m_strSettingsKey;
    std::string m_strWebDrive;
    std::string m_strWebPath;
    // The list view's icons; outlives the list window (destroyed with the dialog object).
    CShellIcons m_icons;
    UINT m_uCodePage;
    std::vector<std::unique_ptr<LocationEntry>> m_locations;
    CPickerItems m_items;
    CFolderLister m_lister;
};
