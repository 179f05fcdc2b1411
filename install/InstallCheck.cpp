// The install check: a companion window proves the programs are installed;
// otherwise the install dialog decides. Runs on the page's thread.
#include "install/InstallCheck.h"

#include <windows.h>
#include <commctrl.h>

#include "base/CompanionClasses.h"
#include "install/InstallDlg.h"

bool RunInstallCheck(bool mainPackage)
{
    for (const char* windowClass : kCompanionClasses)
        if (FindWindowA(windowClass, nullptr))
            return true;

    try
    {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);

        CInstallDlg dialog;
        if (!mainPackage)
            dialog.m_bMainPackage = false;
        // A dialog that settles the check during initialisation is never shown.
        return dialog.DoModal(IDD_INSTALL, GetActiveWindow(), true) == kInstallEndReady;
    }
    catch (...)
    {
        return false;
    }
}
