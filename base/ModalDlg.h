// Base of the control's modal dialogs: one static dialog procedure that finds
// the object again and forwards to On* handlers. Runs on the thread that
// calls DoModal; other threads only post to the window.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CModalDlg
{
public:
    CModalDlg();
    virtual ~CModalDlg();
    CModalDlg(const CModalDlg&) = delete;
    CModalDlg& operator=(const CModalDlg&) = delete;

    // Runs the dialog from the module's template and returns the end code,
    // or -1 when the dialog cannot be created. With showWhenIdle the template
    // runs with WS_VISIBLE cleared, so the modal loop shows the dialog once
    // initialisation is over, and never when it ended during initialisation.
    INT_PTR DoModal(WORD templateId, HWND owner, bool showWhenIdle = false);
    HWND GetHwnd() const { return m_hWnd; }

    // Told, on the dialog's thread, when a dialog without an owner window
    // appears and when it goes. Such a dialog has no page beneath it (the
    // browser bridge runs both dialogs so), so it comes to the front on its
    // own and its host may say where it is. One watcher per process.
    using OwnerlessWatch = void (*)(WORD templateId, bool open);
    static void WatchOwnerless(OwnerlessWatch watch);

protected:
    // Each handler answers whether it handled the message.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual BOOL OnCommand(WORD id, WORD code, HWND control) { return FALSE; }
    virtual BOOL OnNotify(NMHDR* header, LRESULT& result) { return FALSE; }
    virtual BOOL OnTimer(UINT_PTR id) { return FALSE; }
    virtual void OnDestroy() {}
    // Private messages (WM_USER and above).
    virtual BOOL OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) { return FALSE; }
    // A handler threw (out of memory, most likely). A dialog the user cannot
    // dismiss must end itself here, or the caller's thread waits for ever.
    virtual void OnHandlerFailed() {}

    // MessageBoxA over this dialog. A dialog without an owner that is not
    // shown yet (a check that fails during initialisation) has the box
    // announced as itself, open while the box is: the user must look at it.
    int ShowMessage(const char* text, const char* caption, UINT type);

    HWND m_hWnd = nullptr;

private:
    void OnShown();

    WORD m_wTemplateId = 0;
    bool m_bOwnerlessShown = false;

    static INT_PTR CALLBACK s_DlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
};
