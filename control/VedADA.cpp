// CVedADA: COM identity, dispatch through the registered type library, the
// event connection, safety options and the methods that belong to the
// control itself. Runs on the page's thread (single-threaded apartment).
#include "control/VedADA.h"

#include <shlobj.h>
#include <new>

#include "control/Enumerator.h"
#include "control/Module.h"
#include "control/RegistryHelper.h"
#include "control/Shared.h"
#include "install/InstallLogic.h"
#include "picker/FilePickerDlg.h"

namespace
{
// Runs a method body so that no exception leaves a COM method.
template <typename Body>
HRESULT Guarded(Body body)
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
}

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
      m_eventsPoint(static_cast<IConnectionPointContainer*>(this), m_pOuter, DIID__IVedADAEvents)
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
    char folder[MAX_PATH] = {};
    // The answer is not checked: an empty buffer falls back to the usual folder.
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    m_strInstallDir = InstallDirFromProgramFiles(folder);   // the install check's own rule

    // Without a usable temporary folder there are no list files: the
    // hand-off declines rather than writing into the host's current folder.
    m_strTempDir = UsableTempDir();
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

namespace
{
// Checked before the platform's dispatcher runs: some hosts' dispatchers accept
// surplus arguments and drop them, and leak the arguments they had already
// converted when the call then fails (a later argument that cannot be
// converted, too few arguments, a named argument that names no parameter).
// Such calls are refused here with the codes the dispatcher itself gives.
HRESULT CheckArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params, UINT* puArgErr)
{
    if (!params)
        return S_OK;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    TYPEATTR* attr = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attr));
    WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i)
    {
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func)))
            continue;
        if (func->memid != id)
        {
            info->ReleaseFuncDesc(func);
            continue;
        }
        HRESULT hr = S_OK;
        UINT inputs = 0;
        for (SHORT p = 0; p < func->cParams; ++p)
            if (!(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                ++inputs;
        // Every member is a method, and every parameter is required.
        if (!(flags & DISPATCH_METHOD))
            hr = DISP_E_MEMBERNOTFOUND;
        else if (params->cArgs != inputs)
            hr = DISP_E_BADPARAMCOUNT;
        // Named arguments come first in rgvarg; the positional ones follow in reverse order.
        for (UINT i = 0; SUCCEEDED(hr) && i < params->cArgs; ++i)
        {
            LONG param = i < params->cNamedArgs ? params->rgdispidNamedArgs[i] : static_cast<LONG>(params->cArgs - 1 - i);
            if (param < 0 || param >= static_cast<LONG>(inputs))
            {
                hr = DISP_E_PARAMNOTFOUND;
            }
            else if (func->lprgelemdescParam[param].tdesc.vt == VT_BSTR)
            {
                VARIANT probe;
                VariantInit(&probe);
                if (FAILED(VariantChangeType(&probe, &params->rgvarg[i], 0, VT_BSTR)))
                    hr = DISP_E_TYPEMISMATCH;
                VariantClear(&probe);
            }
            if (FAILED(hr) && puArgErr)
                *puArgErr = i;
        }
        info->ReleaseFuncDesc(func);
        return hr;
    }
    return S_OK;   // unknown members are the dispatcher's to refuse
}
}

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
    RETURN_IF_FAILED(CheckArguments(info.Get(), dispIdMember, wFlags, pDispParams, puArgErr));
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
// Methods that belong to the control itself

STDMETHODIMP CVedADA::CheckInstall()
{
    return Guarded([&]() -> HRESULT {
        Fire_InstallCompleteEvent();
        return S_OK;
    });
}

STDMETHODIMP CVedADA::SelectComplete(BSTR strPath, BSTR strSize, BSTR strMode)
{
    return Guarded([&]() -> HRESULT {
        Fire_UpSelectComplete(strPath, strSize, strMode);
        return S_OK;
    });
}

STDMETHODIMP CVedADA::AllowPopUp(BSTR strTemp)
{
    // Nothing is reported to the page, whatever happens.
    try
    {
        std::string site = BstrToNarrow(strTemp);   // null or unconvertible: the default value
        const DWORD allow = 0;
        CRegistryHelper registry(HKEY_CURRENT_USER);
        registry.WriteDword("Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", site.c_str(), &allow);
    }
    catch (...)
    {
    }
    return S_OK;
}

STDMETHODIMP CVedADA::ShowUpFileDlg()
{
    // The picker reports through SelectComplete while it runs; its end code,
    // -1 included, changes nothing for the page.
    try
    {
        // The picker keeps a plain pointer to this object; a page handler that
        // drops its last reference while the picker is open must not free it.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        CFilePickerDlg picker(this);
        picker.DoModal(GetActiveWindow());
    }
    catch (...)
    {
    }
    return S_OK;
}
