// Registration, the type library and the module's exports, checked against
// the real registry of the test prefix. The control stays registered when
// the tests end.
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "harness/TestHarness.h"

namespace
{
const char kClsidKey[] = "CLSID\\{DA21C137-7D1C-46B7-96AB-2251998EC23C}";
const char kClsid[] = "{DA21C137-7D1C-46B7-96AB-2251998EC23C}";
const char kAppId[] = "{42A53189-BB2C-4BDC-93DC-0D2656DC578B}";
const char kLibId[] = "{7C5F4FAE-A220-4A82-B655-FDB456F6BFD8}";
const char kDescription[] = "Tavrine File Share Control 5";

using DllFunction = HRESULT(WINAPI*)();
using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

struct CModule
{
    HMODULE handle = nullptr;
    DllFunction canUnload = nullptr, registerServer = nullptr, unregisterServer = nullptr;
    GetClassObjectFunction getClassObject = nullptr;

    explicit CModule(const std::string& path)
    {
        handle = LoadLibraryA(path.c_str());
        ok(handle != nullptr, "LoadLibrary(%s) failed: %lu\n", path.c_str(), GetLastError());
        if (!handle)
            return;
        canUnload = reinterpret_cast<DllFunction>(GetProcAddress(handle, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<DllFunction>(GetProcAddress(handle, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<DllFunction>(GetProcAddress(handle, "DllUnregisterServer"));
        getClassObject = reinterpret_cast<GetClassObjectFunction>(GetProcAddress(handle, "DllGetClassObject"));
        ok(canUnload && registerServer && unregisterServer && getClassObject, "exports missing\n");
    }
    ~CModule()
    {
        if (handle)
            FreeLibrary(handle);
    }
    bool Loaded() const { return canUnload && registerServer && unregisterServer && getClassObject; }
};

bool KeyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Reads a REG_SZ value; answers "<missing>" or "<type N>" otherwise.
std::string ReadString(const std::string& path, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    LONG lr = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (lr != ERROR_SUCCESS)
        return "<missing>";
    if (type != REG_SZ)
        return "<type " + std::to_string(type) + ">";
    return buffer;
}

DWORD CountSubkeys(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return count;
}

#define check_value(path, name, expected)                                                              \
    do                                                                                                 \
    {                                                                                                  \
        std::string got__ = ReadString(path, name);                                                    \
        ok(got__ == (expected), "%s [%s]: got \"%s\", expected \"%s\"\n", std::string(path).c_str(),   \
           (name) ? (name) : "(default)", got__.c_str(), std::string(expected).c_str());               \
    } while (0)

void CheckRegistered()
{
    std::string module = TestDllPath();
    std::string clsid = kClsidKey;

    check_value("Halvex.Tavrine.1", nullptr, kDescription);
    check_value("Halvex.Tavrine.1\\CLSID", nullptr, kClsid);
    check_value("Halvex.Tavrine", nullptr, kDescription);
    check_value("Halvex.Tavrine\\CLSID", nullptr, kClsid);
    check_value("Halvex.Tavrine\\CurVer", nullptr, "Halvex.Tavrine.1");
    check_value(clsid, nullptr, kDescription);
    check_value(clsid, "AppID", kAppId);
    check_value(clsid + "\\ProgID", nullptr, "Halvex.Tavrine.1");
    check_value(clsid + "\\VersionIndependentProgID", nullptr, "Halvex.Tavrine");
    ok(KeyExists(clsid + "\\Programmable"), "Programmable key missing\n");
    std::string server = ReadString(clsid + "\\InprocServer32", nullptr);
    ok(lstrcmpiA(server.c_str(), module.c_str()) == 0, "InprocServer32 is \"%s\", module \"%s\"\n", server.c_str(),
       module.c_str());
    check_value(clsid + "\\InprocServer32", "ThreadingModel", "Apartment");
    check_value(clsid + "\\TypeLib", nullptr, kLibId);
    ok(KeyExists(clsid + "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}"),
       "safe-for-scripting category missing\n");
    ok(KeyExists(clsid + "\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"),
       "safe-for-initializing category missing\n");
    ok(!KeyExists(clsid + "\\Control") && !KeyExists(clsid + "\\Insertable") && !KeyExists(clsid + "\\MiscStatus") &&
           !KeyExists(clsid + "\\ToolboxBitmap32") && !KeyExists(clsid + "\\Version"),
       "a control-only key was written\n");
    check_value(std::string("AppID\\") + kAppId, nullptr, "Halvex");
    check_value("AppID\\TavrineControl.DLL", "AppID", kAppId);
    ok(KeyExists(std::string("TypeLib\\") + kLibId + "\\1.0"), "type library not registered\n");
}
}

static void test_registry_keys()
{
    CheckRegistered();

    CLSID clsid = {};
    HRESULT hr = CLSIDFromProgID(L"Halvex.Tavrine", &clsid);
    ok(hr == S_OK && IsEqualCLSID(clsid, CLSID_VedADA), "CLSIDFromProgID(Halvex.Tavrine) returned %#lx\n", hr);
    hr = CLSIDFromProgID(L"Halvex.Tavrine.1", &clsid);
    ok(hr == S_OK && IsEqualCLSID(clsid, CLSID_VedADA), "CLSIDFromProgID(Halvex.Tavrine.1) returned %#lx\n", hr);
    IUnknown* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    ok(hr == S_OK, "creation by ProgID returned %#lx\n", hr);
    if (object)
        object->Release();
}

static void test_register_twice_and_unregister()
{
    CModule module(TestDllPath());
    if (!module.Loaded())
        return;

    // Somebody else's subkey under the class key goes at the next registration.
    std::string stray = std::string(kClsidKey) + "\\ThirdParty";
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, stray.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegCloseKey(key);
    ok(KeyExists(stray), "could not plant the stray key\n");
    HRESULT hr = module.registerServer();
    ok(hr == S_OK, "second DllRegisterServer returned %#lx\n", hr);
    ok(!KeyExists(stray), "stray key survived registration\n");
    CheckRegistered();

    // A foreign key under a ProgID keeps that key alive through unregistration.
    hr = module.unregisterServer();
    ok(hr == S_OK, "DllUnregisterServer returned %#lx\n", hr);
    ok(!KeyExists("Halvex.Tavrine.1") && !KeyExists("Halvex.Tavrine"), "ProgID keys left\n");
    ok(!KeyExists(kClsidKey), "class key left\n");
    ok(!KeyExists(std::string("AppID\\") + kAppId) && !KeyExists("AppID\\TavrineControl.DLL"), "AppID keys left\n");
    ok(!KeyExists(std::string("TypeLib\\") + kLibId), "type library still registered\n");
    ok(KeyExists("CLSID") && KeyExists("AppID"), "a shared root key was removed\n");

    CLSID clsid = {};
    hr = CLSIDFromProgID(L"Halvex.Tavrine", &clsid);
    ok(FAILED(hr), "ProgID still resolves after unregistration\n");

    hr = module.registerServer();
    ok(hr == S_OK, "registering again returned %#lx\n", hr);
    CheckRegistered();
}

static void test_class_factory()
{
    CModule module(TestDllPath());
    if (!module.Loaded())
        return;

    IClassFactory* factory = reinterpret_cast<IClassFactory*>(0xdeadbeef);
    HRESULT hr = module.getClassObject(IID_IUnknown, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    ok(hr == CLASS_E_CLASSNOTAVAILABLE, "another CLSID returned %#lx\n", hr);
    ok(factory == nullptr, "output not cleared\n");
    hr = module.getClassObject(CLSID_VedADA, IID_IClassFactory, nullptr);
    ok(hr == E_POINTER, "null output returned %#lx\n", hr);
    IUnknown* wrong = nullptr;
    hr = module.getClassObject(CLSID_VedADA, IID_IDispatch, reinterpret_cast<void**>(&wrong));
    ok(hr == E_NOINTERFACE && !wrong, "IDispatch from the factory returned %#lx\n", hr);

    IClassFactory* second = nullptr;
    hr = module.getClassObject(CLSID_VedADA, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    ok(hr == S_OK, "DllGetClassObject returned %#lx\n", hr);
    module.getClassObject(CLSID_VedADA, IID_IClassFactory, reinterpret_cast<void**>(&second));
    ok(factory == second, "two factories: %p %p\n", factory, second);
    second->Release();

    ok(module.canUnload() == S_OK, "DllCanUnloadNow with nothing alive returned S_FALSE\n");

    IVedADA* control = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IVedADA, reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "CreateInstance returned %#lx\n", hr);
    ok(module.canUnload() == S_FALSE, "DllCanUnloadNow with a live control returned S_OK\n");
    control->Release();
    ok(module.canUnload() == S_OK, "DllCanUnloadNow after the last release returned S_FALSE\n");

    // An enumerator may outlive the control that made it; its code stays loaded until it goes.
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    IEnumConnections* connections = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(DIID__IVedADAEvents, &point);
    if (SUCCEEDED(hr))
        hr = point->EnumConnections(&connections);
    ok(hr == S_OK, "could not enumerate connections: %#lx\n", hr);
    if (point)
        point->Release();
    if (container)
        container->Release();
    if (connections)
    {
        ok(module.canUnload() == S_FALSE, "DllCanUnloadNow with a live enumerator returned S_OK\n");
        connections->Release();
    }
    ok(module.canUnload() == S_OK, "DllCanUnloadNow after the enumerator went returned S_FALSE\n");

    IUnknown* none = reinterpret_cast<IUnknown*>(0xdeadbeef);
    hr = factory->CreateInstance(nullptr, IID_IOleWindow, reinterpret_cast<void**>(&none));
    ok(hr == E_NOINTERFACE && none == nullptr, "CreateInstance for a foreign interface returned %#lx\n", hr);
    ok(module.canUnload() == S_OK, "a refused creation left an object alive\n");

    factory->LockServer(TRUE);
    ok(module.canUnload() == S_FALSE, "DllCanUnloadNow while locked returned S_OK\n");
    factory->LockServer(FALSE);
    ok(module.canUnload() == S_OK, "DllCanUnloadNow after unlocking returned S_FALSE\n");
    factory->Release();
}

namespace
{
std::wstring Doc(ITypeInfo* info, MEMBERID id, std::wstring* help = nullptr)
{
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
    std::wstring result = name ? name : L"";
    if (help)
        *help = doc ? doc : L"<null>";
    SysFreeString(name);
    SysFreeString(doc);
    return result;
}
}

static void test_type_library()
{
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_HalvexLib, 1, 0, 0, &lib);
    ok(hr == S_OK, "LoadRegTypeLib returned %#lx\n", hr);
    if (!lib)
        return;

    TLIBATTR* libAttr = nullptr;
    lib->GetLibAttr(&libAttr);
    ok(IsEqualGUID(libAttr->guid, LIBID_HalvexLib), "LIBID differs\n");
    ok(libAttr->wMajorVerNum == 1 && libAttr->wMinorVerNum == 0, "version %u.%u\n", libAttr->wMajorVerNum,
       libAttr->wMinorVerNum);
    ok(libAttr->lcid == 0, "lcid %#lx\n", libAttr->lcid);
    SYSKIND expected = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    ok(libAttr->syskind == expected, "syskind %d\n", libAttr->syskind);
    // The loader adds "has disk image" itself; nothing else may be set.
    ok((libAttr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE) == 0, "library flags %#x\n", libAttr->wLibFlags);
    lib->ReleaseTLibAttr(libAttr);

    BSTR name = nullptr, doc = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    ok(name && lstrcmpW(name, L"HalvexLib") == 0, "library name %ls\n", name);
    ok(doc && lstrcmpW(doc, L"Halvex 1.0 \ud615\uc2dd \ub77c\uc774\ube0c\ub7ec\ub9ac") == 0, "library help string wrong\n");
    SysFreeString(name);
    SysFreeString(doc);

    ok(lib->GetTypeInfoCount() == 3, "%u type descriptions\n", lib->GetTypeInfoCount());
    static const wchar_t* order[] = {L"_IVedADAEvents", L"VedADA", L"IVedADA"};
    static const TYPEKIND kinds[] = {TKIND_DISPATCH, TKIND_COCLASS, TKIND_DISPATCH};
    for (UINT i = 0; i < 3; ++i)
    {
        ITypeInfo* info = nullptr;
        lib->GetTypeInfo(i, &info);
        TYPEKIND kind = TKIND_MAX;
        lib->GetTypeInfoType(i, &kind);
        ok(info && Doc(info, MEMBERID_NIL) == order[i], "type %u is %ls\n", i, info ? Doc(info, MEMBERID_NIL).c_str() : L"?");
        ok(kind == kinds[i], "type %u has kind %d\n", i, kind);
        if (info)
            info->Release();
    }

    // IVedADA: dual, its thirteen methods after the IDispatch slots.
    ITypeInfo* dispatchInfo = nullptr;
    lib->GetTypeInfoOfGuid(IID_IVedADA, &dispatchInfo);
    std::wstring help;
    Doc(dispatchInfo, MEMBERID_NIL, &help);
    ok(help == L"IVedADA \uc778\ud130\ud398\uc774\uc2a4", "IVedADA help string %ls\n", help.c_str());
    TYPEATTR* attr = nullptr;
    dispatchInfo->GetTypeAttr(&attr);
    ok(attr->wTypeFlags == (TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE),
       "IVedADA dispatch flags %#x\n", attr->wTypeFlags);
    ok(attr->wMajorVerNum == 0 && attr->wMinorVerNum == 0, "IVedADA has a version\n");
    dispatchInfo->ReleaseTypeAttr(attr);

    HREFTYPE vtableRef = 0;
    ITypeInfo* vtableInfo = nullptr;
    hr = dispatchInfo->GetRefTypeOfImplType(-1, &vtableRef);
    if (SUCCEEDED(hr))
        hr = dispatchInfo->GetRefTypeInfo(vtableRef, &vtableInfo);
    ok(hr == S_OK && vtableInfo, "no interface half of the dual interface: %#lx\n", hr);
    if (vtableInfo)
    {
        vtableInfo->GetTypeAttr(&attr);
        ok(attr->typekind == TKIND_INTERFACE && attr->cFuncs == 13, "interface kind %d with %u functions\n",
           attr->typekind, attr->cFuncs);
        ok(attr->cbSizeVft == 20 * sizeof(void*), "vtable of %u bytes\n", attr->cbSizeVft);
        ok((attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) && (attr->wTypeFlags & TYPEFLAG_FDUAL),
           "interface flags %#x\n", attr->wTypeFlags);
        vtableInfo->ReleaseTypeAttr(attr);

        static const struct
        {
            const wchar_t* name;
            std::vector<std::wstring> params;
            std::vector<USHORT> flags;
        } methods[] = {
            {L"CheckInstall", {}, {}},
            {L"AllowPopUp", {L"strTemp"}, {PARAMFLAG_FIN}},
            {L"ShowUpFileDlg", {}, {}},
            {L"SelectComplete", {L"strPath", L"strSize", L"strMode"}, {0, 0, 0}},
            {L"UpLoadInit", {}, {}},
            {L"UpLoadInfo", {L"strIdx"}, {0}},
            {L"UpLoadEnd", {L"strUserID", L"strUserPW"}, {0, 0}},
            {L"DownLoadInit", {}, {}},
            {L"DownLoadInfo", {L"strIdx", L"strPath"}, {0, 0}},
            {L"DownLoadEnd", {L"strUserID", L"strUserPW", L"strMode"}, {0, 0, 0}},
            {L"LauncherExplorer", {L"strUserID", L"strUserPW"}, {0, 0}},
            {L"LauncherWebLink", {L"strUserID", L"strUserPW", L"strWebLink", L"pVal"},
             {0, 0, 0, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}},
            {L"DownLoadSpInit", {}, {}},
        };
        for (UINT i = 0; i < 13; ++i)
        {
            FUNCDESC* func = nullptr;
            vtableInfo->GetFuncDesc(i, &func);
            if (!func)
            {
                ok(false, "no function %u\n", i);
                continue;
            }
            ok(func->memid == static_cast<MEMBERID>(i + 1), "function %u has DISPID %ld\n", i, func->memid);
            ok(func->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)), "%ls at vtable offset %d\n",
               methods[i].name, func->oVft);
            ok(func->elemdescFunc.tdesc.vt == VT_HRESULT, "%ls does not return HRESULT\n", methods[i].name);
            ok(func->callconv == CC_STDCALL, "%ls calling convention %d\n", methods[i].name, func->callconv);
            std::wstring methodHelp;
            std::wstring methodName = Doc(vtableInfo, func->memid, &methodHelp);
            ok(methodName == methods[i].name, "function %u is %ls\n", i, methodName.c_str());
            ok(methodHelp == std::wstring(L"\uba54\uc11c\ub4dc ") + methods[i].name, "%ls help string %ls\n",
               methods[i].name, methodHelp.c_str());
            ok(func->cParams == static_cast<SHORT>(methods[i].params.size()), "%ls has %d parameters\n",
               methods[i].name, func->cParams);
            BSTR names[8] = {};
            UINT got = 0;
            vtableInfo->GetNames(func->memid, names, 8, &got);
            for (UINT p = 0; p < methods[i].params.size() && p < static_cast<UINT>(func->cParams); ++p)
            {
                ok(got > p + 1 && methods[i].params[p] == names[p + 1], "%ls parameter %u misnamed\n",
                   methods[i].name, p);
                USHORT flags = func->lprgelemdescParam[p].paramdesc.wParamFlags;
                ok(flags == methods[i].flags[p], "%ls parameter %u flags %#x\n", methods[i].name, p, flags);
                VARTYPE vt = func->lprgelemdescParam[p].tdesc.vt;
                bool isBstr = vt == VT_BSTR ||
                              (vt == VT_PTR && func->lprgelemdescParam[p].tdesc.lptdesc->vt == VT_BSTR);
                ok(isBstr, "%ls parameter %u has type %u\n", methods[i].name, p, vt);
            }
            for (UINT n = 0; n < got; ++n)
                SysFreeString(names[n]);
            vtableInfo->ReleaseFuncDesc(func);
        }
        vtableInfo->Release();
    }
    dispatchInfo->Release();

    // _IVedADAEvents: a pure dispinterface with two events and no member help strings.
    ITypeInfo* events = nullptr;
    lib->GetTypeInfoOfGuid(DIID__IVedADAEvents, &events);
    Doc(events, MEMBERID_NIL, &help);
    ok(help == L"_IVedADAEvents \uc778\ud130\ud398\uc774\uc2a4", "events help string %ls\n", help.c_str());
    events->GetTypeAttr(&attr);
    ok(attr->cFuncs == 2 && !(attr->wTypeFlags & TYPEFLAG_FDUAL), "events: %u functions, flags %#x\n", attr->cFuncs,
       attr->wTypeFlags);
    events->ReleaseTypeAttr(attr);
    static const wchar_t* eventNames[] = {L"InstallCompleteEvent", L"UpSelectComplete"};
    for (UINT i = 0; i < 2; ++i)
    {
        FUNCDESC* func = nullptr;
        events->GetFuncDesc(i, &func);
        std::wstring eventHelp;
        ok(func->memid == static_cast<MEMBERID>(i + 1) && Doc(events, func->memid, &eventHelp) == eventNames[i],
           "event %u wrong\n", i);
        ok(eventHelp == L"<null>", "event %u has help string %ls\n", i, eventHelp.c_str());
        ok(func->elemdescFunc.tdesc.vt == VT_VOID, "event %u returns %u\n", i, func->elemdescFunc.tdesc.vt);
        ok(func->cParams == (i == 0 ? 0 : 3), "event %u has %d parameters\n", i, func->cParams);
        for (SHORT p = 0; p < func->cParams; ++p)
            ok(func->lprgelemdescParam[p].tdesc.vt == VT_BSTR && func->lprgelemdescParam[p].paramdesc.wParamFlags == 0,
               "event parameter %d wrong\n", p);
        events->ReleaseFuncDesc(func);
    }
    events->Release();

    // The coclass: creatable only, IVedADA default, the events default source.
    ITypeInfo* coclass = nullptr;
    lib->GetTypeInfoOfGuid(CLSID_VedADA, &coclass);
    Doc(coclass, MEMBERID_NIL, &help);
    ok(help == L"Tavrine File Share Control 5", "coclass help string %ls\n", help.c_str());
    coclass->GetTypeAttr(&attr);
    ok(attr->wTypeFlags == TYPEFLAG_FCANCREATE, "coclass flags %#x\n", attr->wTypeFlags);
    ok(attr->cImplTypes == 2, "%u implemented types\n", attr->cImplTypes);
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < 2; ++i)
    {
        INT flags = 0;
        HREFTYPE ref = 0;
        ITypeInfo* impl = nullptr;
        coclass->GetImplTypeFlags(i, &flags);
        coclass->GetRefTypeOfImplType(i, &ref);
        coclass->GetRefTypeInfo(ref, &impl);
        std::wstring implName = impl ? Doc(impl, MEMBERID_NIL) : L"?";
        if (implName == L"IVedADA")
            ok(flags == IMPLTYPEFLAG_FDEFAULT, "IVedADA impl flags %#x\n", flags);
        else
            ok(implName == L"_IVedADAEvents" && flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE),
               "%ls impl flags %#x\n", implName.c_str(), flags);
        if (impl)
            impl->Release();
    }
    coclass->Release();
    lib->Release();
}

static void test_type_library_fallback()
{
    // A copy of the module without its embedded type library, in a folder of its own.
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    std::string folder = std::string(temp) + "tavrine-tlb-fallback";
    CreateDirectoryA(folder.c_str(), nullptr);
    // Another file name: the loader would hand back the module already loaded under the same name.
    std::string copy = folder + "\\TavrineCopy.DLL";
    std::string tlb = folder + "\\TavrineCopy.tlb";
    DeleteFileA(tlb.c_str());
    ok(CopyFileA(TestDllPath().c_str(), copy.c_str(), FALSE), "copy failed: %lu\n", GetLastError());
    // Spoil the embedded library's signature so that loading it from the module fails.
    {
        HANDLE file = CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ok(file != INVALID_HANDLE_VALUE, "cannot open the copy: %lu\n", GetLastError());
        if (file == INVALID_HANDLE_VALUE)
            return;
        std::vector<char> bytes(GetFileSize(file, nullptr));
        DWORD done = 0;
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        size_t spoiled = 0;
        for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        {
            if (memcmp(&bytes[i], "MSFT", 4) == 0)
            {
                memcpy(&bytes[i], "XXXX", 4);
                ++spoiled;
            }
        }
        ok(spoiled == 1, "found %u type library signatures\n", static_cast<unsigned>(spoiled));
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        CloseHandle(file);
    }

    HRESULT hr;
    {
        CModule stripped(copy);
        if (!stripped.Loaded())
            return;
        char loaded[MAX_PATH] = {};
        GetModuleFileNameA(stripped.handle, loaded, sizeof(loaded));
        ok(lstrcmpiA(loaded, copy.c_str()) == 0, "the copy was loaded as %s\n", loaded);
        hr = stripped.registerServer();
        ok(FAILED(hr), "registration without any type library returned %#lx\n", hr);

        std::string built = TestDllPath();
        built = built.substr(0, built.find_last_of('\\')) + "\\TavrineControl.tlb";
        ok(CopyFileA(built.c_str(), tlb.c_str(), FALSE), "could not place the .tlb: %lu\n", GetLastError());
        hr = stripped.registerServer();
        ok(hr == S_OK, "registration with the .tlb beside the module returned %#lx\n", hr);
        std::string path = ReadString(std::string("TypeLib\\") + kLibId + "\\1.0\\0\\" +
                                          (sizeof(void*) == 8 ? "win64" : "win32"),
                                      nullptr);
        ok(lstrcmpiA(path.c_str(), tlb.c_str()) == 0, "type library registered from \"%s\"\n", path.c_str());
    }

    // Put the real module back in place for the other tests.
    CModule module(TestDllPath());
    if (module.Loaded())
        ok(module.registerServer() == S_OK, "re-registering the module failed\n");
    CheckRegistered();
    DeleteFileA(copy.c_str());
    DeleteFileA(tlb.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_MAIN(TEST(test_registry_keys), TEST(test_type_library), TEST(test_class_factory),
          TEST(test_register_twice_and_unregister), TEST(test_type_library_fallback))

static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
