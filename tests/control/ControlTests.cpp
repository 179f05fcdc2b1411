// Conformance tests of the control object through COM: its interfaces, the
// event connection, safety options, class information, dispatch by name and
// the modal picker call. Shows the picker on the test display.
// Needs the control registered in the prefix.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <objsafe.h>
#include <oleidl.h>
#include <string>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"
#include "harness/TestHarness.h"

namespace
{
bool Supports(IUnknown* object, REFIID riid)
{
    IUnknown* unk = reinterpret_cast<IUnknown*>(0xdeadbeef);
    HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(&unk));
    if (SUCCEEDED(hr))
    {
        unk->Release();
        return true;
    }
    ok(unk == nullptr, "failed QueryInterface left %p\n", unk);
    return false;
}

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

std::wstring W(const RecordedEvent& e, size_t i)
{
    return i < e.strings.size() ? e.strings[i] : L"<missing>";
}
}

static void test_query_interface()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;

    ok(Supports(control, IID_IUnknown), "no IUnknown\n");
    ok(Supports(control, IID_IDispatch), "no IDispatch\n");
    ok(Supports(control, IID_IConnectionPointContainer), "no IConnectionPointContainer\n");
    ok(Supports(control, IID_IProvideClassInfo), "no IProvideClassInfo\n");
    ok(Supports(control, IID_IProvideClassInfo2), "no IProvideClassInfo2\n");
    ok(Supports(control, IID_IObjectSafety), "no IObjectSafety\n");

    const IID* refused[] = {&IID_IOleObject, &IID_IOleControl, &IID_IOleInPlaceObject, &IID_IViewObject,
                            &IID_IPersist, &IID_IPersistStreamInit, &IID_IPersistPropertyBag,
                            &IID_IQuickActivate, &IID_ISupportErrorInfo, &IID_IConnectionPoint,
                            &IID_IClassFactory};
    for (const IID* iid : refused)
        ok(!Supports(control, *iid), "answered an interface it must not have\n");

    // One identity: IDispatch is the IVedADA pointer, and every interface leads to the same IUnknown.
    IDispatch* dispatch = nullptr;
    control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    ok(dispatch == static_cast<IDispatch*>(control), "IDispatch %p is not IVedADA %p\n", dispatch, control);
    IUnknown *unk1 = nullptr, *unk2 = nullptr;
    IObjectSafety* safety = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1));
    control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
    safety->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2));
    ok(unk1 == unk2, "IUnknown differs: %p %p\n", unk1, unk2);
    unk2->Release();
    safety->Release();
    unk1->Release();
    dispatch->Release();

    HRESULT hr = control->QueryInterface(IID_IUnknown, nullptr);
    ok(hr == E_POINTER, "QueryInterface(NULL) returned %#lx\n", hr);

    ULONG refs = RefCount(control);
    ok(refs == 1, "reference count %lu\n", refs);
    ok(control->Release() == 0, "last Release did not answer 0\n");
}

// A minimal controlling unknown for the aggregation test.
class COuter : public IUnknown
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown))
        {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    IUnknown* inner = nullptr;
    LONG refs = 1;
    int queries = 0;
};

static void test_aggregation()
{
    COuter outer;
    IVedADA* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, &outer, CLSCTX_INPROC_SERVER, IID_IVedADA,
                                  reinterpret_cast<void**>(&control));
    ok(hr == CLASS_E_NOAGGREGATION, "aggregate asking for IVedADA: %#lx\n", hr);
    ok(control == nullptr, "output not cleared\n");

    hr = CoCreateInstance(CLSID_VedADA, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(&outer.inner));
    ok(hr == S_OK, "aggregated creation returned %#lx\n", hr);
    if (FAILED(hr))
        return;
    ok(outer.inner != static_cast<IUnknown*>(&outer), "got the outer unknown back\n");

    hr = outer.inner->QueryInterface(IID_IVedADA, reinterpret_cast<void**>(&control));
    ok(hr == S_OK, "inner QueryInterface returned %#lx\n", hr);
    LONG before = outer.refs;
    int queries = outer.queries;
    // Every public interface forwards to the controlling unknown.
    control->AddRef();
    ok(outer.refs == before + 1, "AddRef not forwarded to the outer unknown\n");
    control->Release();
    IUnknown* identity = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    ok(identity == static_cast<IUnknown*>(&outer), "identity is %p, not the outer %p\n", identity, &outer);
    ok(outer.queries == queries + 1, "QueryInterface not forwarded\n");
    identity->Release();
    hr = control->CheckInstall();
    ok(hr == S_OK, "CheckInstall in an aggregate returned %#lx\n", hr);
    control->Release();   // the reference taken by the inner QueryInterface went to the outer
    ok(outer.inner->Release() == 0, "inner unknown not freed\n");
}

static void test_object_safety()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IObjectSafety* safety = nullptr;
    control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));

    DWORD supported = 0xdeadbeef, enabled = 0xdeadbeef;
    HRESULT hr = safety->GetInterfaceSafetyOptions(IID_IVedADA, &supported, &enabled);
    ok(hr == S_OK, "GetInterfaceSafetyOptions returned %#lx\n", hr);
    ok(supported == 3, "supported %#lx\n", supported);
    ok(enabled == 0, "enabled %#lx on a new object\n", enabled);

    hr = safety->SetInterfaceSafetyOptions(IID_IVedADA, 3, 1);
    ok(hr == S_OK, "SetInterfaceSafetyOptions returned %#lx\n", hr);
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    ok(enabled == 1, "enabled %#lx after mask 3, enabled 1\n", enabled);

    hr = safety->SetInterfaceSafetyOptions(IID_IVedADA, 4, 4);
    ok(hr == E_FAIL, "mask 4 returned %#lx\n", hr);
    safety->GetInterfaceSafetyOptions(IID_IVedADA, &supported, &enabled);
    ok(enabled == 1, "a refused mask changed the options to %#lx\n", enabled);

    hr = safety->SetInterfaceSafetyOptions(IID_IVedADA, 2, 2);
    safety->GetInterfaceSafetyOptions(IID_IVedADA, &supported, &enabled);
    ok(hr == S_OK && enabled == 3, "mask 2 gave %#lx, enabled %#lx\n", hr, enabled);

    supported = enabled = 0xdeadbeef;
    hr = safety->GetInterfaceSafetyOptions(IID_IOleObject, &supported, &enabled);
    ok(hr == E_NOINTERFACE, "unknown interface returned %#lx\n", hr);
    ok(supported == 0 && enabled == 0, "unknown interface gave %#lx/%#lx\n", supported, enabled);
    hr = safety->SetInterfaceSafetyOptions(IID_IOleObject, 1, 1);
    ok(hr == E_NOINTERFACE, "Set for an unknown interface returned %#lx\n", hr);

    hr = safety->GetInterfaceSafetyOptions(IID_IVedADA, nullptr, &enabled);
    ok(hr == E_POINTER, "null output returned %#lx\n", hr);

    safety->Release();
    control->Release();
}

static void test_class_info()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IProvideClassInfo2* info = nullptr;
    control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));

    GUID guid = {};
    HRESULT hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid);
    ok(hr == S_OK && IsEqualGUID(guid, DIID__IVedADAEvents), "kind 1 returned %#lx\n", hr);
    memset(&guid, 0xab, sizeof(guid));
    hr = info->GetGUID(2, &guid);
    ok(hr == E_FAIL, "kind 2 returned %#lx\n", hr);
    ok(IsEqualGUID(guid, GUID_NULL), "kind 2 did not store GUID_NULL\n");
    hr = info->GetGUID(1, nullptr);
    ok(hr == E_POINTER, "null GUID returned %#lx\n", hr);

    ITypeInfo* classInfo = nullptr;
    hr = info->GetClassInfo(&classInfo);
    ok(hr == S_OK, "GetClassInfo returned %#lx\n", hr);
    if (classInfo)
    {
        TYPEATTR* attr = nullptr;
        classInfo->GetTypeAttr(&attr);
        ok(attr->typekind == TKIND_COCLASS && IsEqualGUID(attr->guid, CLSID_VedADA), "not the VedADA coclass\n");
        classInfo->ReleaseTypeAttr(attr);
        classInfo->Release();
    }
    hr = info->GetClassInfo(nullptr);
    ok(hr == E_POINTER, "null output returned %#lx\n", hr);
    info->Release();
    control->Release();
}

static void test_connection_point()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IConnectionPointContainer* container = nullptr;
    control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));

    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(0xdeadbeef);
    HRESULT hr = container->FindConnectionPoint(IID_IPropertyNotifySink, &point);
    ok(hr == CONNECT_E_NOCONNECTION, "IPropertyNotifySink returned %#lx\n", hr);
    ok(point == nullptr, "output not cleared\n");
    hr = container->FindConnectionPoint(DIID__IVedADAEvents, nullptr);
    ok(hr == E_POINTER, "null output returned %#lx\n", hr);
    hr = container->FindConnectionPoint(DIID__IVedADAEvents, &point);
    ok(hr == S_OK, "FindConnectionPoint returned %#lx\n", hr);

    IID iid = {};
    point->GetConnectionInterface(&iid);
    ok(IsEqualIID(iid, DIID__IVedADAEvents), "wrong connection interface\n");
    IConnectionPointContainer* back = nullptr;
    point->GetConnectionPointContainer(&back);
    ok(back == container, "container %p, expected %p\n", back, container);
    back->Release();

    IEnumConnectionPoints* points = nullptr;
    hr = container->EnumConnectionPoints(&points);
    ok(hr == S_OK, "EnumConnectionPoints returned %#lx\n", hr);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    hr = points->Next(2, listed, &fetched);
    ok(hr == S_FALSE && fetched == 1 && listed[0] == point, "enumerated %lu points (%#lx)\n", fetched, hr);
    if (listed[0])
        listed[0]->Release();
    points->Release();

    // A sink without the event interface is refused.
    CRecordingSink stranger;
    stranger.answerEventsIid = false;
    DWORD cookie = 0xdeadbeef;
    hr = point->Advise(static_cast<IDispatch*>(&stranger), &cookie);
    ok(hr == CONNECT_E_CANNOTCONNECT, "sink without the interface: %#lx\n", hr);
    ok(cookie == 0, "cookie %lu after a refusal\n", cookie);
    hr = point->Advise(nullptr, &cookie);
    ok(hr == E_POINTER, "null sink: %#lx\n", hr);
    // Any other failure of the sink's query comes back as it is.
    stranger.refusal = E_OUTOFMEMORY;
    cookie = 0xdeadbeef;
    hr = point->Advise(static_cast<IDispatch*>(&stranger), &cookie);
    ok(hr == E_OUTOFMEMORY && cookie == 0, "failing query: %#lx, cookie %lu\n", hr, cookie);
    CRecordingSink unkept;
    hr = point->Advise(static_cast<IDispatch*>(&unkept), nullptr);
    ok(hr == E_POINTER && unkept.refs == 1, "null cookie pointer: %#lx, sink refs %ld\n", hr, unkept.refs);

    // Cookies are slot positions from 1; the first free slot is reused.
    CRecordingSink a, b, c, d;
    DWORD ca = 0, cb = 0, cc = 0, cd = 0;
    point->Advise(static_cast<IDispatch*>(&a), &ca);
    point->Advise(static_cast<IDispatch*>(&b), &cb);
    point->Advise(static_cast<IDispatch*>(&c), &cc);
    ok(ca == 1 && cb == 2 && cc == 3, "cookies %lu %lu %lu\n", ca, cb, cc);
    ok(b.refs > 1, "the connection holds no reference to the sink\n");
    hr = point->Unadvise(cb);
    ok(hr == S_OK && b.refs == 1, "Unadvise returned %#lx, sink refs %ld\n", hr, b.refs);
    hr = point->Unadvise(cb);
    ok(hr == CONNECT_E_NOCONNECTION, "second Unadvise returned %#lx\n", hr);
    hr = point->Unadvise(99);
    ok(hr == CONNECT_E_NOCONNECTION, "Unadvise of an unknown cookie returned %#lx\n", hr);
    hr = point->Unadvise(0);
    ok(hr == CONNECT_E_NOCONNECTION, "Unadvise(0) returned %#lx\n", hr);
    point->Advise(static_cast<IDispatch*>(&d), &cd);
    ok(cd == 2, "new sink took cookie %lu instead of the free slot 2\n", cd);

    IEnumConnections* connections = nullptr;
    hr = point->EnumConnections(&connections);
    ok(hr == S_OK, "EnumConnections returned %#lx\n", hr);
    CONNECTDATA data[4] = {};
    fetched = 0;
    connections->Next(4, data, &fetched);
    ok(fetched == 3, "%lu connections listed\n", fetched);
    for (ULONG i = 0; i < fetched; ++i)
    {
        ok(data[i].dwCookie == i + 1, "connection %lu has cookie %lu\n", i, data[i].dwCookie);
        data[i].pUnk->Release();
    }
    connections->Release();

    point->Unadvise(ca);
    point->Unadvise(cc);
    point->Unadvise(cd);
    point->Release();
    container->Release();

    // Sinks still connected when the object goes are released.
    CRecordingSink last;
    ok(last.Connect(control) == S_OK, "Connect failed\n");
    last.point->Release();   // keep only the object's own references
    last.point = nullptr;
    control->Release();
    ok(last.refs == 1, "sink still referenced (%ld) after the control went\n", last.refs);
}

static void test_events()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;

    HRESULT hr = control->CheckInstall();
    ok(hr == S_OK, "CheckInstall without sinks returned %#lx\n", hr);

    CRecordingSink first, second, third;
    ok(first.Connect(control) == S_OK, "first sink not connected\n");
    ok(second.Connect(control) == S_OK, "second sink not connected\n");
    ok(third.Connect(control) == S_OK, "third sink not connected\n");

    std::vector<int> order;
    first.onEvent = [&](const RecordedEvent&) { order.push_back(1); };
    // The second sink disconnects itself inside its handler; later sinks still get the event.
    second.onEvent = [&](const RecordedEvent&) {
        order.push_back(2);
        second.Disconnect();
    };
    third.onEvent = [&](const RecordedEvent&) { order.push_back(3); };

    hr = control->CheckInstall();
    ok(hr == S_OK, "CheckInstall returned %#lx\n", hr);
    ok(order.size() == 3 && order[0] == 1 && order[1] == 2 && order[2] == 3, "delivery order wrong (%u calls)\n",
       static_cast<unsigned>(order.size()));
    ok(first.events.size() == 1 && first.events[0].dispid == 1 && first.events[0].types.empty(),
       "InstallCompleteEvent not delivered as DISPID 1 without arguments\n");
    ok(second.cookie == 0, "second sink still connected\n");

    hr = control->CheckInstall();
    ok(third.events.size() == 2 && second.events.size() == 1, "after disconnect: %u/%u events\n",
       static_cast<unsigned>(third.events.size()), static_cast<unsigned>(second.events.size()));

    // SelectComplete passes its three strings on unchanged, reversed in the argument block.
    first.events.clear();
    BSTR a = SysAllocString(L"a"), b = SysAllocString(L"b"), c = SysAllocString(L"c");
    hr = control->SelectComplete(a, b, c);
    ok(hr == S_OK, "SelectComplete returned %#lx\n", hr);
    ok(first.events.size() == 1, "%u events\n", static_cast<unsigned>(first.events.size()));
    if (!first.events.empty())
    {
        const RecordedEvent& e = first.events[0];
        ok(e.dispid == 2, "dispid %ld\n", e.dispid);
        ok(e.types.size() == 3 && e.types[0] == VT_BSTR && e.types[2] == VT_BSTR, "argument types wrong\n");
        ok(W(e, 0) == L"a" && W(e, 1) == L"b" && W(e, 2) == L"c", "arguments %ls %ls %ls\n", W(e, 0).c_str(),
           W(e, 1).c_str(), W(e, 2).c_str());
    }
    SysFreeString(a);
    SysFreeString(b);
    SysFreeString(c);

    first.events.clear();
    hr = control->SelectComplete(nullptr, nullptr, nullptr);
    ok(hr == S_OK && first.events.size() == 1, "null strings: %#lx\n", hr);
    if (!first.events.empty())
    {
        const RecordedEvent& e = first.events[0];
        ok(e.types.size() == 3 && e.types[0] == VT_BSTR && e.nulls[0] && e.nulls[1] && e.nulls[2],
           "null strings not passed as null VT_BSTR\n");
    }

    // Korean text, embedded NULs and a lone surrogate arrive exactly as sent.
    first.events.clear();
    const wchar_t korean[] = L"C:\\\uc790\ub8cc\\\ud55c\uae00.txt";
    const wchar_t withNul[] = {L'x', 0, L'y'};
    const wchar_t lone[] = {0xd800, L'z'};
    BSTR k = SysAllocString(korean), n = SysAllocStringLen(withNul, 3), l = SysAllocStringLen(lone, 2);
    control->SelectComplete(k, n, l);
    ok(first.events.size() == 1, "no event for unusual strings\n");
    if (!first.events.empty())
    {
        const RecordedEvent& e = first.events[0];
        ok(W(e, 0) == korean, "Korean path changed\n");
        ok(W(e, 1) == std::wstring(withNul, 3), "embedded NUL lost: length %u\n", static_cast<unsigned>(W(e, 1).size()));
        ok(W(e, 2) == std::wstring(lone, 2), "lone surrogate changed\n");
    }
    SysFreeString(k);
    SysFreeString(n);
    SysFreeString(l);

    // Large strings pass through too.
    std::wstring big(1 << 20, L'\uac00');
    BSTR large = SysAllocStringLen(big.data(), static_cast<UINT>(big.size()));
    first.events.clear();
    hr = control->SelectComplete(large, large, large);
    ok(hr == S_OK && first.events.size() == 1 && first.events[0].strings[0].size() == big.size(),
       "1 MB strings not delivered whole\n");
    SysFreeString(large);

    first.Disconnect();
    third.Disconnect();
    control->Release();
}

// Delivery goes on past sinks that fail or are disconnected in mid-event, and
// a sink connected during an event waits for the next one.
static void test_event_delivery()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;

    CRecordingSink failing, gone, last, late;
    failing.invokeResult = DISP_E_EXCEPTION;
    ok(failing.Connect(control) == S_OK && gone.Connect(control) == S_OK && last.Connect(control) == S_OK,
       "sinks not connected\n");
    // The first handler connects a new sink behind the last one, then drops the sink in the next slot.
    failing.onEvent = [&](const RecordedEvent&) {
        if (!late.point)
            late.Connect(control);
        if (gone.point)
            gone.Disconnect();
    };

    HRESULT hr = control->CheckInstall();
    ok(hr == S_OK, "CheckInstall with a failing sink returned %#lx\n", hr);
    ok(failing.events.size() == 1, "failing sink called %u times\n", static_cast<unsigned>(failing.events.size()));
    ok(gone.events.empty() && gone.refs == 1, "a sink disconnected in mid-event was called (%u) or kept (%ld)\n",
       static_cast<unsigned>(gone.events.size()), gone.refs);
    ok(last.events.size() == 1, "the sink after a failing one got %u events\n", static_cast<unsigned>(last.events.size()));
    ok(late.cookie == 4, "sink connected during the event has cookie %lu\n", late.cookie);
    ok(late.events.empty(), "a sink connected during the event already got it\n");

    BSTR path = SysAllocString(L"C:\\a.txt");
    hr = control->SelectComplete(path, path, path);
    SysFreeString(path);
    ok(hr == S_OK, "SelectComplete with a failing sink returned %#lx\n", hr);
    ok(last.events.size() == 2 && late.events.size() == 1 && late.events[0].dispid == 2,
       "next event: %u and %u deliveries\n", static_cast<unsigned>(last.events.size()),
       static_cast<unsigned>(late.events.size()));

    failing.onEvent = nullptr;
    failing.Disconnect();
    last.Disconnect();
    late.Disconnect();
    ok(failing.refs == 1 && last.refs == 1 && late.refs == 1, "sink references left: %ld %ld %ld\n", failing.refs,
       last.refs, late.refs);
    control->Release();

    // A handler that drops the caller's last reference: the other sinks still get the
    // event, and the object goes (releasing its sinks) once the event is over.
    IVedADA* doomed = CreateControl();
    if (!doomed)
        return;
    CRecordingSink dropper, bystander;
    ok(dropper.Connect(doomed) == S_OK && bystander.Connect(doomed) == S_OK, "sinks not connected\n");
    for (CRecordingSink* sink : {&dropper, &bystander})
    {
        sink->point->Release();   // only the caller's reference keeps the object
        sink->point = nullptr;
    }
    dropper.onEvent = [&](const RecordedEvent&) { doomed->Release(); };
    hr = doomed->CheckInstall();
    ok(hr == S_OK, "CheckInstall released from its handler returned %#lx\n", hr);
    ok(bystander.events.size() == 1, "the sink after the releasing one got %u events\n",
       static_cast<unsigned>(bystander.events.size()));
    ok(dropper.refs == 1 && bystander.refs == 1, "sinks still held (%ld, %ld) after the object went\n", dropper.refs,
       bystander.refs);
}

namespace
{
// State of the picker run below, for its timer procedure (which takes no context).
struct CPickerRun
{
    IVedADA* control = nullptr;
    CRecordingSink* sink = nullptr;
    HWND picker = nullptr;
    HWND owner = reinterpret_cast<HWND>(-1);
    LONG sinkRefsWhileOpen = 0;
    int ticks = 0;
} g_pickerRun;

// The picker by the caption it gives itself.
BOOL CALLBACK FindPicker(HWND hwnd, LPARAM)
{
    wchar_t caption[32] = {};
    GetWindowTextW(hwnd, caption, 32);
    if (lstrcmpW(caption, L"\ud30c\uc77c/\ud3f4\ub354 \uc120\ud0dd\ucc3d") != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    g_pickerRun.picker = hwnd;
    return FALSE;
}

// Runs inside the picker's modal loop on the test thread (so finding the picker
// here shows the call is modal on this thread): drops the caller's reference to
// the control, then closes the picker with its close button.
void CALLBACK OnPickerTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    CPickerRun& run = g_pickerRun;
    EnumThreadWindows(GetCurrentThreadId(), FindPicker, 0);
    if (!run.picker && ++run.ticks < 600)
        return;
    KillTimer(nullptr, id);
    if (!run.picker)
        return;
    run.owner = GetWindow(run.picker, GW_OWNER);
    run.control->Release();
    run.sinkRefsWhileOpen = run.sink->refs;
    PostMessageW(run.picker, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
}
}

// ShowUpFileDlg without an active window: the picker has no owner, runs modally on
// the calling thread, and keeps the control alive while it is open even when the
// page drops its last reference meanwhile.
static void test_show_picker()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    CRecordingSink sink;
    ok(sink.Connect(control) == S_OK, "sink not connected\n");
    sink.point->Release();   // only the caller's reference keeps the object
    sink.point = nullptr;

    g_pickerRun = CPickerRun();
    g_pickerRun.control = control;
    g_pickerRun.sink = &sink;
    ok(GetActiveWindow() == nullptr, "the test thread has an active window\n");
    UINT_PTR timer = SetTimer(nullptr, 0, 50, OnPickerTimer);
    ok(timer != 0, "SetTimer failed: %lu\n", GetLastError());
    if (!timer)
    {
        control->Release();
        return;
    }
    HRESULT hr = control->ShowUpFileDlg();
    KillTimer(nullptr, timer);
    ok(hr == S_OK, "ShowUpFileDlg returned %#lx\n", hr);
    ok(g_pickerRun.picker != nullptr, "the picker never showed\n");
    if (!g_pickerRun.picker)
    {
        control->Release();   // the timer gave up without taking the reference
        return;
    }
    ok(g_pickerRun.owner == nullptr, "the picker has owner %p\n", g_pickerRun.owner);
    ok(g_pickerRun.sinkRefsWhileOpen > 1, "the control went while its picker was open\n");
    ok(sink.refs == 1, "the control outlived its picker (sink refs %ld)\n", sink.refs);
    ok(!IsWindow(g_pickerRun.picker), "the picker window is still there\n");
}

static HRESULT InvokeByName(IDispatch* dispatch, const wchar_t* name, VARIANT* args, UINT count, VARIANT* result,
                            WORD flags = DISPATCH_METHOD)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {args, nullptr, count, 0};
    UINT argErr = 0;
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, &argErr);
}

static void test_dispatch_by_name()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IDispatch* dispatch = control;

    UINT count = 0;
    ok(dispatch->GetTypeInfoCount(&count) == S_OK && count == 1, "GetTypeInfoCount gave %u\n", count);
    ITypeInfo* info = nullptr;
    HRESULT hr = dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    ok(hr == S_OK && info, "GetTypeInfo returned %#lx\n", hr);
    if (info)
        info->Release();
    hr = dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info);
    ok(hr == DISP_E_BADINDEX, "GetTypeInfo(1) returned %#lx\n", hr);

    static const struct
    {
        const wchar_t* name;
        DISPID id;
    } methods[] = {{L"CheckInstall", 1}, {L"AllowPopUp", 2}, {L"ShowUpFileDlg", 3}, {L"SelectComplete", 4},
                   {L"UpLoadInit", 5}, {L"UpLoadInfo", 6}, {L"UpLoadEnd", 7}, {L"DownLoadInit", 8},
                   {L"DownLoadInfo", 9}, {L"DownLoadEnd", 10}, {L"LauncherExplorer", 11},
                   {L"LauncherWebLink", 12}, {L"DownLoadSpInit", 13}, {L"selectcomplete", 4}};
    for (const auto& m : methods)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[1] = {const_cast<LPOLESTR>(m.name)};
        hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        ok(hr == S_OK && id == m.id, "%ls: %#lx, id %ld\n", m.name, hr, id);
    }
    DISPID id = 0;
    LPOLESTR unknown[1] = {const_cast<LPOLESTR>(L"NoSuchMethod")};
    hr = dispatch->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id);
    ok(hr == DISP_E_UNKNOWNNAME, "unknown name returned %#lx\n", hr);

    CRecordingSink sink;
    sink.Connect(control);

    hr = InvokeByName(dispatch, L"CheckInstall", nullptr, 0, nullptr);
    ok(hr == S_OK && sink.events.size() == 1, "CheckInstall by name: %#lx\n", hr);

    // Arguments go in reverse order; integers are coerced to strings by the dispatcher.
    VARIANT args[3];
    for (VARIANT& v : args)
        VariantInit(&v);
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(L"C:\\Data\\notes.txt");
    args[1].vt = VT_I4;
    args[1].lVal = 5;
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(L"-1");
    sink.events.clear();
    hr = InvokeByName(dispatch, L"SelectComplete", args, 3, nullptr);
    ok(hr == S_OK, "SelectComplete by name returned %#lx\n", hr);
    ok(sink.events.size() == 1 && W(sink.events[0], 1) == L"5" && W(sink.events[0], 0) == L"C:\\Data\\notes.txt",
       "coerced arguments not delivered\n");

    hr = InvokeByName(dispatch, L"SelectComplete", args + 1, 2, nullptr);
    ok(hr == DISP_E_BADPARAMCOUNT, "two arguments returned %#lx\n", hr);
    VARIANT four[4];
    for (VARIANT& v : four)
    {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
    }
    hr = InvokeByName(dispatch, L"SelectComplete", four, 4, nullptr);
    ok(hr == DISP_E_BADPARAMCOUNT, "four arguments returned %#lx\n", hr);

    VARIANT wrong;
    VariantInit(&wrong);
    wrong.vt = VT_UNKNOWN;
    wrong.punkVal = nullptr;
    VARIANT mixed[3] = {args[0], wrong, args[2]};
    hr = InvokeByName(dispatch, L"SelectComplete", mixed, 3, nullptr);
    ok(hr == DISP_E_TYPEMISMATCH, "an IUnknown argument returned %#lx\n", hr);

    // Refused before the platform's dispatcher converts anything: the argument error names the bad one.
    DISPID selectId = 4;
    UINT argErr = 0xdeadbeef;
    DISPPARAMS badType = {mixed, nullptr, 3, 0};
    hr = dispatch->Invoke(selectId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &badType, nullptr, nullptr, &argErr);
    ok(hr == DISP_E_TYPEMISMATCH && argErr == 1, "type mismatch: %#lx, argument %u\n", hr, argErr);
    hr = dispatch->Invoke(selectId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &badType, nullptr, nullptr,
                          nullptr);
    ok(hr == DISP_E_MEMBERNOTFOUND, "a method read as a property: %#lx\n", hr);
    DISPID namedIds[1] = {DISPID_PROPERTYPUT};
    DISPPARAMS badName = {args, namedIds, 3, 1};
    hr = dispatch->Invoke(selectId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &badName, nullptr, nullptr, nullptr);
    ok(hr == DISP_E_PARAMNOTFOUND, "a named argument naming no parameter: %#lx\n", hr);
    DISPPARAMS broken = {nullptr, nullptr, 3, 0};
    hr = dispatch->Invoke(selectId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr);
    ok(hr == E_INVALIDARG, "arguments missing from the block: %#lx\n", hr);

    // The [out, retval] string comes back as the call's result.
    VARIANT result;
    VariantInit(&result);
    VARIANT empty3[3];
    for (VARIANT& v : empty3)
    {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
    }
    hr = InvokeByName(dispatch, L"LauncherWebLink", empty3, 3, &result);
    ok(SUCCEEDED(hr) && result.vt == VT_BSTR && result.bstrVal, "LauncherWebLink by name: %#lx, vt %u\n", hr, result.vt);
    VariantClear(&result);

    VariantClear(&args[0]);
    VariantClear(&args[2]);
    sink.Disconnect();
    control->Release();
}

TEST_MAIN(TEST(test_query_interface), TEST(test_aggregation), TEST(test_object_safety), TEST(test_class_info),
          TEST(test_connection_point), TEST(test_events), TEST(test_event_delivery),
          TEST(test_show_picker), TEST(test_dispatch_by_name))

// Every test runs in a single-threaded apartment, as in the browser.
static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
