// CPageSite: keeps the control's site and asks it for the page's URL the way
// a browser offers it. Runs on the page's thread.
#include "control/PageSite.h"

#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

namespace
{
// An empty answer is a site that cannot tell its URL.
HRESULT TakeUrl(const CBstr& text, std::wstring& url)
{
    RETURN_HR_IF(E_FAIL, !text.Get() || text.Length() == 0);
    url.assign(text.Get(), text.Length());
    return S_OK;
}

HRESULT ReadBrowserUrl(IUnknown* site, std::wstring& url)
{
    CIfacePtr<IServiceProvider> services;
    RETURN_IF_FAILED(site->QueryInterface(IID_IServiceProvider, services.PutVoid()));
    CIfacePtr<IWebBrowser2> browser;
    RETURN_IF_FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.PutVoid()));
    RETURN_HR_IF(E_NOINTERFACE, !browser);
    CBstr text;
    RETURN_IF_FAILED(browser->get_LocationURL(text.Put()));
    return TakeUrl(text, url);
}

HRESULT ReadDocumentUrl(IUnknown* site, std::wstring& url)
{
    CIfacePtr<IOleClientSite> clientSite;
    RETURN_IF_FAILED(site->QueryInterface(IID_IOleClientSite, clientSite.PutVoid()));
    CIfacePtr<IOleContainer> container;
    RETURN_IF_FAILED(clientSite->GetContainer(container.Put()));
    RETURN_HR_IF(E_NOINTERFACE, !container);
    CIfacePtr<IHTMLDocument2> document;
    RETURN_IF_FAILED(container->QueryInterface(IID_IHTMLDocument2, document.PutVoid()));
    CBstr text;
    RETURN_IF_FAILED(document->get_URL(text.Put()));
    return TakeUrl(text, url);
}
}

void CPageSite::Set(IUnknown* site)
{
    m_site = CIfacePtr<IUnknown>(site);
}

HRESULT CPageSite::Get(REFIID riid, void** ppv) const
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    RETURN_HR_IF(E_FAIL, !m_site);
    return m_site->QueryInterface(riid, ppv);
}

HRESULT CPageSite::ReadUrl(std::wstring& url) const
{
    url.clear();
    RETURN_HR_IF(E_FAIL, !m_site);
    // Held for the calls: the site may drop the control's reference to it meanwhile.
    CIfacePtr<IUnknown> site(m_site.Get());
    if (SUCCEEDED(ReadBrowserUrl(site.Get(), url)))
        return S_OK;
    return ReadDocumentUrl(site.Get(), url);
}
