// The pop-up allow list entry: one DWORD value, named after the site.
#include "base/PopUpAllowList.h"

#include <windows.h>

#include "base/RegistryHelper.h"
#include "base/SiteLock.h"

bool AllowPopUpSite(const std::string& site)
{
    if (kSiteLockBuilt && !CSiteLock::ForBuild().AllowsPopUpSite(site))
        return false;
    const DWORD allow = 0;
    CRegistryHelper registry(HKEY_CURRENT_USER);
    registry.WriteDword("Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", site.c_str(), &allow);
    return true;
}
