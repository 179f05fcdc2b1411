// COleObject: an object tag's view of a control without a user interface.
// Everything but the client site answers what the interface's contract gives
// an object with no verbs, no extent and nothing to save. Page's thread.
#include "control/OleObject.h"

#include "TavrineControl.h"

STDMETHODIMP COleObject::SetClientSite(IOleClientSite* pClientSite)
{
    m_site.SetClientSite(pClientSite);
    return S_OK;
}

STDMETHODIMP COleObject::GetClientSite(IOleClientSite** ppClientSite)
{
    return m_site.GetClientSite(ppClientSite);
}

STDMETHODIMP COleObject::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;   // no window that would show them
}

STDMETHODIMP COleObject::Close(DWORD)
{
    return S_OK;   // nothing to save, nothing shown
}

STDMETHODIMP COleObject::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}

STDMETHODIMP COleObject::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (!ppmk)
        return E_POINTER;
    *ppmk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleObject::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP COleObject::GetClipboardData(DWORD, IDataObject** ppDataObject)
{
    if (!ppDataObject)
        return E_POINTER;
    *ppDataObject = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleObject::DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT)
{
    return OLEOBJ_E_NOVERBS;
}

STDMETHODIMP COleObject::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb)
{
    if (!ppEnumOleVerb)
        return E_POINTER;
    *ppEnumOleVerb = nullptr;
    return OLEOBJ_E_NOVERBS;
}

STDMETHODIMP COleObject::Update()
{
    return S_OK;   // nothing of it depends on a source
}

STDMETHODIMP COleObject::IsUpToDate()
{
    return S_OK;
}

STDMETHODIMP COleObject::GetUserClassID(CLSID* pClsid)
{
    if (!pClsid)
        return E_POINTER;
    *pClsid = CLSID_VedADA;
    return S_OK;
}

STDMETHODIMP COleObject::GetUserType(DWORD, LPOLESTR* pszUserType)
{
    if (!pszUserType)
        return E_POINTER;
    *pszUserType = nullptr;
    return OLE_S_USEREG;   // the class's registered name says it
}

STDMETHODIMP COleObject::SetExtent(DWORD, SIZEL*)
{
    return E_FAIL;   // a fixed size: it has none to change
}

STDMETHODIMP COleObject::GetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (!psizel)
        return E_POINTER;
    psizel->cx = psizel->cy = 0;
    // Invisible at run time: the content takes no room; other aspects it does not draw.
    return dwDrawAspect == DVASPECT_CONTENT ? S_OK : E_INVALIDARG;
}

STDMETHODIMP COleObject::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection)
{
    if (!pdwConnection)
        return E_POINTER;
    *pdwConnection = 0;
    if (!pAdvSink)
        return E_INVALIDARG;
    if (!m_adviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(m_adviseHolder.Put()));
    return m_adviseHolder->Advise(pAdvSink, pdwConnection);
}

STDMETHODIMP COleObject::Unadvise(DWORD dwConnection)
{
    if (!m_adviseHolder)
        return OLE_E_NOCONNECTION;
    return m_adviseHolder->Unadvise(dwConnection);
}

STDMETHODIMP COleObject::EnumAdvise(IEnumSTATDATA** ppenumAdvise)
{
    if (!ppenumAdvise)
        return E_POINTER;
    *ppenumAdvise = nullptr;
    if (!m_adviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(m_adviseHolder.Put()));
    return m_adviseHolder->EnumAdvise(ppenumAdvise);
}

STDMETHODIMP COleObject::GetMiscStatus(DWORD, DWORD* pdwStatus)
{
    if (!pdwStatus)
        return E_POINTER;
    *pdwStatus = kMiscStatus;
    return S_OK;
}

STDMETHODIMP COleObject::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;   // nothing drawn
}
