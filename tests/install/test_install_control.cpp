// The install check as the page reaches it: through the registered control's
// methods, with the DLL's own code, template and bounds. The Init methods
// run the check of their package against the local update server.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"
#include "harness/RecordingSink.h"

#include <objbase.h>
#include <cstring>

#include "TavrineControl.h"

namespace
{
const char kServed[] = "[Version]\r\nver=3.3\r\n";

bool CallUpLoadInit(void* context)
{
    HRESULT hr = static_cast<IVedADA*>(context)->UpLoadInit();
    ok(hr == S_OK, "UpLoadInit: %#lx", static_cast<unsigned long>(hr));
    return hr == S_OK;
}

bool CallDownLoadSpInit(void* context)
{
    HRESULT hr = static_cast<IVedADA*>(context)->DownLoadSpInit();
    ok(hr == S_OK, "DownLoadSpInit: %#lx", static_cast<unsigned long>(hr));
    return hr == S_OK;
}
}

static void test_init_methods_run_the_check()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ok(SUCCEEDED(hr), "CoInitializeEx: %#lx", static_cast<unsigned long>(hr));
    IVedADA* control = nullptr;
    hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA, reinterpret_cast<void**>(&control));
    ok(hr == S_OK && control, "CoCreateInstance: %#lx", static_cast<unsigned long>(hr));
    if (!control)
    {
        CoUninitialize();
        return;
    }

    // Sp package missing: DownLoadSpInit fetches and runs its setup program only.
    const PackageNames& sp = Package(false);
    ResetWorld();
    ServeFile(sp.versionUrl, kServed);
    SetupScript script;
    script.version = kServed;
    ServeSetup(false, script);
    ServeSetup(true, script);
    CheckRun run = Observe(CallDownLoadSpInit, control);
    ok(run.dialogShown && run.notices.empty(), "Sp install: shown %d, %zu notices", run.dialogShown,
       run.notices.size());
    ok(RequestCount(sp.setupUrl) == 1 && RequestCount(Package(true).setupUrl) == 0 && SetupRuns() == 1,
       "Sp install: Sp setup %d, main setup %d, runs %d", RequestCount(sp.setupUrl),
       RequestCount(Package(true).setupUrl), SetupRuns());
    ok(ReadAll(InstallDir() + sp.localVersion) == kServed, "Sp version not installed");
    ok(!run.statusTexts.empty() && run.statusTexts.back() == kStatusInstalling, "last status");

    // Main package current: UpLoadInit asks the server once and shows nothing.
    const PackageNames& main = Package(true);
    ResetWorld();
    ServeFile(main.versionUrl, kServed);
    WriteAll(InstallDir() + main.localVersion, kServed);
    run = Observe(CallUpLoadInit, control);
    ok(!run.dialogShown && run.notices.empty(), "main current: shown %d, %zu notices", run.dialogShown,
       run.notices.size());
    ok(RequestCount(main.versionUrl) == 1 && SetupRuns() == 0, "main current: %d version requests, %d runs",
       RequestCount(main.versionUrl), SetupRuns());

    // Main version fetch refused, nothing on disk: both notices, owned by the dialog.
    ResetWorld();
    SetServerOffline(true);
    run = Observe(CallUpLoadInit, control);
    SetServerOffline(false);
    ok(run.notices.size() == 2 && run.notices[0] == kNoticeDownloadFailed && run.notices[1] == kNoticeNoServerVersion,
       "refused: %zu notices", run.notices.size());

    control->Release();
    ResetWorld();
    CoUninitialize();
}

namespace
{
struct CDropRun
{
    IVedADA* control = nullptr;
    CRecordingSink* sink = nullptr;
    HWND dialog = nullptr;
    LONG sinkRefsWhileOpen = 0;
    int ticks = 0;
} g_dropRun;

BOOL CALLBACK FindInstallDialog(HWND hwnd, LPARAM)
{
    char caption[64] = {};
    GetWindowTextA(hwnd, caption, sizeof(caption));
    if (strcmp(caption, kInstallCaption) != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    g_dropRun.dialog = hwnd;
    return FALSE;
}

// Runs inside the install dialog's modal loop on the test thread, as a page's
// timer would: drops the page's only reference to the control.
void CALLBACK OnInstallTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), FindInstallDialog, 0);
    if (!g_dropRun.dialog && ++g_dropRun.ticks < 600)
        return;
    KillTimer(nullptr, id);
    if (!g_dropRun.dialog)
        return;
    IVedADA* control = g_dropRun.control;
    g_dropRun.control = nullptr;
    control->Release();
    g_dropRun.sinkRefsWhileOpen = g_dropRun.sink->refs;
}
}

// A page that lets go of the control while the install dialog is up: every
// method that may run the check keeps the control alive until it returns.
static void test_control_dropped_during_install()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ok(SUCCEEDED(hr), "CoInitializeEx: %#lx", static_cast<unsigned long>(hr));
    const PackageNames& main = Package(true);
    SetupScript script;
    script.version = kServed;
    script.delayMs = 1500;   // long enough for the timer to find the dialog
    struct Step
    {
        const char* name;
        HRESULT (*call)(IVedADA*);
    } steps[] = {
        {"UpLoadInit", [](IVedADA* c) { return c->UpLoadInit(); }},
        {"UpLoadEnd", [](IVedADA* c) {
             BSTR user = SysAllocString(L"user"), pw = SysAllocString(L"secret");
             HRESULT hr = c->UpLoadEnd(user, pw);
             SysFreeString(user);
             SysFreeString(pw);
             return hr;
         }},
    };
    for (const Step& step : steps)
    {
        ResetWorld();
        ServeFile(main.versionUrl, kServed);
        ServeSetup(true, script);
        IVedADA* control = nullptr;
        CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA, reinterpret_cast<void**>(&control));
        ok(control != nullptr, "%s: control not created", step.name);
        if (!control)
            continue;
        CRecordingSink sink;
        ok(sink.Connect(control) == S_OK, "%s: sink not connected", step.name);
        if (sink.point)
        {
            sink.point->Release();   // only the page's reference keeps the control
            sink.point = nullptr;
        }
        g_dropRun = CDropRun();
        g_dropRun.control = control;
        g_dropRun.sink = &sink;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, OnInstallTimer);
        hr = step.call(control);
        KillTimer(nullptr, timer);
        ok(g_dropRun.dialog != nullptr, "%s: the install dialog never showed", step.name);
        if (g_dropRun.control)
        {
            g_dropRun.control->Release();   // the timer gave up before taking it
            continue;
        }
        ok(hr == S_OK || hr == S_FALSE, "%s returned %#lx", step.name, static_cast<unsigned long>(hr));
        ok(g_dropRun.sinkRefsWhileOpen > 1, "%s: the control went while its install dialog was open", step.name);
        ok(sink.refs == 1, "%s: the control outlived the call (sink refs %ld)", step.name, sink.refs);
    }
    ResetWorld();
    CoUninitialize();
}

TEST_MAIN(TEST(test_init_methods_run_the_check), TEST(test_control_dropped_during_install))
