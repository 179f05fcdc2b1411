// CVedADA: COM identity, dispatch through the registered type library, the
// event connection, safety options and the 13 methods, each a thin entry to
// the transfer, install or picker subsystem. Runs on the page's thread
// (single-threaded apartment).
#include "control/VedADA.h"

#include <new>

#include "base/Folders.h"
#include "base/Module.h"
#include "base/Shared.h"
#include "base/SiteLock.h"
#include "control/DispatchCheck.h"
#include "control/Enumerator.h"
#include "install/InstallCheck.h"
#include "picker/FilePickerDlg.h"
#include "transfer/PageCalls.h"

HRESULT CVedADA::Create(IUnknown* pOuter, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // Inside an aggregate the outer object may only ask for the inner unknown.
    if (pOuter && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    CVedADA* object = new (std::nothrow) CVedADA(pOuter);
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = Guarded([&]() -> HRESULT {
        object->ComputeDirectories();
        return S_OK;
    });
    if (SUCCEEDED(hr))
        hr = object->m_inner.QueryInterface(riid, ppv);
    // A failed query frees the object here.
    object->m_inner.Release();
    return hr;
}

CVedADA::CVedADA(IUnknown* pOuter)
    : m_pOuter(pOuter ? pOuter : &m_inner),
      m_eventsPoint(static_cast<IConnectionPointContainer*>(this), m_pOuter, DIID__IVedADAEvents),
      m_oleObject(m_pOuter, m_pageSite)
{
    Module::Lock();
}

CVedADA::~CVedADA()
{
    m_eventsPoint.DisconnectAll();
    Module::Unlock();
}

void CVedADA::ComputeDirectories()
{
    m_strInstallDir = InstallFolder();   // the install check's own rule
    // Without a usable temporary folder there are no list files: the
    // hand-off declines rather than writing into the host's current folder.
    m_strTempDir = TempFolder();
    if (m_strTempDir.empty())
        return;
    m_strDownListFile = m_strTempDir + "Tavrine_Download_List";
    m_strUpListFile = m_strTempDir + "Tavrine_Upload_List";
}

// ---------------------------------------------------------------------------
// Identity

CVedADA* CVedADA::FromInner(CInnerUnknown* inner)
{
    // The inner unknown is a member; step back from it to the object.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    return reinterpret_cast<CVedADA*>(reinterpret_cast<char*>(inner) - offsetof(CVedADA, m_inner));
#pragma GCC diagnostic pop
}

STDMETHODIMP CVedADA::CInnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    CVedADA* self = FromInner(this);
    IUnknown* result = nullptr;
    if (IsEqualIID(riid, IID_IUnknown))
        result = this;
    else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IVedADA))
        result = static_cast<IVedADA*>(self);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer))
        result = static_cast<IConnectionPointContainer*>(self);
    else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
        result = static_cast<IProvideClassInfo2*>(self);
    else if (IsEqualIID(riid, IID_IObjectSafety))
        result = static_cast<IObjectSafety*>(self);
    else if (kSiteLockBuilt && IsEqualIID(riid, IID_IObjectWithSite))
        result = static_cast<IObjectWithSite*>(self);
    // A browser hands an object tag's control its site only through IOleObject.
    else if (kSiteLockBuilt && IsEqualIID(riid, IID_IOleObject))
        result = &self->m_oleObject;
    else
        return E_NOINTERFACE;
    result->AddRef();
    *ppv = result;
    return S_OK;
}

STDMETHODIMP_(ULONG) CVedADA::CInnerUnknown::AddRef()
{
    CVedADA* self = FromInner(this);
    return InterlockedIncrement(&self->m_lRef);
}

STDMETHODIMP_(ULONG) CVedADA::CInnerUnknown::Release()
{
    CVedADA* self = FromInner(this);
    ULONG n = InterlockedDecrement(&self->m_lRef);
    if (n == 0)
        delete self;
    return n;
}

STDMETHODIMP CVedADA::QueryInterface(REFIID riid, void** ppv)
{
    return m_pOuter->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CVedADA::AddRef()
{
    return m_pOuter->AddRef();
}

STDMETHODIMP_(ULONG) CVedADA::Release()
{
    return m_pOuter->Release();
}

// ---------------------------------------------------------------------------
// IConnectionPointContainer

STDMETHODIMP CVedADA::EnumConnectionPoints(IEnumConnectionPoints** ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return Guarded([&]() -> HRESULT {
        std::vector<IConnectionPoint*> points(1, &m_eventsPoint);
        return CEnumConnectionPoints::Create(points, 0, ppEnum);
    });
}

STDMETHODIMP CVedADA::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    if (!ppCP)
        return E_POINTER;
    *ppCP = nullptr;
    if (!IsEqualIID(riid, DIID__IVedADAEvents))
        return CONNECT_E_NOCONNECTION;
    *ppCP = &m_eventsPoint;
    m_eventsPoint.AddRef();
    return S_OK;
}

// ---------------------------------------------------------------------------
// IDispatch, answered from the registered type library

STDMETHODIMP CVedADA::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP CVedADA::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    return Module::GetTypeInfo(IID_IVedADA, ppTInfo);
}

STDMETHODIMP CVedADA::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    CIfacePtr<ITypeInfo> info;
    RETURN_IF_FAILED(Module::GetTypeInfo(IID_IVedADA, info.Put()));
    return info->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

STDMETHODIMP CVedADA::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    CIfacePtr<ITypeInfo> info;
    RETURN_IF_FAILED(Module::GetTypeInfo(IID_IVedADA, info.Put()));
    RETURN_IF_FAILED(CheckDispatchArguments(info.Get(), dispIdMember, wFlags, pDispParams, puArgErr));
    return info->Invoke(static_cast<IVedADA*>(this), dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                        puArgErr);
}

// ---------------------------------------------------------------------------
// IProvideClassInfo2

STDMETHODIMP CVedADA::GetClassInfo(ITypeInfo** ppTI)
{
    if (!ppTI)
        return E_POINTER;
    *ppTI = nullptr;
    return Module::GetTypeInfo(CLSID_VedADA, ppTI);
}

STDMETHODIMP CVedADA::GetGUID(DWORD dwGuidKind, GUID* pGUID)
{
    if (!pGUID)
        return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
    {
        *pGUID = GUID_NULL;
        return E_FAIL;
    }
    *pGUID = DIID__IVedADAEvents;
    return S_OK;
}

// ---------------------------------------------------------------------------
// IObjectSafety: safe for untrusted callers and data, on every interface.

STDMETHODIMP CVedADA::GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions)
{
    if (!pdwSupportedOptions || !pdwEnabledOptions)
        return E_POINTER;
    CIfacePtr<IUnknown> probe;
    HRESULT hr = QueryInterface(riid, probe.PutVoid());
    if (FAILED(hr))
    {
        *pdwSupportedOptions = 0;
        *pdwEnabledOptions = 0;
        return hr;
    }
    *pdwSupportedOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *pdwEnabledOptions = m_dwSafetyOptions;
    return hr;
}

STDMETHODIMP CVedADA::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions)
{
    CIfacePtr<IUnknown> probe;
    if (FAILED(QueryInterface(riid, probe.PutVoid())))
        return E_NOINTERFACE;
    const DWORD known = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (dwOptionSetMask & ~known)
        return E_FAIL;
    m_dwSafetyOptions = (m_dwSafetyOptions & ~dwOptionSetMask) | (dwOptionSetMask & dwEnabledOptions);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Events

void CVedADA::Fire_InstallCompleteEvent()
{
    m_eventsPoint.Fire(1, nullptr, 0);
}

void CVedADA::Fire_UpSelectComplete(BSTR strPath, BSTR strSize, BSTR strMode)
{
    BSTR args[3] = {strPath, strSize, strMode};
    m_eventsPoint.Fire(2, args, 3);
}

// ---------------------------------------------------------------------------
// IObjectWithSite, and the site lock every method checks first

STDMETHODIMP CVedADA::SetSite(IUnknown* pUnkSite)
{
    m_pageSite.Set(pUnkSite);
    return S_OK;
}

STDMETHODIMP CVedADA::GetSite(REFIID riid, void** ppvSite)
{
    return m_pageSite.Get(riid, ppvSite);
}

bool CVedADA::PageMayCall() noexcept
{
    if (!kSiteLockBuilt)
        return true;
    try
    {
        // Read for every call: the page may have navigated since the last one.
        // Both the page and the window on top of it must be served: an allowed
        // page framed by a stranger could be steered by it.
        PageAddress page;
        if (FAILED(m_pageSite.ReadPage(page)) || !CSiteLock::ForBuild().AllowsUrl(page.url))
            return false;
        for (const std::wstring& top : page.tops)
            if (!CSiteLock::ForBuild().AllowsUrl(top))
                return false;
        return true;
    }
    catch (...)
    {
        return false;
    }
}

// ---------------------------------------------------------------------------
// The 13 methods. Each is a thin entry: it reads its arguments, keeps the
// control's own state and hands the work to a subsystem.

template <typename Body>
HRESULT CVedADA::RunMethod(Body&& body)
{
    // Held before the page's URL is read: asking the site may pump messages,
    // and a page handler run meanwhile may drop the last reference.
    CIfacePtr<IUnknown> keepAlive(m_pOuter);
    // A build locked to its sites declines, before anything is done, every
    // call of a page that is not one of them.
    if (!PageMayCall())
        return S_FALSE;
    return Guarded(body);
}

namespace
{
HRESULT SetLinkResult(BSTR* pVal, bool wentAhead)
{
    *pVal = SysAllocString(wentAhead ? L"1" : L"0");
    if (!*pVal)
        return E_OUTOFMEMORY;
    return wentAhead ? S_OK : S_FALSE;
}
}

STDMETHODIMP CVedADA::CheckInstall()
{
    return RunMethod([&]() -> HRESULT {
        Fire_InstallCompleteEvent();
        return S_OK;
    });
}

STDMETHODIMP CVedADA::SelectComplete(BSTR strPath, BSTR strSize, BSTR strMode)
{
    return RunMethod([&]() -> HRESULT {
        Fire_UpSelectComplete(strPath, strSize, strMode);
        return S_OK;
    });
}

STDMETHODIMP CVedADA::AllowPopUp(BSTR strTemp)
{
    HRESULT hr = RunMethod([&]() -> HRESULT {
        // Null: the default value; text the code page cannot hold: nothing.
        return CPageCalls::AllowPopUp(BstrToNarrow(strTemp)) ? S_OK : S_FALSE;
    });
    // Nothing else is reported to the page, whatever happens.
    return hr == S_FALSE ? S_FALSE : S_OK;
}

STDMETHODIMP CVedADA::ShowUpFileDlg()
{
    // The picker reports through SelectComplete while it runs; its end code,
    // -1 included, changes nothing for the page.
    HRESULT hr = RunMethod([&]() -> HRESULT {
        CFilePickerDlg picker([this](BSTR path, BSTR size, BSTR mode) { SelectComplete(path, size, mode); });
        picker.DoModal(GetActiveWindow());
        return S_OK;
    });
    return hr == S_FALSE ? S_FALSE : S_OK;
}

// Job texts. A new batch gives back the memory of the last one, however large
// it grew; the page learns the install check's outcome, and that an item could
// not be held, at the end of the batch.

STDMETHODIMP CVedADA::UpLoadInit()
{
    return RunMethod([&]() -> HRESULT {
        CPageCalls::BeginBatch(m_upBatch);
        EnsureInstalled();
        return S_OK;
    });
}

STDMETHODIMP CVedADA::UpLoadInfo(BSTR strIdx)
{
    // On failure the job text is as it was before the call.
    return RunMethod([&]() -> HRESULT {
        CPageCalls::AddUploadItem(m_upBatch, BstrToNarrow(strIdx));
        return S_OK;
    });
}

STDMETHODIMP CVedADA::DownLoadInit()
{
    return RunMethod([&]() -> HRESULT {
        CPageCalls::BeginBatch(m_downBatch);
        EnsureInstalled();
        return S_OK;
    });
}

STDMETHODIMP CVedADA::DownLoadSpInit()
{
    return RunMethod([&]() -> HRESULT {
        CPageCalls::BeginBatch(m_downBatch);
        EnsureSpInstalled();
        return S_OK;
    });
}

STDMETHODIMP CVedADA::DownLoadInfo(BSTR strIdx, BSTR strPath)
{
    return RunMethod([&]() -> HRESULT {
        // The path goes to the companion in the system code page, the
        // identifier in the thread's, as the companion programs expect.
        NarrowText path = BstrToNarrow(strPath, CP_ACP);
        NarrowText idx = BstrToNarrow(strIdx);
        CPageCalls::AddDownloadPair(m_downBatch, idx, path);
        return S_OK;
    });
}

// End of a batch, and the launchers: the decisions are the transfer
// subsystem's (shared with the browser bridge); the control converts the
// page's text and maps the answer to S_OK/S_FALSE.

STDMETHODIMP CVedADA::UpLoadEnd(BSTR strUserID, BSTR strUserPW)
{
    return RunMethod([&]() -> HRESULT {
        CIfacePtr<IUnknown> identity = Identity();
        PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, identity.Get()};
        return CPageCalls::EndUpload(BstrToNarrow(strUserID), BstrToNarrow(strUserPW), m_upBatch, places,
                                     EnsureInstalled) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CVedADA::DownLoadEnd(BSTR strUserID, BSTR strUserPW, BSTR strMode)
{
    return RunMethod([&]() -> HRESULT {
        CIfacePtr<IUnknown> identity = Identity();
        PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, identity.Get()};
        NarrowText userID = BstrToNarrow(strUserID);
        NarrowText userPW = BstrToNarrow(strUserPW);
        return CPageCalls::EndDownload(userID, userPW, BstrToNarrow(strMode), m_downBatch, places,
                                       EnsureInstalled) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CVedADA::LauncherExplorer(BSTR strUserID, BSTR strUserPW)
{
    return RunMethod([&]() -> HRESULT {
        PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, nullptr};
        return CPageCalls::LaunchExplorer(BstrToNarrow(strUserID), BstrToNarrow(strUserPW), places,
                                          EnsureInstalled) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CVedADA::LauncherWebLink(BSTR strUserID, BSTR strUserPW, BSTR strWebLink, BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    HRESULT hr = RunMethod([&]() -> HRESULT {
        NarrowText userID = BstrToNarrow(strUserID);
        NarrowText userPW = BstrToNarrow(strUserPW);
        NarrowText webLink = BstrToNarrow(strWebLink);
        CIfacePtr<IUnknown> identity = Identity();
        PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, identity.Get()};
        return SetLinkResult(pVal, CPageCalls::PassWebLink(userID, userPW, webLink, m_strWebLink, places,
                                                           EnsureInstalled));
    });
    // A call declined before its body ran still answers "0", a string the page can read.
    if (hr == S_FALSE && !*pVal)
        return SetLinkResult(pVal, false);
    return hr;
}

CIfacePtr<IUnknown> CVedADA::Identity()
{
    // Only the identity's address travels, with a record sent by message.
    CIfacePtr<IUnknown> identity;
    QueryInterface(IID_IUnknown, identity.PutVoid());
    return identity;
}
