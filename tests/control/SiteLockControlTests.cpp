// The control of a build locked to its sites, through COM: it takes a site
// (IObjectWithSite), and with no site, or a site that cannot tell the page's
// URL, every method refuses with S_FALSE and does nothing. Pages with URLs are
// driven through the page host (tests/script/locked_*.js).
#include <windows.h>
#include <shlwapi.h>
#include <ocidl.h>
#include <objsafe.h>
#include <string>

#include "TavrineControl.h"
#include "harness/RecordingSink.h"
#include "harness/TestHarness.h"

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
}

static void test_site_identity()
{
    IVedADA* control = CreateControl();
    if (!control)
        return;
    IObjectWithSite* withSite = nullptr;
    HRESULT hr = control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
    ok(hr == S_OK && withSite, "IObjectWithSite: %#lx\n", hr);
    if (!withSite)
    {
        control->Release();
        return;
    }
    IUnknown *unk1 = nullptr, *unk2 = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1));
    withSite->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2));
    ok(unk1 && unk1 == unk2, "IObjectWithSite leads to another IUnknown: %p %p\n", unk1, unk2);
    unk1->Release();
    unk2->Release();

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

TEST_MAIN(TEST(test_site_identity), TEST(test_refused_without_url))

// Every test runs in a single-threaded apartment, as in the browser.
static struct CComApartment
{
    CComApartment() { CoInitialize(nullptr); }
    ~CComApartment() { CoUninitialize(); }
} g_apartment;
