// A native sink for the control's events, as a page would connect it:
// IProvideClassInfo2 names the event interface, the connection point takes
// the sink. Records UpSelectComplete's three strings; an optional callback
// sees each one as it arrives. Events arrive on the control's thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <functional>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"

struct SelectEvent
{
    std::wstring path;
    std::wstring size;
    std::wstring mode;
    bool operator==(const SelectEvent& other) const
    {
        return path == other.path && size == other.size && mode == other.mode;
    }
};

class CEventSink : public IDispatch
{
public:
    std::function<void(const SelectEvent&)> onSelect;

    CEventSink() { InitializeCriticalSection(&m_lock); }
    virtual ~CEventSink()
    {
        Disconnect();
        DeleteCriticalSection(&m_lock);
    }
    CEventSink(const CEventSink&) = delete;
    CEventSink& operator=(const CEventSink&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID__IVedADAEvents))
            *ppv = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_lRef); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_lRef); }   // lives on the stack
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id != 2 || !params || params->cArgs != 3)
        {
            ++m_nOther;
            return S_OK;
        }
        // Arguments stand in reverse order: strMode, strSize, strPath.
        SelectEvent event;
        event.path = Text(params->rgvarg[2]);
        event.size = Text(params->rgvarg[1]);
        event.mode = Text(params->rgvarg[0]);
        EnterCriticalSection(&m_lock);
        m_events.push_back(event);
        LeaveCriticalSection(&m_lock);
        if (onSelect)
            onSelect(event);
        return S_OK;
    }

    std::vector<SelectEvent> Take()
    {
        std::vector<SelectEvent> events;
        EnterCriticalSection(&m_lock);
        events.swap(m_events);
        LeaveCriticalSection(&m_lock);
        return events;
    }
    size_t Count()
    {
        EnterCriticalSection(&m_lock);
        size_t count = m_events.size();
        LeaveCriticalSection(&m_lock);
        return count;
    }
    LONG Refs() const { return m_lRef; }

    // Connects this sink to the control the way a page does.
    HRESULT Connect(IUnknown* control)
    {
        HRESULT hr = FindEventsPoint(control, &m_pPoint);
        if (FAILED(hr))
            return hr;
        return m_pPoint->Advise(static_cast<IDispatch*>(this), &m_dwCookie);
    }
    void Disconnect()
    {
        if (m_pPoint)
        {
            m_pPoint->Unadvise(m_dwCookie);
            m_pPoint->Release();
            m_pPoint = nullptr;
        }
    }

private:
    static std::wstring Text(const VARIANT& value)
    {
        if (value.vt != VT_BSTR)
            return L"<not a BSTR>";
        return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : std::wstring();
    }

    LONG m_lRef = 1;
    int m_nOther = 0;
    CRITICAL_SECTION m_lock;
    std::vector<SelectEvent> m_events;
    IConnectionPoint* m_pPoint = nullptr;
    DWORD m_dwCookie = 0;
};
