// The status callback of one URLDownloadToFileA call. It lives on the transfer
// thread's stack for exactly that call and is not reference counted; it hands
// progress and the HTTP status to its transfer, which reports to the dialog.
#pragma once

#include <windows.h>
#include <urlmon.h>

class CDownloadTransfer;

class CDownloadProgressCallback : public IBindStatusCallback, public IHttpNegotiate
{
public:
    explicit CDownloadProgressCallback(CDownloadTransfer* transfer) : m_pTransfer(transfer) {}
    CDownloadProgressCallback(const CDownloadProgressCallback&) = delete;
    CDownloadProgressCallback& operator=(const CDownloadProgressCallback&) = delete;

    // IUnknown: the object lives on a stack, so the counts are fixed.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD dwReserved, IBinding* pib) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG* pnPriority) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD reserved) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                            LPCWSTR szStatusText) override;
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                 STGMEDIUM* pstgmed) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override { return E_NOTIMPL; }

    // IHttpNegotiate: how the transfer learns the HTTP status, since the
    // download call itself reports success for an error page.
    STDMETHODIMP BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                      LPWSTR* pszAdditionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders, LPCWSTR szRequestHeaders,
                            LPWSTR* pszAdditionalRequestHeaders) override;

private:
    CDownloadTransfer* m_pTransfer;   // the transfer thread holds its reference
};
