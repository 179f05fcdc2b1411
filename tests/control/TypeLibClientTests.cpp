// The type library read the way its clients read it: loaded from the module and
// from the .tlb, its types in their order, base interfaces followed to stdole2's IDispatch; and the dual
// interface marshalled by the type-library marshaler to another apartment and
// called there. Needs the control registered in the prefix.
#include <windows.h>
#include <ocidl.h>
#include <string>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"
#include "harness/TestHarness.h"

namespace
{
// What a reader learns about the base of a type through GetRefTypeOfImplType(0).
struct BaseSeen
{
    HRESULT hr = E_FAIL;
    GUID guid = {};
    TYPEKIND kind = TKIND_MAX;
    WORD funcs = 0;
    WORD vft = 0;
};

BaseSeen BaseOf(ITypeInfo* info)
{
    BaseSeen seen;
    HREFTYPE ref = 0;
    ITypeInfo* base = nullptr;
    seen.hr = info->GetRefTypeOfImplType(0, &ref);
    if (SUCCEEDED(seen.hr))
        seen.hr = info->GetRefTypeInfo(ref, &base);
    if (FAILED(seen.hr))
        return seen;
    TYPEATTR* attr = nullptr;
    seen.hr = base->GetTypeAttr(&attr);
    if (SUCCEEDED(seen.hr))
    {
        seen.guid = attr->guid;
        seen.kind = attr->typekind;
        seen.funcs = attr->cFuncs;
        seen.vft = attr->cbSizeVft;
        base->ReleaseTypeAttr(attr);
    }
    base->Release();
    return seen;
}

std::string GuidText(const GUID& guid)
{
    wchar_t wide[40] = {};
    StringFromGUID2(guid, wide, 40);
    char narrow[40] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return narrow;
}

// stdole2's IDispatch: its four own functions after IUnknown's three, seven vtable slots.
void CheckIsIDispatch(const BaseSeen& seen, const char* what, const char* source)
{
    ok(seen.hr == S_OK, "%s base in %s: %#lx\n", what, source, seen.hr);
    if (seen.hr != S_OK)
        return;
    ok(IsEqualGUID(seen.guid, IID_IDispatch), "%s base in %s is %s\n", what, source, GuidText(seen.guid).c_str());
    ok(seen.kind == TKIND_INTERFACE, "%s base in %s has kind %d\n", what, source, seen.kind);
    ok(seen.funcs == 4, "%s base in %s has %u functions\n", what, source, seen.funcs);
    ok(seen.vft == 7 * sizeof(void*), "%s base in %s has a vtable of %u bytes\n", what, source, seen.vft);
}

void WalkLibrary(const std::wstring& path, const char* source)
{
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    ok(hr == S_OK, "LoadTypeLibEx(%s) returned %#lx\n", source, hr);
    if (!lib)
        return;

    TLIBATTR* libAttr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&libAttr)))
    {
        ok(IsEqualGUID(libAttr->guid, LIBID_HalvexLib), "LIBID in %s is %s\n", source,
           GuidText(libAttr->guid).c_str());
        lib->ReleaseTLibAttr(libAttr);
    }

    // Clients that walk the library by index see this order.
    static const struct
    {
        const wchar_t* name;
        TYPEKIND kind;
    } order[] = {{L"_IVedADAEvents", TKIND_DISPATCH}, {L"VedADA", TKIND_COCLASS}, {L"IVedADA", TKIND_DISPATCH}};
    UINT count = lib->GetTypeInfoCount();
    ok(count == 3, "%u types in %s\n", count, source);
    for (UINT i = 0; i < 3 && i < count; ++i)
    {
        BSTR name = nullptr;
        TYPEKIND kind = TKIND_MAX;
        lib->GetDocumentation(i, &name, nullptr, nullptr, nullptr);
        lib->GetTypeInfoType(i, &kind);
        ok(name && lstrcmpW(name, order[i].name) == 0 && kind == order[i].kind, "type %u in %s is %ls of kind %d\n",
           i, source, name ? name : L"?", kind);
        SysFreeString(name);
    }

    ITypeInfo* dispatchView = nullptr;
    hr = lib->GetTypeInfoOfGuid(IID_IVedADA, &dispatchView);
    ok(hr == S_OK, "IVedADA not in %s: %#lx\n", source, hr);
    if (dispatchView)
    {
        CheckIsIDispatch(BaseOf(dispatchView), "IVedADA dispatch view", source);
        HREFTYPE ref = 0;
        ITypeInfo* vtableView = nullptr;
        hr = dispatchView->GetRefTypeOfImplType(-1, &ref);
        if (SUCCEEDED(hr))
            hr = dispatchView->GetRefTypeInfo(ref, &vtableView);
        ok(hr == S_OK, "no interface view of IVedADA in %s: %#lx\n", source, hr);
        if (vtableView)
        {
            CheckIsIDispatch(BaseOf(vtableView), "IVedADA", source);
            vtableView->Release();
        }
        dispatchView->Release();
    }

    ITypeInfo* events = nullptr;
    hr = lib->GetTypeInfoOfGuid(DIID__IVedADAEvents, &events);
    ok(hr == S_OK, "_IVedADAEvents not in %s: %#lx\n", source, hr);
    if (events)
    {
        CheckIsIDispatch(BaseOf(events), "_IVedADAEvents", source);
        events->Release();
    }
    lib->Release();
}

std::wstring Wide(const std::string& text)
{
    std::wstring out(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()));
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// Results of the calls made through the proxy, read by the main thread after the worker ended.
struct ProxyCalls
{
    IStream* stream = nullptr;
    HRESULT unmarshal = E_FAIL;
    HRESULT selectComplete = E_FAIL;
    HRESULT checkInstall = E_FAIL;
    HRESULT typeInfoCount = E_FAIL;
    UINT count = 0;
    HRESULT idsOfNames = E_FAIL;
    DISPID dispid = 0;
    HRESULT invoke = E_FAIL;
    bool isProxy = false;
};

DWORD WINAPI CallFromOtherApartment(void* param)
{
    auto* calls = static_cast<ProxyCalls*>(param);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IVedADA* control = nullptr;
    calls->unmarshal = CoGetInterfaceAndReleaseStream(calls->stream, IID_IVedADA, reinterpret_cast<void**>(&control));
    calls->stream = nullptr;
    if (SUCCEEDED(calls->unmarshal) && control)
    {
        // A proxy manager answers IMultiQI; the control itself does not.
        IMultiQI* multi = nullptr;
        calls->isProxy = SUCCEEDED(control->QueryInterface(IID_IMultiQI, reinterpret_cast<void**>(&multi)));
        if (multi)
            multi->Release();

        BSTR path = SysAllocString(L"C:\\\xd55c\xae00\\a.txt");
        BSTR size = SysAllocString(L"1234");
        BSTR mode = SysAllocString(L"F");
        calls->selectComplete = control->SelectComplete(path, size, mode);
        SysFreeString(path);
        SysFreeString(size);
        SysFreeString(mode);
        calls->checkInstall = control->CheckInstall();

        // The IDispatch slots of the proxy come from the base interface.
        calls->typeInfoCount = control->GetTypeInfoCount(&calls->count);
        LPOLESTR name = const_cast<LPOLESTR>(L"checkinstall");
        calls->idsOfNames = control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &calls->dispid);
        DISPPARAMS none = {};
        calls->invoke = control->Invoke(calls->dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                        nullptr, nullptr);
        control->Release();
    }
    CoUninitialize();
    return 0;
}

// Pumps the apartment's messages (the marshalled calls arrive as messages) until the thread ends.
bool PumpUntilEnded(HANDLE thread, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs)
    {
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return false;
}
}

static void test_base_interfaces()
{
    std::string dll = TestDllPath();
    WalkLibrary(Wide(dll), "the module");
    std::string tlb = dll.substr(0, dll.find_last_of('\\')) + "\\TavrineControl.tlb";
    WalkLibrary(Wide(tlb), "TavrineControl.tlb");
}

static void test_marshalled_calls()
{
    IVedADA* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA,
                                  reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "CoCreateInstance returned %#lx\n", hr);
    if (!control)
        return;
    CRecordingSink sink;
    hr = sink.Connect(control);
    ok(hr == S_OK, "connecting the sink returned %#lx\n", hr);

    ProxyCalls calls;
    hr = CoMarshalInterThreadInterfaceInStream(IID_IVedADA, control, &calls.stream);
    ok(hr == S_OK, "CoMarshalInterThreadInterfaceInStream returned %#lx\n", hr);
    if (hr == S_OK)
    {
        HANDLE thread = CreateThread(nullptr, 0, CallFromOtherApartment, &calls, 0, nullptr);
        ok(thread != nullptr, "CreateThread failed: %lu\n", GetLastError());
        if (thread)
        {
            bool ended = PumpUntilEnded(thread, 60000);
            ok(ended, "the calls from the other apartment did not end\n");
            if (!ended)
                TerminateThread(thread, 1);
            CloseHandle(thread);
        }
        if (calls.stream)
        {
            CoReleaseMarshalData(calls.stream);
            calls.stream->Release();
        }
    }

    ok(calls.unmarshal == S_OK, "unmarshalling IVedADA returned %#lx\n", calls.unmarshal);
    ok(calls.isProxy, "the other apartment got the object itself, not a proxy\n");
    ok(calls.selectComplete == S_OK, "SelectComplete through the proxy returned %#lx\n", calls.selectComplete);
    ok(calls.checkInstall == S_OK, "CheckInstall through the proxy returned %#lx\n", calls.checkInstall);
    ok(calls.typeInfoCount == S_OK && calls.count == 1, "GetTypeInfoCount through the proxy: %#lx, %u\n",
       calls.typeInfoCount, calls.count);
    ok(calls.idsOfNames == S_OK && calls.dispid == 1, "GetIDsOfNames through the proxy: %#lx, DISPID %ld\n",
       calls.idsOfNames, calls.dispid);
    ok(calls.invoke == S_OK, "Invoke through the proxy returned %#lx\n", calls.invoke);

    // The events came back on this apartment's thread, with their arguments whole:
    // SelectComplete's, then one InstallCompleteEvent for CheckInstall and one for Invoke.
    ok(sink.events.size() == 3, "%u events arrived\n", static_cast<unsigned>(sink.events.size()));
    if (sink.events.size() == 3)
    {
        const RecordedEvent& selected = sink.events[0];
        ok(selected.dispid == 2 && selected.strings.size() == 3, "first event %ld with %u strings\n", selected.dispid,
           static_cast<unsigned>(selected.strings.size()));
        if (selected.strings.size() == 3)
            ok(selected.strings[0] == L"C:\\\xd55c\xae00\\a.txt" && selected.strings[1] == L"1234" &&
                   selected.strings[2] == L"F",
               "UpSelectComplete carried %ls, %ls, %ls\n", selected.strings[0].c_str(), selected.strings[1].c_str(),
               selected.strings[2].c_str());
        ok(sink.events[1].dispid == 1 && sink.events[2].dispid == 1, "then events %ld and %ld\n",
           sink.events[1].dispid, sink.events[2].dispid);
    }
    sink.Disconnect();
    control->Release();
}

TEST_MAIN(TEST(test_base_interfaces), TEST(test_marshalled_calls))

static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
