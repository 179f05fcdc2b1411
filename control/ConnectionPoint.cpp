// The event connection point: the sink list and its delivery. Runs on the
// control's thread only.
#include "control/ConnectionPoint.h"

#include "control/Enumerator.h"

#include <memory>

CConnectionPoint::CConnectionPoint(IConnectionPointContainer* container, IUnknown* owner, REFIID eventIid)
    : m_container(container), m_owner(owner), m_eventIid(eventIid)
{
}

CConnectionPoint::~CConnectionPoint()
{
    DisconnectAll();
}

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

// The connection point lives inside the control and keeps it alive while handed out.
STDMETHODIMP_(ULONG) CConnectionPoint::AddRef()
{
    return m_owner->AddRef();
}

STDMETHODIMP_(ULONG) CConnectionPoint::Release()
{
    return m_owner->Release();
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID)
        return E_POINTER;
    *pIID = m_eventIid;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC)
        return E_POINTER;
    *ppCPC = m_container;
    m_container->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (pdwCookie)
        *pdwCookie = 0;
    if (!pUnkSink || !pdwCookie)
        return E_POINTER;

    CIfacePtr<IDispatch> sink;
    HRESULT hr = pUnkSink->QueryInterface(m_eventIid, sink.PutVoid());
    if (hr == E_NOINTERFACE)
        return CONNECT_E_CANNOTCONNECT;
    RETURN_IF_FAILED(hr);
    if (!sink)
        return CONNECT_E_CANNOTCONNECT;

    size_t slot = 0;
    while (slot < m_sinks.size() && m_sinks[slot])
        ++slot;
    if (slot == m_sinks.size())
    {
        // A failed grow must leave every connected sink in place.
        try
        {
            m_sinks.emplace_back();
        }
        catch (...)
        {
            return CONNECT_E_ADVISELIMIT;
        }
    }
    m_sinks[slot] = std::move(sink);
    *pdwCookie = static_cast<DWORD>(slot + 1);
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD dwCookie)
{
    if (dwCookie == 0 || dwCookie > m_sinks.size() || !m_sinks[dwCookie - 1])
        return CONNECT_E_NOCONNECTION;
    // Take the sink out first: its Release may call back into the control.
    CIfacePtr<IDispatch> gone = std::move(m_sinks[dwCookie - 1]);
    gone.Reset();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    std::vector<CONNECTDATA> items;
    try
    {
        for (size_t i = 0; i < m_sinks.size(); ++i)
        {
            if (m_sinks[i])
                items.push_back(CONNECTDATA{m_sinks[i].Get(), static_cast<DWORD>(i + 1)});
        }
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
    return CEnumConnections::Create(items, 0, ppEnum);
}

void CConnectionPoint::Fire(DISPID dispid, const BSTR* args, UINT count)
{
    // A handler may drop the page's last reference to the control; the sink
    // list must outlive the loop that walks it.
    CIfacePtr<IUnknown> keepAlive(m_owner);
    const size_t slots = m_sinks.size();
    for (size_t i = 0; i < slots; ++i)
    {
        // A handler may have unadvised sinks, or advised new ones that grew the list.
        if (i >= m_sinks.size() || !m_sinks[i])
            continue;
        CIfacePtr<IDispatch> sink = m_sinks[i];

        // Events carry a few strings; a press of the picker fires thousands,
        // so their variants stand on the stack.
        CVariant local[4];
        std::unique_ptr<CVariant[]> large;
        CVariant* variants = local;
        if (count > ARRAYSIZE(local))
        {
            large.reset(new CVariant[count]);
            variants = large.get();
        }
        bool complete = true;
        for (UINT a = 0; a < count; ++a)
        {
            VARIANT& v = variants[count - 1 - a];
            v.vt = VT_BSTR;
            v.bstrVal = nullptr;
            if (args[a])
            {
                v.bstrVal = SysAllocStringLen(args[a], SysStringLen(args[a]));
                complete = complete && v.bstrVal != nullptr;
            }
        }
        // Out of memory: this sink misses the event rather than receiving a null it never sent.
        if (!complete)
            continue;
        DISPPARAMS params = {count ? variants : nullptr, nullptr, count, 0};
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
}

void CConnectionPoint::DisconnectAll()
{
    std::vector<CIfacePtr<IDispatch>> sinks;
    sinks.swap(m_sinks);
    // The sinks are released here, after the list is already empty.
}
