// CPageSite: the site a browser hands the control (IObjectWithSite) and the
// page URL read from it on demand. Lives in the control object; runs on the
// page's thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <string>

#include "base/Shared.h"

class CPageSite
{
public:
    // IObjectWithSite: a null site drops the one held.
    void Set(IUnknown* site);
    HRESULT Get(REFIID riid, void** ppv) const;

    // The URL of the page now, read afresh (a page navigates): the browser
    // object's location, or else the document's URL from the site's container.
    HRESULT ReadUrl(std::wstring& url) const;

private:
    CIfacePtr<IUnknown> m_site;
};
