// The control of a build locked to its sites, through COM: it takes a site
// (IObjectWithSite) and an object tag's client site (IOleObject, answered as a
// control without a user interface answers it), reads the page from the client
// site first, and with no site, or a site that cannot tell the page's URL, every
// method refuses with S_FALSE and does nothing. Pages that navigate and frames
// are driven through the page host (tests/script/locked_*.js).
#include <windows.h>
#include <shlwapi.h>
#include <ocidl.h>
#include <objsafe.h>
#include <string>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"
#include "harness/TestHarness.h"
#include "programs/pagehost/BrowserSite.h"

namespace
{
const char kAllowKey[] = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

// A site that answers nothing but IUnknown: it cannot tell the page's URL.
class CBlindSite : public IUnknown
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    LONG refs = 1;
};

bool PopUpValueExists(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAllowKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// The control's interface iid, checked to lead back to the control's own IUnknown.
template <class T>
T* QuerySameObject(IVedADA* control, REFIID iid, const char* name)
{
    T* iface = nullptr;
    HRESULT hr = control->QueryInterface(iid, reinterpret_cast<void**>(&iface));
    ok(hr == S_OK && iface, "%s: %#lx\n", name, hr);
    if (!iface)
        return nullptr;
    IUnknown *unk1 = nullptr, *unk2 = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1));
    iface->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2));
    ok(unk1 && unk1 == unk2, "%s leads to another IUnknown: %p %p\n", name, unk1, unk2);
    if (unk1)
        unk1->Release();
    if (unk2)
        unk2->Release();
    return iface;
}
}

static void test_site_identity()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IObjectWithSite* withSite = QuerySameObject<IObjectWithSite>(control, IID_IObjectWithSite, "IObjectWithSite");
    if (!withSite)
    {
        control->Release();
        return;
    }
    HRESULT hr;
    IObjectSafety* safety = nullptr;
    control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
    DWORD supported = 0xdeadbeef, enabled = 0xdeadbeef;
    hr = safety->GetInterfaceSafetyOptions(IID_IObjectWithSite, &supported, &enabled);
    ok(hr == S_OK && supported == 3 && enabled == 0, "safety of IObjectWithSite: %#lx %lu %lu\n", hr, supported,
       enabled);
    safety->Release();

    void* out = reinterpret_cast<void*>(0xdeadbeef);
    hr = withSite->GetSite(IID_IUnknown, &out);
    ok(hr == E_FAIL && out == nullptr, "GetSite without a site: %#lx %p\n", hr, out);

    CBlindSite site;
    hr = withSite->SetSite(&site);
    ok(hr == S_OK && site.refs == 2, "SetSite: %#lx, site references %ld\n", hr, site.refs);
    hr = withSite->GetSite(IID_IUnknown, &out);
    ok(hr == S_OK && out == &site, "GetSite: %#lx %p\n", hr, out);
    if (hr == S_OK)
        site.Release();
    out = reinterpret_cast<void*>(0xdeadbeef);
    hr = withSite->GetSite(IID_IOleClientSite, &out);
    ok(hr == E_NOINTERFACE && out == nullptr, "GetSite of what the site lacks: %#lx %p\n", hr, out);

    hr = withSite->SetSite(nullptr);
    ok(hr == S_OK && site.refs == 1, "SetSite(NULL): %#lx, site references %ld\n", hr, site.refs);
    hr = withSite->GetSite(IID_IUnknown, &out);
    ok(hr == E_FAIL, "GetSite after SetSite(NULL): %#lx\n", hr);

    // The object gives its site back when it goes.
    withSite->SetSite(&site);
    withSite->Release();
    ok(control->Release() == 0, "the control outlived its last reference\n");
    ok(site.refs == 1, "the site kept %ld references after the control went\n", site.refs);
}

// With no site and with one that cannot tell its URL: S_FALSE from every
// method, no event, no pop-up value, LauncherWebLink "0".
static void test_refused_without_url()
{
    const struct
    {
        const char* name;
        bool blindSite;
    } situations[] = {{"no site", false}, {"a site without a URL", true}};
    for (const auto& situation : situations)
    {
        IVedADA* control = CreateControl();
        if (!control)
            return;
        CBlindSite site;
        if (situation.blindSite)
        {
            IObjectWithSite* withSite = nullptr;
            control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
            if (withSite)
            {
                withSite->SetSite(&site);
                withSite->Release();
            }
        }
        CRecordingSink sink;
        HRESULT hr = sink.Connect(control);
        ok(hr == S_OK, "%s: connecting the sink: %#lx\n", situation.name, hr);

        const char popUpName[] = "locked-test.tavrine.example";
        SHDeleteValueA(HKEY_CURRENT_USER, kAllowKey, popUpName);
        BSTR a = SysAllocString(L"C:\\a.txt"), b = SysAllocString(L"1"), c = SysAllocString(L"-1");
        BSTR site1 = SysAllocString(L"locked-test.tavrine.example");
        BSTR user = SysAllocString(L"user"), password = SysAllocString(L"pw");
        BSTR link = SysAllocString(L"https://www.tavrine.example/s/1");

        int failuresBefore = FailureCount();
        hr = control->CheckInstall();
        ok(hr == S_FALSE, "%s: CheckInstall: %#lx\n", situation.name, hr);
        hr = control->SelectComplete(a, b, c);
        ok(hr == S_FALSE, "%s: SelectComplete: %#lx\n", situation.name, hr);
        hr = control->AllowPopUp(site1);
        ok(hr == S_FALSE, "%s: AllowPopUp: %#lx\n", situation.name, hr);
        ok(!PopUpValueExists(popUpName), "%s: AllowPopUp wrote its value\n", situation.name);
        ok(sink.events.empty(), "%s: %u events reached the page\n", situation.name,
           static_cast<unsigned>(sink.events.size()));

        // The rest would open the picker or the install dialog if they went ahead.
        if (FailureCount() == failuresBefore)
        {
            const struct
            {
                const char* method;
                HRESULT hr;
            } calls[] = {
                {"ShowUpFileDlg", control->ShowUpFileDlg()},
                {"UpLoadInit", control->UpLoadInit()},
                {"UpLoadInfo", control->UpLoadInfo(a)},
                {"UpLoadEnd", control->UpLoadEnd(user, password)},
                {"DownLoadInit", control->DownLoadInit()},
                {"DownLoadSpInit", control->DownLoadSpInit()},
                {"DownLoadInfo", control->DownLoadInfo(b, a)},
                {"DownLoadEnd", control->DownLoadEnd(user, password, c)},
                {"LauncherExplorer", control->LauncherExplorer(user, password)},
            };
            for (const auto& call : calls)
                ok(call.hr == S_FALSE, "%s: %s: %#lx\n", situation.name, call.method, call.hr);

            BSTR answer = reinterpret_cast<BSTR>(0xdeadbeef);
            hr = control->LauncherWebLink(user, password, link, &answer);
            ok(hr == S_FALSE && answer && lstrcmpW(answer, L"0") == 0 && SysStringLen(answer) == 1,
               "%s: LauncherWebLink: %#lx\n", situation.name, hr);
            if (answer != reinterpret_cast<BSTR>(0xdeadbeef))
                SysFreeString(answer);
            ok(sink.events.empty(), "%s: events reached the page\n", situation.name);
        }

        SysFreeString(a);
        SysFreeString(b);
        SysFreeString(c);
        SysFreeString(site1);
        SysFreeString(user);
        SysFreeString(password);
        SysFreeString(link);
        sink.Disconnect();
        control->Release();
        ok(site.refs == 1, "%s: the site kept %ld references\n", situation.name, site.refs);
    }
}

// IOleObject as an object without verbs, extent or user interface answers it.
static void test_ole_object()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IOleObject* object = QuerySameObject<IOleObject>(control, IID_IOleObject, "IOleObject");
    if (!object)
    {
        control->Release();
        return;
    }
    HRESULT hr;
    DWORD status = 0xdeadbeef;
    hr = object->GetMiscStatus(DVASPECT_CONTENT, &status);
    const DWORD expected = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_NOUIACTIVATE |
                           OLEMISC_CANTLINKINSIDE;
    ok(hr == S_OK && status == expected, "GetMiscStatus: %#lx %#lx\n", hr, status);
    ok(!(status & (OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT)), "it asks for activation: %#lx\n", status);

    CLSID clsid = GUID_NULL;
    hr = object->GetUserClassID(&clsid);
    ok(hr == S_OK && IsEqualCLSID(clsid, CLSID_VedADA), "GetUserClassID: %#lx\n", hr);

    IEnumOLEVERB* verbs = reinterpret_cast<IEnumOLEVERB*>(0xdeadbeef);
    IMoniker* moniker = reinterpret_cast<IMoniker*>(0xdeadbeef);
    IDataObject* data = reinterpret_cast<IDataObject*>(0xdeadbeef);
    LPOLESTR userType = reinterpret_cast<LPOLESTR>(0xdeadbeef);
    SIZEL size = {7, 7}, wanted = {100, 100};
    RECT rect = {0, 0, 10, 10};
    const struct
    {
        const char* call;
        HRESULT hr, expected;
    } calls[] = {
        {"DoVerb(INPLACEACTIVATE)", object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, &rect),
         OLEOBJ_E_NOVERBS},
        {"DoVerb(SHOW)", object->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, 0, nullptr, &rect), OLEOBJ_E_NOVERBS},
        {"EnumVerbs", object->EnumVerbs(&verbs), OLEOBJ_E_NOVERBS},
        {"SetExtent", object->SetExtent(DVASPECT_CONTENT, &wanted), E_FAIL},
        {"GetExtent(CONTENT)", object->GetExtent(DVASPECT_CONTENT, &size), S_OK},
        {"GetExtent(ICON)", object->GetExtent(DVASPECT_ICON, &wanted), E_INVALIDARG},
        {"GetMoniker", object->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &moniker), E_NOTIMPL},
        {"SetMoniker", object->SetMoniker(OLEWHICHMK_OBJFULL, nullptr), E_NOTIMPL},
        {"GetClipboardData", object->GetClipboardData(0, &data), E_NOTIMPL},
        {"InitFromData", object->InitFromData(nullptr, TRUE, 0), E_NOTIMPL},
        {"GetUserType", object->GetUserType(USERCLASSTYPE_FULL, &userType), OLE_S_USEREG},
        {"SetHostNames", object->SetHostNames(L"host", L"page"), S_OK},
        {"Update", object->Update(), S_OK},
        {"IsUpToDate", object->IsUpToDate(), S_OK},
        {"Unadvise", object->Unadvise(1), OLE_E_NOCONNECTION},
        {"SetColorScheme", object->SetColorScheme(nullptr), E_NOTIMPL},
        {"Close", object->Close(OLECLOSE_NOSAVE), S_OK},
    };
    for (const auto& call : calls)
        ok(call.hr == call.expected, "%s: %#lx, expected %#lx\n", call.call, call.hr, call.expected);
    ok(!verbs && !moniker && !data && !userType, "out-params left set: %p %p %p %p\n", verbs, moniker, data,
       userType);
    ok(size.cx == 0 && size.cy == 0, "extent %ld x %ld\n", size.cx, size.cy);

    // The client site: held with a reference, handed back, dropped by NULL.
    CPageUrls urls;
    urls.document = urls.browser = L"https://www.tavrine.example/share/";
    CClientSite* site = new CClientSite(urls, SiteVia::Both);
    IOleClientSite* back = reinterpret_cast<IOleClientSite*>(0xdeadbeef);
    hr = object->GetClientSite(&back);
    ok(hr == S_OK && back == nullptr, "GetClientSite without a site: %#lx %p\n", hr, back);
    hr = object->SetClientSite(site);
    ok(hr == S_OK, "SetClientSite: %#lx\n", hr);
    hr = object->GetClientSite(&back);
    ok(hr == S_OK && back == site, "GetClientSite: %#lx %p\n", hr, back);
    if (back)
        back->Release();
    ok(site->AddRef() == 3, "the control does not hold the client site exactly once\n");
    site->Release();
    object->SetClientSite(nullptr);
    ok(site->AddRef() == 2, "SetClientSite(NULL) kept the site\n");
    site->Release();

    // The object gives its client site back when it goes.
    object->SetClientSite(site);
    object->Release();
    ok(control->Release() == 0, "the control outlived its last reference\n");
    ok(site->Release() == 0, "the client site outlived the control\n");
}

// Both sites are kept; the client site tells the page when there is one.
static void test_both_sites()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IOleObject* object = nullptr;
    IObjectWithSite* withSite = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object));
    control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
    ok(object && withSite, "IOleObject %p, IObjectWithSite %p\n", object, withSite);
    if (!object || !withSite)
    {
        if (object)
            object->Release();
        if (withSite)
            withSite->Release();
        control->Release();
        return;
    }
    CPageUrls allowed, foreign;
    allowed.document = allowed.browser = L"https://www.tavrine.example/share/";
    foreign.document = foreign.browser = L"https://evil.test/";
    CIfacePtr<IOleClientSite> allowedSite, foreignSite;
    allowedSite.Attach(new CClientSite(allowed, SiteVia::Both));
    foreignSite.Attach(new CClientSite(foreign, SiteVia::Both));

    const struct
    {
        const char* situation;
        IOleClientSite* clientSite;
        IOleClientSite* scriptSite;
        HRESULT expected;
    } rows[] = {
        {"allowed client site, foreign script site", allowedSite.Get(), foreignSite.Get(), S_OK},
        {"foreign client site, allowed script site", foreignSite.Get(), allowedSite.Get(), S_FALSE},
        {"no client site, allowed script site", nullptr, allowedSite.Get(), S_OK},
        {"allowed client site, no script site", allowedSite.Get(), nullptr, S_OK},
        {"no client site, foreign script site", nullptr, foreignSite.Get(), S_FALSE},
    };
    for (const auto& row : rows)
    {
        object->SetClientSite(row.clientSite);
        withSite->SetSite(row.scriptSite);
        CRecordingSink sink;
        sink.Connect(control);
        HRESULT hr = control->CheckInstall();
        ok(hr == row.expected, "%s: CheckInstall %#lx\n", row.situation, hr);
        ok(sink.events.size() == (row.expected == S_OK ? 1u : 0u), "%s: %u events\n", row.situation,
           static_cast<unsigned>(sink.events.size()));
        sink.Disconnect();

        // Each site is kept as given.
        IOleClientSite* back = nullptr;
        object->GetClientSite(&back);
        ok(back == row.clientSite, "%s: GetClientSite %p\n", row.situation, back);
        if (back)
            back->Release();
        IUnknown* scriptBack = nullptr;
        withSite->GetSite(IID_IOleClientSite, reinterpret_cast<void**>(&scriptBack));
        ok(scriptBack == row.scriptSite, "%s: GetSite %p\n", row.situation, scriptBack);
        if (scriptBack)
            scriptBack->Release();
    }
    object->SetClientSite(nullptr);
    withSite->SetSite(nullptr);
    object->Release();
    withSite->Release();
    control->Release();
}

// A page handler that runs while the control asks its site for the page (a
// browser may pump messages there) and drops the page's last reference: the
// call still runs on a live object, and the object goes when the call ends.
static void test_released_while_reading()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    CRecordingSink sink;
    HRESULT hr = sink.Connect(control);
    ok(hr == S_OK, "connecting the sink: %#lx\n", hr);
    // The sink's own hold on the connection point would keep the control alive.
    if (sink.point)
    {
        sink.point->Release();
        sink.point = nullptr;
    }
    LONG sinkRefsConnected = sink.refs;

    CPageUrls urls;
    urls.document = urls.browser = L"https://www.tavrine.example/share/";
    IVedADA* page = control;
    urls.whileReading = [&page]() {
        if (page)
            page->Release();
        page = nullptr;
    };
    IOleObject* object = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object));
    if (object)
    {
        CIfacePtr<IOleClientSite> site;
        site.Attach(new CClientSite(urls, SiteVia::Both));
        object->SetClientSite(site.Get());
        object->Release();
    }
    hr = control->CheckInstall();
    ok(!page, "the page kept its reference\n");
    ok(hr == S_OK, "CheckInstall: %#lx\n", hr);
    ok(sink.events.size() == 1, "%u events reached the page\n", static_cast<unsigned>(sink.events.size()));
    ok(sink.refs == sinkRefsConnected - 1, "the control lived on after the call: sink references %ld of %ld\n",
       sink.refs, sinkRefsConnected);
    urls.whileReading = nullptr;
}

TEST_MAIN(TEST(test_site_identity), TEST(test_refused_without_url), TEST(test_ole_object), TEST(test_both_sites),
          TEST(test_released_while_reading))

// Every test runs in a single-threaded apartment, as in the browser.
static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
