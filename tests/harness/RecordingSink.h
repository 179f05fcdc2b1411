// A recording event sink for the control's _IVedADAEvents, connected the way
// a browser connects: IProvideClassInfo2::GetGUID for the default source,
// FindConnectionPoint, Advise. Used on the test's main thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <functional>
#include <string>
#include <vector>

struct RecordedEvent
{
    DISPID dispid;
    std::vector<VARTYPE> types;          // in DISPPARAMS order (reversed)
    std::vector<std::wstring> strings;   // in declared order: strPath, strSize, strMode
    std::vector<bool> nulls;             // declared order: the BSTR was null
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

    std::vector<RecordedEvent> events;
    std::function<void(const RecordedEvent&)> onEvent;   // runs inside Invoke
    bool answerEventsIid = true;
    HRESULT refusal = E_NOINTERFACE;                      // the events query's answer when it is refused
    HRESULT invokeResult = S_OK;                          // what Invoke answers after recording
    LONG refs = 1;
    DWORD cookie = 0;
    IConnectionPoint* point = nullptr;
};
