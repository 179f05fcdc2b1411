// CPageSite: keeps the control's sites and asks them for the page's address
// the ways a browser offers it. Runs on the page's thread.
#include "control/PageSite.h"

#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

#include "base/SiteLock.h"

namespace
{
// A frame in a frame in ...: a bound on the way up, so that a browser whose
// parent never says it is the top cannot keep the call going.
const int kMaxFrameDepth = 32;

// An empty answer is a site that cannot tell its URL.
HRESULT TakeUrl(const CBstr& text, std::wstring& url)
{
    RETURN_HR_IF(E_FAIL, !text.Get() || text.Length() == 0);
    url.assign(text.Get(), text.Length());
    return S_OK;
}

HRESULT FindBrowser(IUnknown* site, CIfacePtr<IWebBrowser2>& browser)
{
    CIfacePtr<IServiceProvider> services;
    RETURN_IF_FAILED(site->QueryInterface(IID_IServiceProvider, services.PutVoid()));
    RETURN_IF_FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.PutVoid()));
    RETURN_HR_IF(E_NOINTERFACE, !browser);
    return S_OK;
}

HRESULT FindDocument(IUnknown* site, CIfacePtr<IHTMLDocument2>& document)
{
    CIfacePtr<IOleClientSite> clientSite;
    RETURN_IF_FAILED(site->QueryInterface(IID_IOleClientSite, clientSite.PutVoid()));
    CIfacePtr<IOleContainer> container;
    RETURN_IF_FAILED(clientSite->GetContainer(container.Put()));
    RETURN_HR_IF(E_NOINTERFACE, !container);
    RETURN_IF_FAILED(container->QueryInterface(IID_IHTMLDocument2, document.PutVoid()));
    RETURN_HR_IF(E_NOINTERFACE, !document);
    return S_OK;
}

HRESULT BrowserUrl(IWebBrowser2* browser, std::wstring& url)
{
    CBstr text;
    RETURN_IF_FAILED(browser->get_LocationURL(text.Put()));
    return TakeUrl(text, url);
}

HRESULT DocumentUrl(IHTMLDocument2* document, std::wstring& url)
{
    CBstr text;
    RETURN_IF_FAILED(document->get_URL(text.Put()));
    return TakeUrl(text, url);
}

// Up the browser's parents to the one that says it is the top-level container.
HRESULT TopBrowserUrl(IWebBrowser2* frame, std::wstring& url)
{
    CIfacePtr<IWebBrowser2> browser(frame);
    for (int depth = 0; depth < kMaxFrameDepth; ++depth)
    {
        VARIANT_BOOL top = VARIANT_FALSE;
        RETURN_IF_FAILED(browser->get_TopLevelContainer(&top));
        if (top != VARIANT_FALSE)
            return BrowserUrl(browser.Get(), url);
        CIfacePtr<IDispatch> parent;
        RETURN_IF_FAILED(browser->get_Parent(parent.Put()));
        RETURN_HR_IF(E_NOINTERFACE, !parent);
        CIfacePtr<IWebBrowser2> next;
        RETURN_IF_FAILED(parent->QueryInterface(IID_IWebBrowser2, next.PutVoid()));
        RETURN_HR_IF(E_NOINTERFACE, !next);
        browser = std::move(next);
    }
    return E_FAIL;
}

// The document of the document's top window. A browser denies this to a page
// whose top window is of another origin; that way then tells nothing.
HRESULT TopDocumentUrl(IHTMLDocument2* document, std::wstring& url)
{
    CIfacePtr<IHTMLWindow2> window;
    RETURN_IF_FAILED(document->get_parentWindow(window.Put()));
    RETURN_HR_IF(E_NOINTERFACE, !window);
    CIfacePtr<IHTMLWindow2> top;
    RETURN_IF_FAILED(window->get_top(top.Put()));
    RETURN_HR_IF(E_NOINTERFACE, !top);
    CIfacePtr<IHTMLDocument2> topDocument;
    RETURN_IF_FAILED(top->get_document(topDocument.Put()));
    RETURN_HR_IF(E_NOINTERFACE, !topDocument);
    return DocumentUrl(topDocument.Get(), url);
}

bool SameOrigin(const std::wstring& a, const std::wstring& b)
{
    SiteOrigin first, second;
    return CSiteLock::ParseHttpsOrigin(a, first) && CSiteLock::ParseHttpsOrigin(b, second) &&
           first.host == second.host && first.port == second.port;
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

void CPageSite::SetClientSite(IOleClientSite* site)
{
    m_clientSite = CIfacePtr<IOleClientSite>(site);
}

HRESULT CPageSite::GetClientSite(IOleClientSite** site) const
{
    if (!site)
        return E_POINTER;
    *site = m_clientSite.Get();
    if (*site)
        (*site)->AddRef();
    return S_OK;
}

HRESULT CPageSite::ReadPage(PageAddress& page) const
{
    page = PageAddress();
    // Held for the calls: the site may drop the control's reference to it meanwhile.
    CIfacePtr<IUnknown> site;
    if (m_clientSite)
        RETURN_IF_FAILED(m_clientSite->QueryInterface(IID_IUnknown, site.PutVoid()));
    else
        site = CIfacePtr<IUnknown>(m_site.Get());
    RETURN_HR_IF(E_FAIL, !site);

    CIfacePtr<IHTMLDocument2> document;
    CIfacePtr<IWebBrowser2> browser;
    std::wstring documentUrl, browserUrl;
    bool hasDocument = SUCCEEDED(FindDocument(site.Get(), document)) && SUCCEEDED(DocumentUrl(document.Get(), documentUrl));
    bool hasBrowser = SUCCEEDED(FindBrowser(site.Get(), browser)) && SUCCEEDED(BrowserUrl(browser.Get(), browserUrl));
    RETURN_HR_IF(E_FAIL, !hasDocument && !hasBrowser);
    // The browser's address may already name the next page while the old
    // document's script still runs: the document is the authority, and a
    // browser that disagrees about the origin ends the call.
    RETURN_HR_IF(E_ACCESSDENIED, hasDocument && hasBrowser && !SameOrigin(documentUrl, browserUrl));

    std::wstring top;
    if (hasBrowser && SUCCEEDED(TopBrowserUrl(browser.Get(), top)))
        page.tops.push_back(top);
    if (hasDocument && SUCCEEDED(TopDocumentUrl(document.Get(), top)))
        page.tops.push_back(top);
    RETURN_HR_IF(E_FAIL, page.tops.empty());
    page.url = hasDocument ? documentUrl : browserUrl;
    return S_OK;
}
