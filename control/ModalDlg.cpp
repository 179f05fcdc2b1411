// The dialog thunk: keeps the object in DWLP_USER from WM_INITDIALOG on and
// catches every exception at the window-procedure boundary.
#include "control/ModalDlg.h"

#include "control/Module.h"

CModalDlg::CModalDlg()
{
    Module::ObjectCreated();
}

CModalDlg::~CModalDlg()
{
    Module::ObjectDestroyed();
}

INT_PTR CModalDlg::DoModal(WORD templateId, HWND owner)
{
    HINSTANCE instance = Module::Instance();
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    if (!resource)
        return -1;
    HGLOBAL loaded = LoadResource(instance, resource);
    const void* dialogTemplate = loaded ? LockResource(loaded) : nullptr;
    if (!dialogTemplate)
        return -1;
    return DialogBoxIndirectParamA(instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), owner,
                                   s_DlgProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CModalDlg::s_DlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CModalDlg* self;
    if (message == WM_INITDIALOG)
    {
        self = reinterpret_cast<CModalDlg*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    }
    else
    {
        self = reinterpret_cast<CModalDlg*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    try
    {
        INT_PTR handled = self->HandleMessage(message, wParam, lParam);
        if (message == WM_NCDESTROY)
        {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
        }
        return handled;
    }
    catch (...)
    {
        return FALSE;
    }
}

INT_PTR CModalDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    switch (message)
    {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_NOTIFY:
        if (!OnNotify(reinterpret_cast<NMHDR*>(lParam), result))
            return FALSE;
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    case WM_TIMER:
        return OnTimer(static_cast<UINT_PTR>(wParam));
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        if (message >= WM_USER && OnPrivateMessage(message, wParam, lParam, result))
        {
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
}
