// The DLL's entry point and its four exports. Exports may be called on any
// thread; nothing here shows user interface.
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>
#include <string>

#include "TavrineControl.h"
#include "resource.h"
#include "control/ClassFactory.h"
#include "control/DispatchCheck.h"
#include "base/Module.h"
#include "control/Registrar.h"
#include "base/Shared.h"

namespace
{
const char kAppId[] = "{42A53189-BB2C-4BDC-93DC-0D2656DC578B}";
const char kClsidKey[] = "CLSID\\{DA21C137-7D1C-46B7-96AB-2251998EC23C}";

const CATID* const kCategories[] = {&CATID_SafeForScripting, &CATID_SafeForInitializing};

HRESULT PrepareRegistrar(CRegistrar& registrar)
{
    std::string path;
    RETURN_IF_FAILED(Module::GetModulePath(path));
    registrar.AddReplacement("Module", CRgsScript::QuoteForScript(path));
    registrar.AddReplacement("Module_Raw", path);
    registrar.AddReplacement("APPID", kAppId);
    return S_OK;
}

HRESULT RegisterCategories()
{
    CIfacePtr<ICatRegister> categories;
    // Without the category manager the categories are skipped, not failed.
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                categories.PutVoid())))
        return S_OK;
    for (const CATID* category : kCategories)
    {
        CATID id = *category;
        RETURN_IF_FAILED(categories->RegisterClassImplCategories(CLSID_VedADA, 1, &id));
    }
    return S_OK;
}

// Deletes a key only when it exists and holds no subkey.
void DeleteIfEmpty(HKEY root, const std::string& name)
{
    CScopedKey key;
    if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS || subkeys != 0)
        return;
    key.Reset();
    RegDeleteKeyA(root, name.c_str());
}

void UnregisterCategories()
{
    CIfacePtr<ICatRegister> categories;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                categories.PutVoid())))
        return;
    for (const CATID* category : kCategories)
    {
        CATID id = *category;
        categories->UnRegisterClassImplCategories(CLSID_VedADA, 1, &id);   // failures are ignored
    }
    DeleteIfEmpty(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Required Categories");
    DeleteIfEmpty(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Implemented Categories");
}

// Loads the embedded type library, or the .tlb beside the module when the
// module holds none.
HRESULT LoadModuleTypeLib(ITypeLib** ppLib, std::wstring& loadedFrom)
{
    std::string path;
    RETURN_IF_FAILED(Module::GetModulePath(path));
    loadedFrom = NarrowToWide(path, CP_ACP);
    HRESULT hr = LoadTypeLib(loadedFrom.c_str(), ppLib);
    if (SUCCEEDED(hr))
        return hr;

    size_t slash = path.find_last_of('\\');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        dot = path.size();
    path = path.substr(0, dot) + ".tlb";
    loadedFrom = NarrowToWide(path, CP_ACP);
    return LoadTypeLib(loadedFrom.c_str(), ppLib);
}

HRESULT RegisterTypeLibrary()
{
    CIfacePtr<ITypeLib> lib;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(lib.Put(), path));
    std::wstring helpDir = path.substr(0, path.find_last_of(L'\\') == std::wstring::npos ? 0 : path.find_last_of(L'\\'));
    return RegisterTypeLib(lib.Get(), &path[0], helpDir.empty() ? nullptr : &helpDir[0]);
}

HRESULT UnregisterTypeLibrary()
{
    CIfacePtr<ITypeLib> lib;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(lib.Put(), path));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    TLIBATTR copy = *attr;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason)
    {
    case DLL_PROCESS_ATTACH:
        Module::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit other DLLs may already be gone: only free on unload.
        if (!reserved)
        {
            Module::ReleaseTypeInfo();
            ReleaseDispatchShapes();
            CClassFactory::Shutdown();
        }
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return Module::CanUnload() ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_VedADA))
        return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory* factory = nullptr;
    RETURN_IF_FAILED(CClassFactory::GetInstance(&factory));
    return factory->QueryInterface(riid, ppv);
}

STDAPI DllRegisterServer()
{
    try
    {
        CRegistrar registrar;
        RETURN_IF_FAILED(PrepareRegistrar(registrar));
        RETURN_IF_FAILED(registrar.RunResource(Module::Instance(), IDR_APPID_SCRIPT, true));
        RETURN_IF_FAILED(registrar.RunResource(Module::Instance(), IDR_CLASS_SCRIPT, true));
        RETURN_IF_FAILED(RegisterCategories());
        return RegisterTypeLibrary();
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer()
{
    try
    {
        UnregisterCategories();
        CRegistrar registrar;
        RETURN_IF_FAILED(PrepareRegistrar(registrar));
        RETURN_IF_FAILED(registrar.RunResource(Module::Instance(), IDR_CLASS_SCRIPT, false));
        RETURN_IF_FAILED(UnregisterTypeLibrary());
        return registrar.RunResource(Module::Instance(), IDR_APPID_SCRIPT, false);
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}
