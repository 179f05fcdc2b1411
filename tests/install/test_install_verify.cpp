// The setup program of a build that pins its publisher: copies of the setup
// fixture signed at test time (sign_setups.py) with the pinned key, with
// another key, tampered after signing, and not signed at all. Checked by the
// verifier on its own, then served by the local update server to the install
// check, and once through the registered control.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"

#include <objbase.h>

#include "BuildConfig.h"
#include "TavrineControl.h"
#include "install/SetupVerifier.h"
#include "programs/pagehost/BrowserSite.h"

namespace
{
// The version text the signed copies install (sign_setups.py).
const char kSignedVersion[] = "[Version]\r\nver=signed-9\r\n";

struct Variant
{
    const char* name;     // file in the signed-setups folder
    HRESULT expected;     // the verifier's answer
    const char* fault;    // fault-matrix row, or null for the good one
};
const Variant kVariants[] = {
    {"unsigned", TRUST_E_NOSIGNATURE, "setup program carries no signature"},
    {"tampered", TRUST_E_BAD_DIGEST, "setup program changed after it was signed"},
    {"stranger", E_SETUP_PUBLISHER_MISMATCH, "setup program validly signed by a key the build does not pin"},
    {"pinned", S_OK, nullptr},
};

std::string VariantPath(const char* name)
{
    return WindowsPathOf(EnvOr("TAVRINE_SIGNED_SETUPS")) + "\\" + name + ".exe";
}

// Setup programs still on disk in the per-download folders under the temp dir.
int HeldSetupPrograms()
{
    int count = 0;
    WIN32_FIND_DATAA folder;
    HANDLE find = FindFirstFileA((TempDir() + "TavrineSetup-*").c_str(), &folder);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
    {
        std::string inside = TempDir() + folder.cFileName + "\\";
        for (bool main : {true, false})
            count += FileExists(inside + Package(main).setupFile) ? 1 : 0;
    } while (FindNextFileA(find, &folder));
    FindClose(find);
    return count;
}

bool CallUpLoadInit(void* context)
{
    return static_cast<IVedADA*>(context)->UpLoadInit() == S_OK;
}
}

static void test_publisher_pins()
{
    const std::string a(64, 'a'), b = std::string(63, '0') + "F";
    struct
    {
        std::string text;
        std::vector<std::string> pins;
    } cases[] = {
        {"", {}},
        {a, {a}},
        {std::string(64, 'A'), {a}},
        {a + ", " + b + ";" + a, {a, std::string(63, '0') + "f", a}},
        {a + "0", {}},                        // 65 digits
        {a.substr(1), {}},                    // 63 digits
        {std::string(63, 'a') + "g," + b, {std::string(63, '0') + "f"}},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> pins = ParsePublisherPins(c.text.c_str());
        ok(pins == c.pins, "\"%s\": %zu pins, expected %zu", c.text.c_str(), pins.size(), c.pins.size());
    }
    ok(ParsePublisherPins(nullptr).empty(), "null text gave pins");
    ok(CSetupVerifier::IsEnabled(), "the verified-setup tests run only in a build that pins a publisher");
}

static void test_verifier()
{
    for (const Variant& v : kVariants)
    {
        CSetupVerifier setup;
        HRESULT hr = setup.PrepareFolder(TempDir(), "setup.exe");
        ok(hr == S_OK, "%s: PrepareFolder %#lx", v.name, static_cast<unsigned long>(hr));
        std::string path = setup.Path();
        ok(CopyFileA(VariantPath(v.name).c_str(), path.c_str(), FALSE), "%s: cannot copy to %s (%lu)", v.name,
           path.c_str(), GetLastError());
        hr = setup.Verify();
        ok(hr == v.expected, "%s: Verify %#lx, expected %#lx", v.name, static_cast<unsigned long>(hr),
           static_cast<unsigned long>(v.expected));
        std::string folder = path.substr(0, path.find_last_of('\\'));
        if (FAILED(v.expected))
        {
            ok(!setup.IsHeld() && !FileExists(path) && !FileExists(folder), "%s: program or folder left", v.name);
            continue;
        }

        // Held: nobody can change, delete or move the program or its folder.
        ok(setup.IsHeld(), "%s: not held", v.name);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ok(writer == INVALID_HANDLE_VALUE, "%s: opened for writing while held", v.name);
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
        ok(!DeleteFileA(path.c_str()), "%s: deleted while held", v.name);
        ok(!MoveFileA(path.c_str(), (path + ".old").c_str()), "%s: renamed while held", v.name);
        ok(!MoveFileA(folder.c_str(), (folder + ".old").c_str()), "%s: folder renamed while held", v.name);
        // The next download clears earlier folders, but not one still held.
        CSetupVerifier next;
        ok(next.PrepareFolder(TempDir(), "setup.exe") == S_OK && next.Path() != path, "%s: next folder %s", v.name,
           next.Path().c_str());
        ok(FileExists(path), "%s: a held program was cleared by the next download", v.name);
        next.Discard();

        setup.Release();
        ok(!setup.IsHeld(), "%s: still held after Release", v.name);
        ok(DeleteFileA(path.c_str()) && RemoveDirectoryA(folder.c_str()), "%s: cannot clean up after Release (%lu)",
           v.name, GetLastError());
    }
}

static void test_served_setups()
{
    UseControlResources();
    for (bool main : {true, false})
        for (const Variant& v : kVariants)
        {
            const PackageNames& p = Package(main);
            ResetWorld();
            ServeFile(p.versionUrl, kSignedVersion);
            ServeFile(p.setupUrl, ReadAll(VariantPath(v.name)));
            CheckRun run = RunCheck(main);
            std::string what = std::string(main ? "main " : "Sp ") + v.name;
            if (v.fault)
            {
                bool refused = !run.answer && run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed &&
                               SetupRuns() == 0;
                ok(refused, "%s: answer %d, %zu notices, %d runs", what.c_str(), run.answer, run.notices.size(),
                   SetupRuns());
                ok(!FileExists(TempDir() + p.setupFile) && HeldSetupPrograms() == 0, "%s: the program was kept",
                   what.c_str());
                ok(!AnyTextStartsWith(run.statusTexts, kStatusInstalling), "%s: installing status shown", what.c_str());
                ok(!FileExists(InstallDir() + p.localVersion), "%s: something was installed", what.c_str());
                if (main)
                    fault_row(v.fault, "download-failure message, answer false, program deleted and never run",
                              DescribeRun(run), refused && HeldSetupPrograms() == 0);
                continue;
            }
            ok(run.answer && run.notices.empty() && SetupRuns() == 1, "%s: answer %d, %zu notices, %d runs",
               what.c_str(), run.answer, run.notices.size(), SetupRuns());
            ok(ReadAll(InstallDir() + p.localVersion) == kSignedVersion, "%s: version not installed", what.c_str());
            ok(!run.statusTexts.empty() && run.statusTexts.back() == kStatusInstalling, "%s: last status",
               what.c_str());
        }
}

// The DLL's own build of the check: the stranger's program is refused, the
// publisher's runs.
static void test_through_control()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ok(SUCCEEDED(hr), "CoInitializeEx: %#lx", static_cast<unsigned long>(hr));
    IVedADA* control = nullptr;
    hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA, reinterpret_cast<void**>(&control));
    ok(hr == S_OK && control, "CoCreateInstance: %#lx", static_cast<unsigned long>(hr));
    // A build also locked to its sites serves only an allowed page: the control
    // gets the site a browser would give it, on such a page.
    const std::wstring pageUrl = L"https://www.tavrine.example/upload.html";
    CIfacePtr<IObjectWithSite> withSite;
    if (control && sizeof(TAVRINE_ALLOWED_SITES) > 1)
    {
        hr = control->QueryInterface(IID_IObjectWithSite, withSite.PutVoid());
        CIfacePtr<IOleClientSite> site;
        site.Attach(new CClientSite(pageUrl, SiteVia::Both));
        ok(hr == S_OK && SUCCEEDED(withSite->SetSite(site.Get())), "site offered: %#lx", static_cast<unsigned long>(hr));
    }
    if (control)
    {
        const PackageNames& p = Package(true);
        for (const char* name : {"stranger", "pinned"})
        {
            ResetWorld();
            ServeFile(p.versionUrl, kSignedVersion);
            ServeFile(p.setupUrl, ReadAll(VariantPath(name)));
            Observe(CallUpLoadInit, control);
            bool pinned = name[0] == 'p';
            ok(SetupRuns() == (pinned ? 1 : 0), "%s: %d runs", name, SetupRuns());
            ok(FileExists(InstallDir() + p.localVersion) == pinned, "%s: installed %d", name,
               FileExists(InstallDir() + p.localVersion));
        }
        if (withSite)
        {
            withSite->SetSite(nullptr);
            withSite.Reset();
        }
        control->Release();
    }
    CoUninitialize();
}

TEST_MAIN(TEST(test_publisher_pins), TEST(test_verifier), TEST(test_served_setups), TEST(test_through_control))
