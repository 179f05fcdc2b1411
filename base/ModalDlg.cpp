// The dialog thunk: keeps the object in DWLP_USER from WM_INITDIALOG on and
// catches every exception at the window-procedure boundary.
#include "base/ModalDlg.h"

#include "base/Module.h"

#include <cstring>
#include <vector>

CModalDlg::CModalDlg()
{
    Module::ObjectCreated();
}

CModalDlg::~CModalDlg()
{
    Module::ObjectDestroyed();
}

namespace
{
CModalDlg::OwnerlessWatch g_ownerlessWatch = nullptr;
}

void CModalDlg::WatchOwnerless(OwnerlessWatch watch)
{
    g_ownerlessWatch = watch;
}

INT_PTR CModalDlg::DoModal(WORD templateId, HWND owner, bool showWhenIdle)
{
    m_wTemplateId = templateId;
    HINSTANCE instance = Module::Instance();
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(templateId), RT_DIALOG);
    if (!resource)
        return -1;
    HGLOBAL loaded = LoadResource(instance, resource);
    const void* dialogTemplate = loaded ? LockResource(loaded) : nullptr;
    if (!dialogTemplate)
        return -1;
    if (!showWhenIdle)
        return DialogBoxIndirectParamA(instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), owner,
                                       s_DlgProc, reinterpret_cast<LPARAM>(this));

    // Some dialog managers show a WS_VISIBLE dialog right after WM_INITDIALOG
    // even when it has already been ended there; the modal loop itself shows
    // an invisible dialog only once it runs, which an ended dialog never does.
    DWORD size = SizeofResource(instance, resource);
    if (size < sizeof(DLGTEMPLATE))
        return -1;
    std::vector<BYTE> copy(static_cast<const BYTE*>(dialogTemplate), static_cast<const BYTE*>(dialogTemplate) + size);
    WORD signature = 0;
    memcpy(&signature, &copy[2], sizeof(signature));
    size_t styleOffset = signature == 0xFFFF ? 12 : 0;   // DLGTEMPLATEEX keeps the style after the help id and exStyle
    if (copy.size() < styleOffset + sizeof(DWORD))
        return -1;
    DWORD style = 0;
    memcpy(&style, &copy[styleOffset], sizeof(style));
    style &= ~WS_VISIBLE;
    memcpy(&copy[styleOffset], &style, sizeof(style));
    return DialogBoxIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), owner, s_DlgProc,
                                   reinterpret_cast<LPARAM>(this));
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
        try
        {
            self->OnHandlerFailed();
        }
        catch (...)
        {
            // Nothing more can be done inside a window procedure.
        }
        return FALSE;
    }
}

void CModalDlg::OnShown()
{
    m_bOwnerlessShown = true;
    // No owner to appear over: without this the dialog may open behind the
    // browser, where the user never sees it and the page waits.
    SetForegroundWindow(m_hWnd);
    if (g_ownerlessWatch)
        g_ownerlessWatch(m_wTemplateId, true);
}

int CModalDlg::ShowMessage(const char* text, const char* caption, UINT type)
{
    bool announce = g_ownerlessWatch && !m_bOwnerlessShown && !GetWindow(m_hWnd, GW_OWNER);
    if (!announce)
        return MessageBoxA(m_hWnd, text, caption, type);
    g_ownerlessWatch(m_wTemplateId, true);
    // Nothing beneath it either: it comes to the front as the dialog would.
    int answer = MessageBoxA(m_hWnd, text, caption, type | MB_SETFOREGROUND);
    g_ownerlessWatch(m_wTemplateId, false);
    return answer;
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
    case WM_SHOWWINDOW:
        if (wParam && !m_bOwnerlessShown && !GetWindow(m_hWnd, GW_OWNER))
            OnShown();
        return FALSE;
    case WM_DESTROY:
        OnDestroy();
        if (m_bOwnerlessShown && g_ownerlessWatch)
            g_ownerlessWatch(m_wTemplateId, false);
        m_bOwnerlessShown = false;
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
