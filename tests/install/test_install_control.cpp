// The install check as the page reaches it: through the registered control's
// methods, with the DLL's own code, template and bounds. The Init methods
// run the check of their package against the local update server.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"

#include <objbase.h>

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

TEST_MAIN(TEST(test_init_methods_run_the_check))
