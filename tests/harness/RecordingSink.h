// The tests' one event sink for the control's _IVedADAEvents, connected the way
// a browser connects: IProvideClassInfo2::GetGUID for the default source,
// FindConnectionPoint, Advise. Records every event, and UpSelectComplete's
// three strings apart for the picker tests, which read them from another thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <functional>
#include <string>
#include <vector>

#include "base/Shared.h"

struct RecordedEvent
{
    DISPID dispid;
    std::vector<VARTYPE> types;          // in DISPPARAMS order (reversed)
    std::vector<std::wstring> strings;   // in declared order: strPath, strSize, strMode
    std::vector<bool> nulls;             // declared order: the BSTR was null
};

// One UpSelectComplete as the page sees it.
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

// Finds the control's default source connection point the way a browser does:
// IProvideClassInfo2::GetGUID names the event interface, the container has its point.
HRESULT FindEventsPoint(IUnknown* control, IConnectionPoint** point);

class CRecordingSink : public IDispatch
{
public:
    CRecordingSink() = default;
    virtual ~CRecordingSink() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override;

    // Connects to the control's default source; answers the HRESULT of the first failing step.
    HRESULT Connect(IUnknown* control);
    HRESULT Disconnect();

    // The UpSelectComplete events so far, taken out of the sink; safe on any thread.
    std::vector<SelectEvent> TakeSelections();
    size_t SelectionCount();

    std::vector<RecordedEvent> events;
    std::function<void(const RecordedEvent&)> onEvent;   // runs inside Invoke
    std::function<void(const SelectEvent&)> onSelect;    // runs inside Invoke, after the selection is stored
    bool answerEventsIid = true;
    HRESULT refusal = E_NOINTERFACE;                      // the events query's answer when it is refused
    HRESULT invokeResult = S_OK;                          // what Invoke answers after recording
    LONG refs = 1;
    DWORD cookie = 0;
    IConnectionPoint* point = nullptr;

private:
    CCriticalSection m_selectionLock;
    std::vector<SelectEvent> m_selections;
};

struct IVedADA;
// A registered control made by CoCreateInstance, as a page's object tag makes it;
// null (and a failed check) when it cannot be made.
IVedADA* CreateControl();
