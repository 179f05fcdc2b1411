// The setup program of a build that pins its publisher: copies of the setup
// fixture signed at test time (sign_setups.py) with the pinned key, with
// another key, tampered after signing, with bytes the signature does not
// cover, and not signed at all. Checked by the verifier on its own (its
// folder's permissions, a file planted next to it, the revocation verdict on
// its chain), then served by the local update server to the install check,
// and once through the registered control.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"

#include <objbase.h>
#include <sddl.h>
#include <wincrypt.h>

#include <set>

#include "BuildConfig.h"
#include "TavrineControl.h"
#include "install/SetupFolderSecurity.h"
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
    {"padded", E_SETUP_UNSIGNED_BYTES, "setup program with bytes inside its certificate table after the signature"},
    {"appended", E_SETUP_UNSIGNED_BYTES, "setup program with bytes after its certificate table"},
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

std::set<std::string> SetupFolders()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((TempDir() + "TavrineSetup-*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(found.cFileName);
    while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

// A process of the user that drops a library into the setup program's folder
// as soon as a new one appears, during the download.
struct Planter
{
    std::set<std::string> before;
    HANDLE stop = nullptr;
    std::string planted;   // the path written, once done
};

DWORD WINAPI PlantThread(LPVOID param)
{
    Planter* p = static_cast<Planter*>(param);
    while (WaitForSingleObject(p->stop, 2) == WAIT_TIMEOUT && p->planted.empty())
        for (const std::string& name : SetupFolders())
        {
            if (p->before.count(name))
                continue;
            std::string path = TempDir() + name + "\\version.dll";
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                continue;
            DWORD written = 0;
            WriteFile(file, "MZ planted", 10, &written, nullptr);
            CloseHandle(file);
            p->planted = path;
            break;
        }
    return 0;
}

// The verifier's folder with a copy of a signed variant in it, checked.
HRESULT VerifyCopy(CSetupVerifier& setup, const char* variant)
{
    HRESULT hr = setup.PrepareFolder(TempDir(), "setup.exe");
    ok(hr == S_OK, "%s: PrepareFolder %#lx", variant, static_cast<unsigned long>(hr));
    ok(CopyFileA(VariantPath(variant).c_str(), setup.Path().c_str(), FALSE), "%s: cannot copy to %s (%lu)", variant,
       setup.Path().c_str(), GetLastError());
    return setup.Verify();
}

// The platform's access decision for a token of this process's user with its
// administrator group only for denying, as a process of that user without
// elevation has it.
bool UserMay(PSECURITY_DESCRIPTOR descriptor, DWORD access)
{
    // AccessCheck wants an owner and a group: the user's, as on the folder.
    char* dacl = nullptr;
    char* user = nullptr;
    HANDLE query = nullptr;
    BYTE buffer[256];
    DWORD length = 0;
    bool named = ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                      DACL_SECURITY_INFORMATION, &dacl, nullptr) &&
                 OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &query) &&
                 GetTokenInformation(query, TokenUser, buffer, sizeof(buffer), &length) &&
                 ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user);
    PSECURITY_DESCRIPTOR owned = nullptr;
    std::string text = named ? std::string("O:") + user + "G:" + user + dacl : std::string();
    named = named && ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &owned,
                                                                          nullptr);
    ok(named, "cannot give the descriptor an owner (%lu)", GetLastError());
    if (query)
        CloseHandle(query);
    LocalFree(dacl);
    LocalFree(user);
    if (!named)
        return false;
    descriptor = owned;

    HANDLE process = nullptr;
    HANDLE filtered = nullptr;
    HANDLE impersonation = nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    bool made = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &process) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    made = made && CreateRestrictedToken(process, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &filtered) &&
           DuplicateToken(filtered, SecurityImpersonation, &impersonation);
    ok(made, "cannot make a filtered token (%lu)", GetLastError());
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    bool checked = made && AccessCheck(descriptor, impersonation, access, &mapping, &privileges, &privilegesSize,
                                       &granted, &allowed);
    ok(!made || checked, "AccessCheck failed (%lu)", GetLastError());
    for (HANDLE h : {process, filtered, impersonation})
        if (h)
            CloseHandle(h);
    LocalFree(owned);
    return checked && allowed;
}

SignerChainStatus g_chainRow;
int g_chainHookCalls = 0;
size_t g_realChainLength = 0;

void ReplaceChainStatus(SignerChainStatus& chain)
{
    ++g_chainHookCalls;
    g_realChainLength = chain.certificates.size();
    chain = g_chainRow;
}

FILETIME Day(int day)
{
    SYSTEMTIME time = {2026, 3, 0, static_cast<WORD>(day), 12, 0, 0, 0};
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    return file;
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

// Closed after the download, the folder lets a process of the user list and
// read it, but not add a file or a folder. Wine keeps no permissions for files
// (only Unix modes, and the tests run as root), so where the folder's own
// descriptor does not come back protected, the decision is taken on the one
// the verifier applies.
static void test_folder_permissions()
{
    CSetupVerifier setup;
    ok(VerifyCopy(setup, "pinned") == S_OK, "pinned copy refused");
    std::string folder = setup.Path().substr(0, setup.Path().find_last_of('\\'));
    DWORD size = 0;
    GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::string applied(size ? size : 1, '\0');
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool kept = size && GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, &applied[0], size, &size) &&
                GetSecurityDescriptorControl(&applied[0], &control, &revision) && (control & SE_DACL_PROTECTED);
    CSetupFolderSecurity sealed;
    ok(sealed.Build(CSetupFolderSecurity::Stage::Sealed) == S_OK, "no sealed descriptor");
    PSECURITY_DESCRIPTOR descriptor = kept ? static_cast<PSECURITY_DESCRIPTOR>(&applied[0]) : sealed.Get();
    if (!kept)
        trace("the folder's descriptor is not kept here; deciding on the one applied\n");
    ok(!UserMay(descriptor, FILE_ADD_FILE), "the user may add a file to the closed folder");
    ok(!UserMay(descriptor, FILE_ADD_SUBDIRECTORY), "the user may add a folder to the closed folder");
    ok(UserMay(descriptor, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE),
       "the user may not list the closed folder");
    // While the download fills it, files but never folders.
    CSetupFolderSecurity filling;
    ok(filling.Build(CSetupFolderSecurity::Stage::Filling) == S_OK, "no filling descriptor");
    ok(UserMay(filling.Get(), FILE_ADD_FILE) && !UserMay(filling.Get(), FILE_ADD_SUBDIRECTORY),
       "filling folder: files %d, folders %d", UserMay(filling.Get(), FILE_ADD_FILE),
       UserMay(filling.Get(), FILE_ADD_SUBDIRECTORY));
    setup.Discard();
    ok(!FileExists(folder), "folder left after Discard");
}

// Something added next to the checked program is found just before the start:
// nothing is started and everything is deleted.
static void test_planted_before_start()
{
    ResetWorld();
    const char* plants[] = {"version.dll", "sub\\"};
    for (const char* plant : plants)
    {
        CSetupVerifier setup;
        ok(VerifyCopy(setup, "pinned") == S_OK, "%s: pinned copy refused", plant);
        std::string folder = setup.Path().substr(0, setup.Path().find_last_of('\\') + 1);
        std::string path = folder + plant;
        bool planted = path.back() == '\\' ? CreateDirectoryA(path.c_str(), nullptr) != FALSE
                                            : (WriteAll(path, "MZ planted"), FileExists(path));
        ok(planted, "%s: could not plant (%lu)", plant, GetLastError());
        HRESULT hr = setup.Start(nullptr);
        ok(hr == E_SETUP_FOLDER_CHANGED, "%s: Start %#lx", plant, static_cast<unsigned long>(hr));
        ok(!setup.IsHeld() && !FileExists(folder), "%s: the folder was kept", plant);
        ok(SetupRuns() == 0, "%s: the setup program ran", plant);
    }
}

// The chain as the signature check built it reaches the revocation verdict;
// the test platform does not look revocation up, so the hook puts each case's
// statuses in its place.
static void test_revocation_verdict()
{
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
    const DWORD offline = CERT_TRUST_IS_OFFLINE_REVOCATION;
    const DWORD revoked = CERT_TRUST_IS_REVOKED;
    const FILETIME never = {};
    struct
    {
        const char* name;
        std::vector<ChainCertificateStatus> certificates;   // signer first, root last
        bool timestamped;
        FILETIME signedAt;
        HRESULT expected;
    } rows[] = {
        {"all looked up, none revoked", {{0, true, never}, {0, true, never}, {0, false, never}}, false, never, S_OK},
        {"server offline", {{unknown | offline, true, never}, {0, false, never}}, false, never,
         CRYPT_E_REVOCATION_OFFLINE},
        {"status unknown", {{unknown, true, never}, {0, false, never}}, false, never, CRYPT_E_NO_REVOCATION_CHECK},
        {"look-up switched off", {{0, false, never}, {0, false, never}}, false, never, CRYPT_E_NO_REVOCATION_CHECK},
        {"intermediate revoked", {{0, true, never}, {revoked, true, Day(9)}, {0, false, never}}, true, Day(20),
         CERT_E_REVOKED},
        {"revoked, no time stamp", {{revoked, true, Day(9)}, {0, false, never}}, false, Day(1), CERT_E_REVOKED},
        {"revoked after the time stamp", {{revoked, true, Day(9)}, {0, false, never}}, true, Day(1), S_OK},
        {"revoked before the time stamp", {{revoked, true, Day(9)}, {0, false, never}}, true, Day(20),
         CERT_E_REVOKED},
        {"revoked, date unknown", {{revoked, true, never}, {0, false, never}}, true, Day(1), CERT_E_REVOKED},
        {"root unknown and offline", {{0, true, never}, {unknown | offline, false, never}}, false, never, S_OK},
    };
    OverrideChainStatusHook(ReplaceChainStatus);
    bool unknownRefused = true;
    for (const auto& row : rows)
    {
        g_chainRow.certificates = row.certificates;
        g_chainRow.timestamped = row.timestamped;
        g_chainRow.signedAt = row.signedAt;
        g_chainHookCalls = 0;
        CSetupVerifier setup;
        HRESULT hr = VerifyCopy(setup, "pinned");
        ok(g_chainHookCalls == 1 && g_realChainLength >= 1, "%s: chain reached %d times, %zu certificates", row.name,
           g_chainHookCalls, g_realChainLength);
        ok(hr == row.expected, "%s: Verify %#lx, expected %#lx", row.name, static_cast<unsigned long>(hr),
           static_cast<unsigned long>(row.expected));
        ok(setup.IsHeld() == SUCCEEDED(row.expected), "%s: held %d", row.name, setup.IsHeld());
        if (row.expected == CRYPT_E_REVOCATION_OFFLINE || row.expected == CRYPT_E_NO_REVOCATION_CHECK)
            unknownRefused = unknownRefused && hr == row.expected && g_chainHookCalls == 1;
        setup.Discard();
    }
    OverrideChainStatusHook(nullptr);
    fault_row("revocation of the signer's certificate cannot be learnt (server offline, status unknown)",
              "the setup program is refused whatever the user's trust settings accept",
              unknownRefused ? "refused (chain statuses put in place by a test hook)" : "accepted", unknownRefused);
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
                std::vector<std::string> copies = CopiesInProfile(ReadAll(VariantPath(v.name)));
                ok(copies.empty(), "%s: %zu copies left in the profile, one at %s", what.c_str(), copies.size(),
                   copies.empty() ? "" : copies[0].c_str());
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

// A process of the user drops a library next to the setup program while it
// downloads: the program is refused and nothing runs.
static void test_planted_during_download()
{
    UseControlResources();
    const PackageNames& p = Package(true);
    ResetWorld();
    ServeFile(p.versionUrl, kSignedVersion);
    ServeFile(p.setupUrl, ReadAll(VariantPath("pinned")));
    Planter planter;
    planter.before = SetupFolders();
    planter.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, PlantThread, &planter, 0, nullptr);
    CheckRun run = RunCheck(true);
    SetEvent(planter.stop);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(planter.stop);
    ok(!planter.planted.empty(), "nothing was planted");
    bool refused = !run.answer && run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed &&
                   SetupRuns() == 0;
    ok(refused, "planted: answer %d, %zu notices, %d runs", run.answer, run.notices.size(), SetupRuns());
    ok(HeldSetupPrograms() == 0 && !FileExists(planter.planted), "planted: the folder was kept");
    fault_row("a process of the user drops a library next to the setup program before it starts",
              "download-failure message, answer false, nothing run, the folder deleted", DescribeRun(run),
              refused && HeldSetupPrograms() == 0);
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

TEST_MAIN(TEST(test_publisher_pins), TEST(test_verifier), TEST(test_folder_permissions),
          TEST(test_planted_before_start), TEST(test_revocation_verdict), TEST(test_served_setups),
          TEST(test_planted_during_download), TEST(test_through_control))
