// The recording event sink used by the tests. Invoke runs on the control's thread.
#include "harness/RecordingSink.h"

#include "TavrineControl.h"
#include "harness/TestHarness.h"

STDMETHODIMP CRecordingSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (answerEventsIid && IsEqualIID(riid, DIID__IVedADAEvents)))
    {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return IsEqualIID(riid, DIID__IVedADAEvents) ? refusal : E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CRecordingSink::AddRef()
{
    return InterlockedIncrement(&refs);
}

// Sinks live on the test's stack; the count only shows what the control holds.
STDMETHODIMP_(ULONG) CRecordingSink::Release()
{
    return InterlockedDecrement(&refs);
}

STDMETHODIMP CRecordingSink::GetTypeInfoCount(UINT* pctinfo)
{
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CRecordingSink::GetTypeInfo(UINT, LCID, ITypeInfo**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CRecordingSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CRecordingSink::Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*)
{
    RecordedEvent event;
    event.dispid = dispid;
    UINT count = params ? params->cArgs : 0;
    // A picker press delivers thousands of events: each is built once and
    // moved into the record.
    event.types.reserve(count);
    event.nulls.reserve(count);
    event.strings.reserve(count);
    for (UINT i = 0; i < count; ++i)
        event.types.push_back(params->rgvarg[i].vt);
    for (UINT i = count; i-- > 0;)
    {
        const VARIANT& v = params->rgvarg[i];
        bool isNull = v.vt != VT_BSTR || v.bstrVal == nullptr;
        event.nulls.push_back(isNull);
        event.strings.push_back(isNull ? std::wstring() : std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
    }
    events.push_back(std::move(event));
    if (dispid == 2 && count == 3)
    {
        // Arguments stand in reverse order: strMode, strSize, strPath.
        auto text = [&](UINT i) {
            const VARIANT& v = params->rgvarg[i];
            if (v.vt != VT_BSTR)
                return std::wstring(L"<not a BSTR>");
            return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
        };
        SelectEvent selection = {text(2), text(1), text(0)};
        {
            CLock lock(m_selectionLock);
            m_selections.push_back(selection);
        }
        if (onSelect)
            onSelect(selection);
    }
    if (onEvent)
        onEvent(events.back());
    return invokeResult;
}

HRESULT FindEventsPoint(IUnknown* control, IConnectionPoint** point)
{
    *point = nullptr;
    IProvideClassInfo2* info = nullptr;
    HRESULT hr = control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    if (FAILED(hr))
        return hr;
    GUID source = {};
    hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
    info->Release();
    if (FAILED(hr))
        return hr;
    IConnectionPointContainer* container = nullptr;
    hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr))
        return hr;
    hr = container->FindConnectionPoint(source, point);
    container->Release();
    return hr;
}

HRESULT CRecordingSink::Connect(IUnknown* control)
{
    HRESULT hr = FindEventsPoint(control, &point);
    if (FAILED(hr))
        return hr;
    hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
    if (FAILED(hr))
    {
        point->Release();
        point = nullptr;
    }
    return hr;
}

HRESULT CRecordingSink::Disconnect()
{
    if (!point)
        return S_FALSE;
    HRESULT hr = point->Unadvise(cookie);
    point->Release();
    point = nullptr;
    cookie = 0;
    return hr;
}

std::vector<SelectEvent> CRecordingSink::TakeSelections()
{
    std::vector<SelectEvent> taken;
    CLock lock(m_selectionLock);
    taken.swap(m_selections);
    return taken;
}

size_t CRecordingSink::SelectionCount()
{
    CLock lock(m_selectionLock);
    return m_selections.size();
}

IVedADA* CreateControl()
{
    IVedADA* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA,
                                  reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "CoCreateInstance returned %#lx\n", hr);
    return control;
}
