// CDownloadProgressCallback: called by the URL moniker on the transfer thread,
// inside URLDownloadToFileA.
#include "install/DownloadProgressCallback.h"

#include "install/DownloadTransfer.h"

STDMETHODIMP CDownloadProgressCallback::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback))
        *ppv = static_cast<IBindStatusCallback*>(this);
    else if (IsEqualIID(riid, IID_IHttpNegotiate))
        *ppv = static_cast<IHttpNegotiate*>(this);
    else
        return E_NOINTERFACE;
    return S_OK;
}

STDMETHODIMP CDownloadProgressCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                                   LPCWSTR szStatusText)
{
    try
    {
        // Where the body is kept besides the destination: the URL cache
        // entries are removed once the call has returned.
        if ((ulStatusCode == BINDSTATUS_REDIRECTING || ulStatusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE) &&
            szStatusText)
            m_pTransfer->NoteCacheLocation(ulStatusCode == BINDSTATUS_REDIRECTING, szStatusText);
        // Nobody waits for an abandoned transfer any more: let it stop.
        return m_pTransfer->NoteProgress(ulProgress, ulProgressMax) ? S_OK : E_ABORT;
    }
    catch (...)
    {
        return S_OK;
    }
}

STDMETHODIMP CDownloadProgressCallback::BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                                             LPWSTR* pszAdditionalHeaders)
{
    if (pszAdditionalHeaders)
        *pszAdditionalHeaders = nullptr;
    return S_OK;
}

STDMETHODIMP CDownloadProgressCallback::OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                                                   LPCWSTR szRequestHeaders, LPWSTR* pszAdditionalRequestHeaders)
{
    if (pszAdditionalRequestHeaders)
        *pszAdditionalRequestHeaders = nullptr;
    try
    {
        m_pTransfer->NoteResponse(dwResponseCode);
    }
    catch (...)
    {
    }
    return S_OK;
}
