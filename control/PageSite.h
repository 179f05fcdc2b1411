// CPageSite: the sites a browser hands the control (an object tag's client
// site through IOleObject, a script engine's through IObjectWithSite) and what
// they tell of the page, read on demand. Lives in the control object; runs on
// the page's thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <string>
#include <vector>

#include "base/Shared.h"

// The page as its site tells it at one moment.
struct PageAddress
{
    std::wstring url;                 // the document that holds the control
    std::vector<std::wstring> tops;   // the top-level window's address, as each way told it
};

class CPageSite
{
public:
    // IObjectWithSite: a null site drops the one held.
    void Set(IUnknown* site);
    HRESULT Get(REFIID riid, void** ppv) const;

    // IOleObject: the client site of an object tag; a null site drops it.
    void SetClientSite(IOleClientSite* site);
    HRESULT GetClientSite(IOleClientSite** site) const;

    // The page now, read afresh (a page navigates), from the client site when
    // there is one, else from the other site. The document's URL is the page's;
    // where the browser object is reachable too, its address must have the same
    // origin. The top-level window's address comes from the browser's way up,
    // from the window's top, or both. Fails when the site cannot tell the page,
    // when the two ways disagree, or when no top-level address can be read.
    HRESULT ReadPage(PageAddress& page) const;

private:
    CIfacePtr<IUnknown> m_site;
    CIfacePtr<IOleClientSite> m_clientSite;
};
