// A site offered to a control the way a browser offers one: its service
// provider hands out the browser object (SID_SWebBrowserApp, IWebBrowser2 with
// get_LocationURL, get_TopLevelContainer and get_Parent) and its container is
// the document (IHTMLDocument2 with get_URL, whose window's get_top leads to the
// top window's document). The page may sit in a frame of another top window, and
// the browser's address may differ from the document's (a navigation under way).
// Shared by the page host and by the tests that drive a control locked to its
// sites. The URLs are referenced, not copied: a navigation is a new value in the
// owner's strings. Runs on the thread of the control it is given to.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>
#include <functional>
#include <string>

#include "base/Shared.h"

// ---------------------------------------------------------------------------
// Small COM object base: a reference count. Objects start with one reference,
// which their creator takes over with CIfacePtr::Attach; the control may hold
// the sink longer than the page does, so nothing lives on the stack.

template <typename Base>
class CRefObject : public Base
{
public:
    virtual ~CRefObject() = default;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_lRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = InterlockedDecrement(&m_lRef);
        if (n == 0)
            delete this;
        return n;
    }

protected:
    LONG m_lRef = 1;
};

// ---------------------------------------------------------------------------
// The control's site, as a browser offers it. Only what a control may ask for
// to learn the page's URL is answered; the rest of these large interfaces
// answers E_NOTIMPL.

#define STUB(name, params) \
    STDMETHODIMP name params override { return E_NOTIMPL; }

// IDispatch of an object that script never reaches through this host.
#define NO_DISPATCH                                                                       \
    STDMETHODIMP GetTypeInfoCount(UINT* count) override                                  \
    {                                                                                    \
        if (!count)                                                                      \
            return E_POINTER;                                                            \
        *count = 0;                                                                      \
        return S_OK;                                                                     \
    }                                                                                    \
    STUB(GetTypeInfo, (UINT, LCID, ITypeInfo**))                                         \
    STUB(GetIDsOfNames, (REFIID, LPOLESTR*, UINT, LCID, DISPID*))                        \
    STUB(Invoke, (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))

enum class SiteVia { Both, Browser, Document, None };

// What the page's browser shows; read at every call, since a page navigates.
struct CPageUrls
{
    std::wstring document;   // the document that holds the control
    std::wstring browser;    // the address of the browser object (the frame's)
    std::wstring top;        // the top window's address; empty: the page is on top
    // Runs while the control reads the document's URL, as a page handler may run
    // while a browser pumps messages for the call (tests only).
    std::function<void()> whileReading;
};

// "scheme://authority" in lower case, as far as the host needs it to tell
// whether script of one page may reach the other's document.
inline std::wstring OriginOf(const std::wstring& url)
{
    size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos)
        return url;
    size_t end = url.find_first_of(L"/?#", scheme + 3);
    std::wstring origin = url.substr(0, end);
    for (wchar_t& c : origin)
        c = static_cast<wchar_t>(towlower(c));
    return origin;
}

inline HRESULT ReturnUrl(const std::wstring& url, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The browser object a site hands out for SID_SWebBrowserApp: the frame's, or,
// through get_Parent, the top window's.
class CBrowser : public CRefObject<IWebBrowser2>
{
public:
    CBrowser(const CPageUrls& urls, bool top) : m_urls(urls), m_top(top) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IWebBrowser) &&
            !IsEqualIID(riid, IID_IWebBrowserApp) && !IsEqualIID(riid, IID_IWebBrowser2))
            return E_NOINTERFACE;
        *ppv = static_cast<IWebBrowser2*>(this);
        AddRef();
        return S_OK;
    }
    NO_DISPATCH
    STDMETHODIMP get_LocationURL(BSTR* url) override { return ReturnUrl(m_top ? m_urls.top : m_urls.browser, url); }
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL* top) override
    {
        if (!top)
            return E_POINTER;
        *top = m_top || m_urls.top.empty() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP get_Parent(IDispatch** parent) override
    {
        if (!parent)
            return E_POINTER;
        *parent = nullptr;
        // A top-level browser is its own parent.
        CIfacePtr<IWebBrowser2> browser;
        browser.Attach(new CBrowser(m_urls, m_top || !m_urls.top.empty()));
        return browser->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    STUB(GoBack, ())
    STUB(GoForward, ())
    STUB(GoHome, ())
    STUB(GoSearch, ())
    STUB(Navigate, (BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*))
    STUB(Refresh, ())
    STUB(Refresh2, (VARIANT*))
    STUB(Stop, ())
    STUB(get_Application, (IDispatch**))
    STUB(get_Container, (IDispatch**))
    STUB(get_Document, (IDispatch**))
    STUB(get_Type, (BSTR*))
    STUB(get_Left, (LONG*))
    STUB(put_Left, (LONG))
    STUB(get_Top, (LONG*))
    STUB(put_Top, (LONG))
    STUB(get_Width, (LONG*))
    STUB(put_Width, (LONG))
    STUB(get_Height, (LONG*))
    STUB(put_Height, (LONG))
    STUB(get_LocationName, (BSTR*))
    STUB(get_Busy, (VARIANT_BOOL*))
    STUB(Quit, ())
    STUB(ClientToWindow, (int*, int*))
    STUB(PutProperty, (BSTR, VARIANT))
    STUB(GetProperty, (BSTR, VARIANT*))
    STUB(get_Name, (BSTR*))
    STUB(get_HWND, (SHANDLE_PTR*))
    STUB(get_FullName, (BSTR*))
    STUB(get_Path, (BSTR*))
    STUB(get_Visible, (VARIANT_BOOL*))
    STUB(put_Visible, (VARIANT_BOOL))
    STUB(get_StatusBar, (VARIANT_BOOL*))
    STUB(put_StatusBar, (VARIANT_BOOL))
    STUB(get_StatusText, (BSTR*))
    STUB(put_StatusText, (BSTR))
    STUB(get_ToolBar, (int*))
    STUB(put_ToolBar, (int))
    STUB(get_MenuBar, (VARIANT_BOOL*))
    STUB(put_MenuBar, (VARIANT_BOOL))
    STUB(get_FullScreen, (VARIANT_BOOL*))
    STUB(put_FullScreen, (VARIANT_BOOL))
    STUB(Navigate2, (VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*))
    STUB(QueryStatusWB, (OLECMDID, OLECMDF*))
    STUB(ExecWB, (OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*))
    STUB(ShowBrowserBar, (VARIANT*, VARIANT*, VARIANT*))
    STUB(get_ReadyState, (READYSTATE*))
    STUB(get_Offline, (VARIANT_BOOL*))
    STUB(put_Offline, (VARIANT_BOOL))
    STUB(get_Silent, (VARIANT_BOOL*))
    STUB(put_Silent, (VARIANT_BOOL))
    STUB(get_RegisterAsBrowser, (VARIANT_BOOL*))
    STUB(put_RegisterAsBrowser, (VARIANT_BOOL))
    STUB(get_RegisterAsDropTarget, (VARIANT_BOOL*))
    STUB(put_RegisterAsDropTarget, (VARIANT_BOOL))
    STUB(get_TheaterMode, (VARIANT_BOOL*))
    STUB(put_TheaterMode, (VARIANT_BOOL))
    STUB(get_AddressBar, (VARIANT_BOOL*))
    STUB(put_AddressBar, (VARIANT_BOOL))
    STUB(get_Resizable, (VARIANT_BOOL*))
    STUB(put_Resizable, (VARIANT_BOOL))
private:
    const CPageUrls& m_urls;
    bool m_top;
};

// The page's document, which is also the container of the control's site; or,
// reached through the window's top, the top window's document.
class CDocument : public CRefObject<IHTMLDocument2>, public IOleContainer
{
public:
    CDocument(const CPageUrls& urls, bool top) : m_urls(urls), m_top(top) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IHTMLDocument) ||
            IsEqualIID(riid, IID_IHTMLDocument2))
            *ppv = static_cast<IHTMLDocument2*>(this);
        else if (IsEqualIID(riid, IID_IParseDisplayName) || IsEqualIID(riid, IID_IOleContainer))
            *ppv = static_cast<IOleContainer*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CRefObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CRefObject::Release(); }
    NO_DISPATCH
    STDMETHODIMP get_URL(BSTR* url) override
    {
        if (!m_top && m_urls.whileReading)
            m_urls.whileReading();
        return ReturnUrl(m_top ? m_urls.top : m_urls.document, url);
    }
    STDMETHODIMP get_parentWindow(IHTMLWindow2** window) override;
    // IOleContainer
    STUB(ParseDisplayName, (IBindCtx*, LPOLESTR, ULONG*, IMoniker**))
    STUB(EnumObjects, (DWORD, IEnumUnknown**))
    STUB(LockContainer, (BOOL))
    STUB(get_Script, (IDispatch**))
    STUB(get_all, (IHTMLElementCollection**))
    STUB(get_body, (IHTMLElement**))
    STUB(get_activeElement, (IHTMLElement**))
    STUB(get_images, (IHTMLElementCollection**))
    STUB(get_applets, (IHTMLElementCollection**))
    STUB(get_links, (IHTMLElementCollection**))
    STUB(get_forms, (IHTMLElementCollection**))
    STUB(get_anchors, (IHTMLElementCollection**))
    STUB(put_title, (BSTR))
    STUB(get_title, (BSTR*))
    STUB(get_scripts, (IHTMLElementCollection**))
    STUB(put_designMode, (BSTR))
    STUB(get_designMode, (BSTR*))
    STUB(get_selection, (IHTMLSelectionObject**))
    STUB(get_readyState, (BSTR*))
    STUB(get_frames, (IHTMLFramesCollection2**))
    STUB(get_embeds, (IHTMLElementCollection**))
    STUB(get_plugins, (IHTMLElementCollection**))
    STUB(put_alinkColor, (VARIANT))
    STUB(get_alinkColor, (VARIANT*))
    STUB(put_bgColor, (VARIANT))
    STUB(get_bgColor, (VARIANT*))
    STUB(put_fgColor, (VARIANT))
    STUB(get_fgColor, (VARIANT*))
    STUB(put_linkColor, (VARIANT))
    STUB(get_linkColor, (VARIANT*))
    STUB(put_vlinkColor, (VARIANT))
    STUB(get_vlinkColor, (VARIANT*))
    STUB(get_referrer, (BSTR*))
    STUB(get_location, (IHTMLLocation**))
    STUB(get_lastModified, (BSTR*))
    STUB(put_URL, (BSTR))
    STUB(put_domain, (BSTR))
    STUB(get_domain, (BSTR*))
    STUB(put_cookie, (BSTR))
    STUB(get_cookie, (BSTR*))
    STUB(put_expando, (VARIANT_BOOL))
    STUB(get_expando, (VARIANT_BOOL*))
    STUB(put_charset, (BSTR))
    STUB(get_charset, (BSTR*))
    STUB(put_defaultCharset, (BSTR))
    STUB(get_defaultCharset, (BSTR*))
    STUB(get_mimeType, (BSTR*))
    STUB(get_fileSize, (BSTR*))
    STUB(get_fileCreatedDate, (BSTR*))
    STUB(get_fileModifiedDate, (BSTR*))
    STUB(get_fileUpdatedDate, (BSTR*))
    STUB(get_security, (BSTR*))
    STUB(get_protocol, (BSTR*))
    STUB(get_nameProp, (BSTR*))
    STUB(write, (SAFEARRAY*))
    STUB(writeln, (SAFEARRAY*))
    STUB(open, (BSTR, VARIANT, VARIANT, VARIANT, IDispatch**))
    STUB(close, ())
    STUB(clear, ())
    STUB(queryCommandSupported, (BSTR, VARIANT_BOOL*))
    STUB(queryCommandEnabled, (BSTR, VARIANT_BOOL*))
    STUB(queryCommandState, (BSTR, VARIANT_BOOL*))
    STUB(queryCommandIndeterm, (BSTR, VARIANT_BOOL*))
    STUB(queryCommandText, (BSTR, BSTR*))
    STUB(queryCommandValue, (BSTR, VARIANT*))
    STUB(execCommand, (BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*))
    STUB(execCommandShowHelp, (BSTR, VARIANT_BOOL*))
    STUB(createElement, (BSTR, IHTMLElement**))
    STUB(put_onhelp, (VARIANT))
    STUB(get_onhelp, (VARIANT*))
    STUB(put_onclick, (VARIANT))
    STUB(get_onclick, (VARIANT*))
    STUB(put_ondblclick, (VARIANT))
    STUB(get_ondblclick, (VARIANT*))
    STUB(put_onkeyup, (VARIANT))
    STUB(get_onkeyup, (VARIANT*))
    STUB(put_onkeydown, (VARIANT))
    STUB(get_onkeydown, (VARIANT*))
    STUB(put_onkeypress, (VARIANT))
    STUB(get_onkeypress, (VARIANT*))
    STUB(put_onmouseup, (VARIANT))
    STUB(get_onmouseup, (VARIANT*))
    STUB(put_onmousedown, (VARIANT))
    STUB(get_onmousedown, (VARIANT*))
    STUB(put_onmousemove, (VARIANT))
    STUB(get_onmousemove, (VARIANT*))
    STUB(put_onmouseout, (VARIANT))
    STUB(get_onmouseout, (VARIANT*))
    STUB(put_onmouseover, (VARIANT))
    STUB(get_onmouseover, (VARIANT*))
    STUB(put_onreadystatechange, (VARIANT))
    STUB(get_onreadystatechange, (VARIANT*))
    STUB(put_onafterupdate, (VARIANT))
    STUB(get_onafterupdate, (VARIANT*))
    STUB(put_onrowexit, (VARIANT))
    STUB(get_onrowexit, (VARIANT*))
    STUB(put_onrowenter, (VARIANT))
    STUB(get_onrowenter, (VARIANT*))
    STUB(put_ondragstart, (VARIANT))
    STUB(get_ondragstart, (VARIANT*))
    STUB(put_onselectstart, (VARIANT))
    STUB(get_onselectstart, (VARIANT*))
    STUB(elementFromPoint, (LONG, LONG, IHTMLElement**))
    STUB(get_styleSheets, (IHTMLStyleSheetsCollection**))
    STUB(put_onbeforeupdate, (VARIANT))
    STUB(get_onbeforeupdate, (VARIANT*))
    STUB(put_onerrorupdate, (VARIANT))
    STUB(get_onerrorupdate, (VARIANT*))
    STUB(toString, (BSTR*))
    STUB(createStyleSheet, (BSTR, LONG, IHTMLStyleSheet**))
private:
    const CPageUrls& m_urls;
    bool m_top;
};

// The window of a document: its top window, and the document of either. Script
// of one origin may not reach the document of another, so a foreign top window
// refuses its document (access denied), as a browser's does.
class CWindow : public CRefObject<IHTMLWindow2>
{
public:
    CWindow(const CPageUrls& urls, bool top) : m_urls(urls), m_top(top) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, IID_IHTMLFramesCollection2) && !IsEqualIID(riid, IID_IHTMLWindow2))
            return E_NOINTERFACE;
        *ppv = static_cast<IHTMLWindow2*>(this);
        AddRef();
        return S_OK;
    }
    NO_DISPATCH
    STDMETHODIMP get_top(IHTMLWindow2** top) override
    {
        if (!top)
            return E_POINTER;
        *top = new CWindow(m_urls, m_top || !m_urls.top.empty());
        return S_OK;
    }
    STDMETHODIMP get_document(IHTMLDocument2** document) override
    {
        if (!document)
            return E_POINTER;
        *document = nullptr;
        if (m_top && OriginOf(m_urls.top) != OriginOf(m_urls.document))
            return E_ACCESSDENIED;
        *document = new CDocument(m_urls, m_top);
        return S_OK;
    }
    STUB(item, (VARIANT*, VARIANT*))
    STUB(get_length, (LONG*))
    STUB(get_frames, (IHTMLFramesCollection2**))
    STUB(put_defaultStatus, (BSTR))
    STUB(get_defaultStatus, (BSTR*))
    STUB(put_status, (BSTR))
    STUB(get_status, (BSTR*))
    STUB(setTimeout, (BSTR, LONG, VARIANT*, LONG*))
    STUB(clearTimeout, (LONG))
    STUB(alert, (BSTR))
    STUB(confirm, (BSTR, VARIANT_BOOL*))
    STUB(prompt, (BSTR, BSTR, VARIANT*))
    STUB(get_Image, (IHTMLImageElementFactory**))
    STUB(get_location, (IHTMLLocation**))
    STUB(get_history, (IOmHistory**))
    STUB(close, ())
    STUB(put_opener, (VARIANT))
    STUB(get_opener, (VARIANT*))
    STUB(get_navigator, (IOmNavigator**))
    STUB(put_name, (BSTR))
    STUB(get_name, (BSTR*))
    STUB(get_parent, (IHTMLWindow2**))
    STUB(open, (BSTR, BSTR, BSTR, VARIANT_BOOL, IHTMLWindow2**))
    STUB(get_self, (IHTMLWindow2**))
    STUB(get_window, (IHTMLWindow2**))
    STUB(navigate, (BSTR))
    STUB(put_onfocus, (VARIANT))
    STUB(get_onfocus, (VARIANT*))
    STUB(put_onblur, (VARIANT))
    STUB(get_onblur, (VARIANT*))
    STUB(put_onload, (VARIANT))
    STUB(get_onload, (VARIANT*))
    STUB(put_onbeforeunload, (VARIANT))
    STUB(get_onbeforeunload, (VARIANT*))
    STUB(put_onunload, (VARIANT))
    STUB(get_onunload, (VARIANT*))
    STUB(put_onhelp, (VARIANT))
    STUB(get_onhelp, (VARIANT*))
    STUB(put_onerror, (VARIANT))
    STUB(get_onerror, (VARIANT*))
    STUB(put_onresize, (VARIANT))
    STUB(get_onresize, (VARIANT*))
    STUB(put_onscroll, (VARIANT))
    STUB(get_onscroll, (VARIANT*))
    STUB(get_event, (IHTMLEventObj**))
    STUB(get__newEnum, (IUnknown**))
    STUB(showModalDialog, (BSTR, VARIANT*, VARIANT*, VARIANT*))
    STUB(showHelp, (BSTR, VARIANT, BSTR))
    STUB(get_screen, (IHTMLScreen**))
    STUB(get_Option, (IHTMLOptionElementFactory**))
    STUB(focus, ())
    STUB(get_closed, (VARIANT_BOOL*))
    STUB(blur, ())
    STUB(scroll, (LONG, LONG))
    STUB(get_clientInformation, (IOmNavigator**))
    STUB(setInterval, (BSTR, LONG, VARIANT*, LONG*))
    STUB(clearInterval, (LONG))
    STUB(put_offscreenBuffering, (VARIANT))
    STUB(get_offscreenBuffering, (VARIANT*))
    STUB(execScript, (BSTR, BSTR, VARIANT*))
    STUB(toString, (BSTR*))
    STUB(scrollBy, (LONG, LONG))
    STUB(scrollTo, (LONG, LONG))
    STUB(moveTo, (LONG, LONG))
    STUB(moveBy, (LONG, LONG))
    STUB(resizeTo, (LONG, LONG))
    STUB(resizeBy, (LONG, LONG))
    STUB(get_external, (IDispatch**))

private:
    const CPageUrls& m_urls;
    bool m_top;
};

inline STDMETHODIMP CDocument::get_parentWindow(IHTMLWindow2** window)
{
    if (!window)
        return E_POINTER;
    *window = new CWindow(m_urls, m_top);
    return S_OK;
}

class CClientSite : public CRefObject<IOleClientSite>, public IServiceProvider
{
public:
    CClientSite(const CPageUrls& urls, SiteVia via) : m_urls(urls), m_via(via) {}
    // A page on top whose address never changes.
    CClientSite(const std::wstring& url, SiteVia via) : m_fixed{url, url, L"", nullptr}, m_urls(m_fixed), m_via(via) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IServiceProvider))
            *ppv = static_cast<IServiceProvider*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CRefObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CRefObject::Release(); }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualGUID(service, SID_SWebBrowserApp) || (m_via != SiteVia::Both && m_via != SiteVia::Browser))
            return E_NOINTERFACE;
        CIfacePtr<IWebBrowser2> browser;
        browser.Attach(new CBrowser(m_urls, false));
        return browser->QueryInterface(riid, ppv);
    }

    // IOleClientSite
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        if (!container)
            return E_POINTER;
        *container = nullptr;
        if (m_via != SiteVia::Both && m_via != SiteVia::Document)
            return E_NOINTERFACE;
        CIfacePtr<IHTMLDocument2> document;
        document.Attach(new CDocument(m_urls, false));
        return document->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
    }
    STUB(SaveObject, ())
    STUB(GetMoniker, (DWORD, DWORD, IMoniker**))
    STUB(ShowObject, ())
    STUB(OnShowWindow, (BOOL))
    STUB(RequestNewObjectLayout, ())

private:
    CPageUrls m_fixed;   // the addresses of a site that owns them (declared first: m_urls may name it)
    const CPageUrls& m_urls;
    SiteVia m_via;
};

#undef NO_DISPATCH
#undef STUB
