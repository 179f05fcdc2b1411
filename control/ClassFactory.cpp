// The class factory: creates control objects and keeps the server locked on
// request. Its references do not count towards unloading: it lives as long as
// the module and is freed when the module goes.
#include "control/ClassFactory.h"

#include <new>

#include "base/Module.h"
#include "base/Shared.h"
#include "control/VedADA.h"

namespace
{
CClassFactory* g_pFactory = nullptr;

CCriticalSection g_factoryLock;
}

HRESULT CClassFactory::GetInstance(CClassFactory** ppFactory)
{
    CLock lock(g_factoryLock);
    if (!g_pFactory)
        g_pFactory = new (std::nothrow) CClassFactory();
    *ppFactory = g_pFactory;
    return g_pFactory ? S_OK : E_OUTOFMEMORY;
}

void CClassFactory::Shutdown()
{
    delete g_pFactory;
    g_pFactory = nullptr;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    return InterlockedIncrement(&m_lRef);
}

// Never frees: the module holds the first reference until it goes.
STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    return InterlockedDecrement(&m_lRef);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    return CVedADA::Create(pUnkOuter, riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        Module::Lock();
    else
        Module::Unlock();
    return S_OK;
}
