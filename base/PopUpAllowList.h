// The browser's pop-up allow list, to which the page's AllowPopUp adds a
// site. Shared by the control and the browser bridge. Any thread.
#pragma once

#include <string>

// Puts the site on the current user's allow list. A build locked to its
// sites takes only a plain host that is itself allowed: false, and nothing
// written, for any other. The check reads the very bytes the registry gets,
// so a character that a conversion maps onto another cannot pass as an
// allowed name.
bool AllowPopUpSite(const std::string& site);
