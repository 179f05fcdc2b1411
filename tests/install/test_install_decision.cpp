// Every row of the install check's decision, for the main package and the Sp
// package, against the local update server: companion window open, versions
// equal, installed version missing or different, setup download failing, and
// the version fetch failing with and without an earlier server copy.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"

namespace
{
const char kServed[] = "[Version]\r\nver=5.1.0.7\r\n";
const char kOld[] = "[Version]\r\nver=5.0.9.2\r\n";

const char* Name(bool main)
{
    return main ? "main" : "Sp";
}

// Nothing of the other package's was asked for.
void CheckOnlyOwnUrls(bool main)
{
    const PackageNames& other = Package(!main);
    ok(RequestCount(other.versionUrl) == 0 && RequestCount(other.setupUrl) == 0, "%s: the other package's URLs used",
       Name(main));
}
}

static void test_companion_window_open()
{
    UseControlResources();
    ResetWorld();
    ServeFile(Package(true).versionUrl, kServed);
    ServeFile(Package(false).versionUrl, kServed);
    for (const char* windowClass : {"tavrine_class_down", "tavrine_class_upload", "tavrine_class_explorer"})
    {
        HWND companion = CreateCompanionWindow(windowClass);
        ok(companion != nullptr, "cannot create a %s window", windowClass);
        for (bool main : {true, false})
        {
            CheckRun run = RunCheck(main);
            ok(run.answer, "%s, %s open: answer false", Name(main), windowClass);
            ok(!run.dialogShown && run.notices.empty(), "%s, %s open: dialog %d, %zu notices", Name(main),
               windowClass, run.dialogShown, run.notices.size());
        }
        DestroyWindow(companion);
    }
    // No network access and no file access.
    ok(RequestCount(Package(true).versionUrl) == 0 && RequestCount(Package(false).versionUrl) == 0,
       "the server was asked");
    ok(!FileExists(TempDir() + Package(true).serverCopy) && !FileExists(TempDir() + Package(false).serverCopy),
       "a server copy was written");
}

static void test_versions_equal()
{
    UseControlResources();
    for (bool main : {true, false})
    {
        const PackageNames& p = Package(main);
        ResetWorld();
        ServeFile(p.versionUrl, kServed);
        ServeSetup(main, SetupScript());
        WriteAll(InstallDir() + p.localVersion, kServed);
        CheckRun run = RunCheck(main);
        ok(run.answer, "%s: answer false", Name(main));
        ok(!run.dialogShown, "%s: the dialog became visible", Name(main));
        ok(run.notices.empty(), "%s: %zu notices", Name(main), run.notices.size());
        ok(RequestCount(p.versionUrl) == 1, "%s: %d version requests", Name(main), RequestCount(p.versionUrl));
        ok(RequestCount(p.setupUrl) == 0 && SetupRuns() == 0, "%s: setup fetched or run", Name(main));
        ok(ReadAll(TempDir() + p.serverCopy) == kServed, "%s: server copy not saved", Name(main));
        CheckOnlyOwnUrls(main);
    }
}

static void test_only_first_hundred_bytes_compared()
{
    UseControlResources();
    const PackageNames& p = Package(true);
    std::string head(100, 'v');
    head.replace(0, 10, "[Version]\n");

    ResetWorld();
    ServeFile(p.versionUrl, head + "ver=5.1\r\n");
    WriteAll(InstallDir() + p.localVersion, head + "ver=4.0\r\n");
    ServeSetup(true, SetupScript());
    CheckRun run = RunCheck(true);
    ok(run.answer && !run.dialogShown && SetupRuns() == 0, "differences after byte 100: answer %d shown %d runs %d",
       run.answer, run.dialogShown, SetupRuns());
    fault_row("version file larger than 100 bytes, differing after byte 100",
              "only the first 100 bytes compared: current, no dialog", DescribeRun(run),
              run.answer && !run.dialogShown && SetupRuns() == 0);

    // A text ends at its first NUL.
    ResetWorld();
    ServeFile(p.versionUrl, std::string("ver=5.1\0server junk", 19));
    WriteAll(InstallDir() + p.localVersion, std::string("ver=5.1\0local", 13));
    run = RunCheck(true);
    ok(run.answer && !run.dialogShown, "equal up to the NUL: answer %d shown %d", run.answer, run.dialogShown);

    // Byte 100 itself still counts.
    ResetWorld();
    std::string changed = head;
    changed[99] = 'w';
    ServeFile(p.versionUrl, changed);
    WriteAll(InstallDir() + p.localVersion, head);
    SetupScript script;
    script.version = changed;
    ServeSetup(true, script);
    run = RunCheck(true);
    ok(run.answer && run.dialogShown && SetupRuns() == 1, "byte 100 differs: answer %d shown %d runs %d", run.answer,
       run.dialogShown, SetupRuns());
}

// The dialog shows, the setup program is fetched with progress and run, and
// the check answers true once its result file is there.
static void CheckSetupRuns(bool main, bool installedBefore)
{
    const PackageNames& p = Package(main);
    ResetWorld();
    ServeFile(p.versionUrl, kServed);
    SetupScript script;
    script.version = kServed;
    // The demonstration's setup program also installs programs; one file stands in here.
    std::string payload = ServerRoot() + "\\payload.bin";
    WriteAll(payload, "companion program");
    script.installs.push_back(payload + "|install_test_payload.bin");
    ServeSetup(main, script);
    if (installedBefore)
        WriteAll(InstallDir() + p.localVersion, kOld);

    CheckRun run = RunCheck(main);
    const char* what = installedBefore ? "different version" : "nothing installed";
    ok(run.answer, "%s, %s: answer false", Name(main), what);
    ok(run.dialogShown, "%s, %s: the dialog never showed", Name(main), what);
    // The same caption for both packages, replacing the template's.
    ok(run.captions.size() == 1 && run.captions[0] == kInstallCaption, "%s, %s: %zu captions, last \"%s\"",
       Name(main), what, run.captions.size(), run.captions.empty() ? "" : run.captions.back().c_str());
    ok(run.notices.empty(), "%s, %s: %zu notices", Name(main), what, run.notices.size());
    ok(RequestCount(p.setupUrl) == 1 && SetupRuns() == 1, "%s, %s: setup fetched %d, run %d", Name(main), what,
       RequestCount(p.setupUrl), SetupRuns());
    ok(AnyTextStartsWith(run.statusTexts, "Downloaded.. "), "%s, %s: no progress line", Name(main), what);
    ok(!run.statusTexts.empty() && run.statusTexts.back() == kStatusInstalling, "%s, %s: last status \"%s\"",
       Name(main), what, run.statusTexts.empty() ? "" : run.statusTexts.back().c_str());
    ok(!run.barPositions.empty() && run.barPositions.back() == 100, "%s, %s: bar ends at %d", Name(main), what,
       run.barPositions.empty() ? -1 : run.barPositions.back());
    ok(ReadAll(InstallDir() + p.localVersion) == kServed, "%s, %s: installed version not written", Name(main), what);
    ok(ReadAll(InstallDir() + "install_test_payload.bin") == "companion program", "%s, %s: payload not installed",
       Name(main), what);
    RemoveFile(InstallDir() + "install_test_payload.bin");
    RemoveFile(payload);
    ok(FileExists(TempDir() + p.setupFile) && FileExists(TempDir() + p.resultFile),
       "%s, %s: setup program or result file missing", Name(main), what);
    CheckOnlyOwnUrls(main);

    // Now current: the next check passes without showing anything.
    run = RunCheck(main);
    ok(run.answer && !run.dialogShown && SetupRuns() == 1, "%s, after setup: answer %d shown %d runs %d", Name(main),
       run.answer, run.dialogShown, SetupRuns());
}

static void test_setup_runs_when_nothing_installed()
{
    UseControlResources();
    CheckSetupRuns(true, false);
    CheckSetupRuns(false, false);
}

static void test_setup_runs_when_version_differs()
{
    UseControlResources();
    CheckSetupRuns(true, true);
    CheckSetupRuns(false, true);
}

static void test_setup_download_fails()
{
    UseControlResources();
    for (bool main : {true, false})
    {
        const PackageNames& p = Package(main);
        ResetWorld();
        ServeFile(p.versionUrl, kServed);
        WriteAll(InstallDir() + p.localVersion, kOld);
        ServeSetup(main, SetupScript(), "404");
        CheckRun run = RunCheck(main);
        ok(!run.answer, "%s: answer true", Name(main));
        ok(run.dialogShown, "%s: the dialog never showed", Name(main));
        ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "%s: %zu notices, first \"%s\"",
           Name(main), run.notices.size(), run.notices.empty() ? "" : run.notices[0].c_str());
        ok(RequestCount(p.setupUrl) == 1 && SetupRuns() == 0, "%s: setup fetched %d, run %d", Name(main),
           RequestCount(p.setupUrl), SetupRuns());
        ok(!FileExists(TempDir() + p.setupFile), "%s: the error page was kept as the setup program", Name(main));
        ok(!AnyTextStartsWith(run.statusTexts, kStatusInstalling), "%s: installing status shown", Name(main));
        ok(run.elapsedMs < INSTALL_TEST_RESULT_WAIT_MS, "%s: the result poll ran (%lu ms)", Name(main),
           run.elapsedMs);
        CheckOnlyOwnUrls(main);
    }
}

// The version fetch fails: once with an error status, once with no server at all.
static void FailVersionFetch(bool main, bool offline)
{
    const PackageNames& p = Package(main);
    ServeFile(p.versionUrl, kServed, "404");
    ServeSetup(main, SetupScript());
    if (offline)
        SetServerOffline(true);
}

static void test_version_fetch_fails_without_copy()
{
    UseControlResources();
    for (bool main : {true, false})
        for (bool offline : {false, true})
        {
            const PackageNames& p = Package(main);
            ResetWorld();
            WriteAll(InstallDir() + p.localVersion, kOld);
            FailVersionFetch(main, offline);
            CheckRun run = RunCheck(main);
            SetServerOffline(false);
            const char* how = offline ? "no server" : "404";
            ok(!run.answer, "%s, %s: answer true", Name(main), how);
            ok(!run.dialogShown, "%s, %s: the dialog showed", Name(main), how);
            ok(run.notices.size() == 2 && run.notices[0] == kNoticeDownloadFailed &&
                   run.notices[1] == kNoticeNoServerVersion,
               "%s, %s: %zu notices", Name(main), how, run.notices.size());
            ok(!FileExists(TempDir() + p.serverCopy), "%s, %s: the error page became the server copy", Name(main),
               how);
            ok(RequestCount(p.setupUrl) == 0 && SetupRuns() == 0, "%s, %s: setup fetched", Name(main), how);
            if (main)
                fault_row(offline ? "update server refuses connections" : "update server answers 404 for the version file",
                          "both messages in order, answer false, no setup fetched", DescribeRun(run),
                          !run.answer && run.notices.size() == 2 && SetupRuns() == 0);
        }
}

static void test_version_fetch_fails_old_copy_equal()
{
    UseControlResources();
    for (bool main : {true, false})
    {
        const PackageNames& p = Package(main);
        ResetWorld();
        WriteAll(TempDir() + p.serverCopy, kOld);
        WriteAll(InstallDir() + p.localVersion, kOld);
        FailVersionFetch(main, !main);
        CheckRun run = RunCheck(main);
        SetServerOffline(false);
        ok(run.answer, "%s: answer false", Name(main));
        ok(!run.dialogShown, "%s: the dialog showed", Name(main));
        ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "%s: %zu notices", Name(main),
           run.notices.size());
        ok(ReadAll(TempDir() + p.serverCopy) == kOld, "%s: the old server copy was replaced", Name(main));
        ok(RequestCount(p.setupUrl) == 0 && SetupRuns() == 0, "%s: setup fetched", Name(main));
    }
}

static void test_version_fetch_fails_old_copy_differs()
{
    UseControlResources();
    for (bool main : {true, false})
        for (bool installed : {true, false})
        {
            const PackageNames& p = Package(main);
            ResetWorld();
            WriteAll(TempDir() + p.serverCopy, kServed);
            if (installed)
                WriteAll(InstallDir() + p.localVersion, kOld);
            FailVersionFetch(main, main);
            CheckRun run = RunCheck(main);
            SetServerOffline(false);
            const char* what = installed ? "copy differs" : "nothing installed";
            ok(!run.answer, "%s, %s: answer true", Name(main), what);
            ok(!run.dialogShown, "%s, %s: the dialog showed", Name(main), what);
            ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "%s, %s: %zu notices",
               Name(main), what, run.notices.size());
            ok(RequestCount(p.setupUrl) == 0 && SetupRuns() == 0, "%s, %s: setup fetched or run", Name(main), what);
        }
}

// A setup program that cannot be started ends the check at once with the
// download-failure message, as a failed download does; the wait for its
// result never begins.
static void test_setup_not_runnable()
{
    UseControlResources();
    for (bool main : {true, false})
    {
        const PackageNames& p = Package(main);
        ResetWorld();
        ServeFile(p.versionUrl, kServed);
        ServeFile(p.setupUrl, "not a program\r\n");
        CheckRun run = RunCheck(main);
        ok(!run.answer, "%s: answer true", Name(main));
        ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "%s: %zu notices", Name(main),
           run.notices.size());
        ok(RequestCount(p.setupUrl) == 1, "%s: setup fetched %d times", Name(main), RequestCount(p.setupUrl));
        ok(!AnyTextStartsWith(run.statusTexts, kStatusInstalling), "%s: installing status shown", Name(main));
        bool quick = run.elapsedMs < INSTALL_TEST_RESULT_WAIT_MS / 2;
        ok(quick, "%s: ended after %lu ms", Name(main), run.elapsedMs);
        if (main)
            fault_row("the downloaded setup program cannot be started",
                      "the download-failure message at once, answer false, no wait for a result", DescribeRun(run),
                      !run.answer && quick && run.notices.size() == 1);
    }
}

// Without a usable temporary folder (TMP and TEMP name a missing one, or one
// too long for GetTempPathA's buffer) nothing is fetched or run and nothing
// is written into the current folder: the check fails with the
// download-failure message.
static void test_temp_dir_unusable()
{
    UseControlResources();
    const PackageNames& p = Package(true);
    std::string savedTmp = EnvOr("TMP"), savedTemp = EnvOr("TEMP");
    const std::string missing = TempDir() + "no such folder";
    const std::string tooLong = TempDir() + std::string(300, 'x');
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(current), current);
    const std::string strays[] = {std::string(current) + "\\" + p.serverCopy, std::string(current) + "\\" + p.setupFile,
                                  std::string(current) + "\\" + p.resultFile};
    for (const std::string* folder : {&missing, &tooLong})
    {
        const char* what = folder == &missing ? "missing" : "too long";
        ResetWorld();
        ServeFile(p.versionUrl, kServed);
        ServeSetup(true, SetupScript());
        SetEnvironmentVariableA("TMP", folder->c_str());
        SetEnvironmentVariableA("TEMP", folder->c_str());
        CheckRun run = RunCheck(true);
        SetEnvironmentVariableA("TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
        SetEnvironmentVariableA("TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
        ok(!run.answer, "%s: answer true", what);
        ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "%s: %zu notices", what,
           run.notices.size());
        ok(RequestCount(p.versionUrl) == 0 && SetupRuns() == 0, "%s: version fetched %d times, setup run %d times",
           what, RequestCount(p.versionUrl), SetupRuns());
        bool stray = false;
        for (const std::string& path : strays)
        {
            stray = stray || FileExists(path);
            RemoveFile(path);
        }
        ok(!stray, "%s: files written into the current folder %s", what, current);
        fault_row(folder == &missing ? "install check: the temporary directory is missing"
                                     : "install check: the temporary directory does not fit GetTempPathA's buffer",
                  "the download-failure message, answer false, nothing fetched or written", DescribeRun(run),
                  !run.answer && run.notices.size() == 1 && RequestCount(p.versionUrl) == 0 && !stray);
    }
}

TEST_MAIN(TEST(test_companion_window_open), TEST(test_versions_equal), TEST(test_only_first_hundred_bytes_compared),
          TEST(test_setup_runs_when_nothing_installed), TEST(test_setup_runs_when_version_differs),
          TEST(test_setup_download_fails), TEST(test_version_fetch_fails_without_copy),
          TEST(test_version_fetch_fails_old_copy_equal), TEST(test_version_fetch_fails_old_copy_differs),
          TEST(test_setup_not_runnable), TEST(test_temp_dir_unusable))
