// Module-wide state: instance handle, lock and object counts (changed with
// interlocked operations from any thread), and the cached type library.
#include "base/Module.h"

#include "TavrineControl.h"
#include "base/Shared.h"

namespace
{
HINSTANCE g_hInstance = nullptr;
LONG g_lLocks = 0;
LONG g_lObjects = 0;
ITypeLib* g_pTypeLib = nullptr;   // loaded once, released when the module goes
}

namespace Module
{
HINSTANCE Instance()
{
    return g_hInstance;
}

void SetInstance(HINSTANCE instance)
{
    g_hInstance = instance;
}

void Lock()
{
    InterlockedIncrement(&g_lLocks);
}

void Unlock()
{
    InterlockedDecrement(&g_lLocks);
}

void ObjectCreated()
{
    InterlockedIncrement(&g_lObjects);
}

void ObjectDestroyed()
{
    InterlockedDecrement(&g_lObjects);
}

bool CanUnload()
{
    return InterlockedCompareExchange(&g_lLocks, 0, 0) == 0 && InterlockedCompareExchange(&g_lObjects, 0, 0) == 0;
}

HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** ppTypeInfo)
{
    if (!ppTypeInfo)
        return E_POINTER;
    *ppTypeInfo = nullptr;
    ITypeLib* lib = static_cast<ITypeLib*>(InterlockedCompareExchangePointer(
        reinterpret_cast<void**>(&g_pTypeLib), nullptr, nullptr));
    if (!lib)
    {
        ITypeLib* loaded = nullptr;
        RETURN_IF_FAILED(LoadRegTypeLib(LIBID_HalvexLib, 1, 0, GetUserDefaultLCID(), &loaded));
        // Two threads may race to load: the loser drops its copy.
        if (InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_pTypeLib), loaded, nullptr) != nullptr)
            loaded->Release();
        lib = g_pTypeLib;
    }
    return lib->GetTypeInfoOfGuid(guid, ppTypeInfo);
}

void ReleaseTypeInfo()
{
    ITypeLib* lib = static_cast<ITypeLib*>(
        InterlockedExchangePointer(reinterpret_cast<void**>(&g_pTypeLib), nullptr));
    if (lib)
        lib->Release();
}

HRESULT GetModulePath(std::string& path)
{
    char buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(g_hInstance, buffer, sizeof(buffer));
    RETURN_LAST_ERROR_IF(n == 0);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), n >= sizeof(buffer));
    path.assign(buffer, n);
    return S_OK;
}
}
