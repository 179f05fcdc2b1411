// CVedADA's install checks, called by the transfer and launcher methods on
// the page's thread. They read and change nothing of the control.
#include "control/VedADA.h"

#include "install/InstallCheck.h"

bool CVedADA::EnsureInstalled()
{
    return RunInstallCheck(true);
}

bool CVedADA::EnsureSpInstalled()
{
    return RunInstallCheck(false);
}
