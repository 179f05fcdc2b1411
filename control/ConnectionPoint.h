// The control's one connection point, for _IVedADAEvents. A member object of
// the control: its AddRef and Release forward to the control. Used only on
// the control's own thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <vector>

#include "base/Shared.h"

class CConnectionPoint final : public IConnectionPoint
{
public:
    CConnectionPoint(IConnectionPointContainer* container, IUnknown* owner, REFIID eventIid);
    ~CConnectionPoint();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    // Calls Invoke on every connected sink, in slot order. The slot count is
    // read once and each sink is held for its call, so a sink may unadvise
    // itself (or others) from inside its handler.
    // The string arguments are given in the event's declared order; each sink
    // gets its own copies, passed in reverse order as dispatch expects.
    void Fire(DISPID dispid, const BSTR* args, UINT count);
    // Drops every sink (the control is going away).
    void DisconnectAll();

private:
    IConnectionPointContainer* m_container;   // not owned: the control
    IUnknown* m_owner;                         // controlling unknown of the control
    IID m_eventIid;
    std::vector<CIfacePtr<IDispatch>> m_sinks;  // slot i has cookie i + 1
};
