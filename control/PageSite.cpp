// CPageSite: keeps the control's site and asks it for the page's URL the way
// a browser offers it. Runs on the page's thread.
#include "control/PageSite.h"

#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

namespace
{
HRESULT TakeUrl(BSTR text, std::wstring& url)
{
    CBstr owned;
    owned.Reset(text);
    RETURN_HR_IF(E_FAIL, !owned.Get() || owned.Length() == 0);
    url.assign(owned.Get(), owned.Length());
    return S_OK;
}

HRESULT ReadBrowserUrl(IUnknown* site, std::wstring& url)
{
    CIfacePtr<IServiceProvider> services;
    RETURN_IF_FAILED(site->QueryInterface(IID_IServiceProvider, services.PutVoid()));
    CIfacePtr<IWebBrowser2> browser;
    RETURN_IF_FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.PutVoid()));
    RETURN_HR_IF(E_NOINTERFACE, !browser);
    BSTR text = nullptr;
    HRESULT hr = browser->get_LocationURL(&text);
    if (FAILED(hr))
    {
        SysFreeString(text);
        return hr;
    }
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
    BSTR text = nullptr;
    HRESULT hr = document->get_URL(&text);
    if (FAILED(hr))
    {
        SysFreeString(text);
        return hr;
    }
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
