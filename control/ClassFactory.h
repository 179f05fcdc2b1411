// The class factory of the control. One instance serves the whole module
// life; it may be called from any thread.
#pragma once

#include <windows.h>
#include <unknwn.h>

class CClassFactory final : public IClassFactory
{
public:
    // The module's factory, created on first use under the module's lock.
    static HRESULT GetInstance(CClassFactory** ppFactory);
    static void Shutdown();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    CClassFactory() = default;
    LONG m_lRef = 1;
};
