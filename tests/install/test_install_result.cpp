// The wait for the setup program's result file: whatever the file holds, its
// existence ends the dialog with success; a file still held open is read at a
// later tick; a result that never comes ends the wait after its bound, and an
// old result file does not count.
#include "harness/TestHarness.h"
#include "install/InstallTestKit.h"
#include "install/InstallDlg.h"

#include <new>

namespace
{
const char kServed[] = "[Version]\r\nver=9\r\n";

CheckRun RunWithSetup(bool main, const SetupScript& script, bool staleResult = false)
{
    ResetWorld();
    ServeFile(Package(main).versionUrl, kServed);
    SetupScript withVersion = script;
    withVersion.version = kServed;
    ServeSetup(main, withVersion);
    if (staleResult)
        WriteAll(TempDir() + Package(main).resultFile, "1");
    return RunCheck(main);
}
}

static void test_result_contents()
{
    UseControlResources();
    for (const char* content : {"0", "1", "9", "-1", "x", ""})
    {
        SetupScript script;
        script.result = content;
        CheckRun run = RunWithSetup(true, script);
        ok(run.answer, "result \"%s\": answer false", content);
        ok(run.notices.empty() && SetupRuns() == 1, "result \"%s\": %zu notices, %d runs", content,
           run.notices.size(), SetupRuns());
    }
    SetupScript script;
    script.result = "9";
    CheckRun run = RunWithSetup(false, script);
    ok(run.answer && SetupRuns() == 1, "Sp result: answer %d, runs %d", run.answer, SetupRuns());
    ok(ReadAll(TempDir() + Package(false).resultFile) == "9", "Sp result file");
}

static void test_result_written_late()
{
    UseControlResources();
    SetupScript script;
    script.delayMs = 3000;
    CheckRun run = RunWithSetup(true, script);
    ok(run.answer && run.notices.empty(), "answer %d, %zu notices", run.answer, run.notices.size());
    ok(run.elapsedMs >= 3000, "ended after %lu ms, before the result existed", run.elapsedMs);
    fault_row("setup program writes its result late", "the dialog waits for it, answer true", DescribeRun(run),
              run.answer && run.elapsedMs >= 3000);
}

static void test_result_held_open()
{
    UseControlResources();
    SetupScript script;
    script.mode = "hold";
    script.delayMs = 3500;
    script.result = "2";
    CheckRun run = RunWithSetup(true, script);
    ok(run.answer && run.notices.empty(), "answer %d, %zu notices", run.answer, run.notices.size());
    ok(run.elapsedMs >= 3500, "ended after %lu ms, while the file was still held", run.elapsedMs);
    fault_row("setup program holds its result file open", "read at a later tick once released, answer true",
              DescribeRun(run), run.answer && run.elapsedMs >= 3500);
}

static void test_result_never_written()
{
    UseControlResources();
    SetupScript script;
    script.mode = "nothing";
    // An old result file from an earlier run must not end the wait.
    CheckRun run = RunWithSetup(true, script, true);
    ok(!run.answer, "answer true without a result file");
    ok(run.notices.empty(), "%zu notices", run.notices.size());
    ok(SetupRuns() == 1, "setup ran %d times", SetupRuns());
    ok(run.elapsedMs >= INSTALL_TEST_RESULT_WAIT_MS && run.elapsedMs < INSTALL_TEST_RESULT_WAIT_MS + 30000,
       "wait ended after %lu ms", run.elapsedMs);
    ok(!FileExists(TempDir() + Package(true).resultFile), "old result file still there");
    fault_row("setup program never writes its result", "the wait ends at its bound, answer false",
              DescribeRun(run), !run.answer && run.elapsedMs < INSTALL_TEST_RESULT_WAIT_MS + 30000);
}

// An old result file that resists deletion must not stand in for the new
// setup program's: a read-only one is removed all the same, and one that
// another program holds open fails the setup download instead.
static void test_stale_result_resists_deletion()
{
    UseControlResources();
    const PackageNames& p = Package(true);
    const std::string result = TempDir() + p.resultFile;

    SetupScript script;
    script.delayMs = 3000;
    ResetWorld();
    ServeFile(p.versionUrl, kServed);
    SetupScript withVersion = script;
    withVersion.version = kServed;
    ServeSetup(true, withVersion);
    WriteAll(result, "1");
    ok(SetFileAttributesA(result.c_str(), FILE_ATTRIBUTE_READONLY), "cannot make the old result read-only");
    CheckRun run = RunCheck(true);
    ok(run.answer && run.notices.empty() && SetupRuns() == 1, "read-only: answer %d, %zu notices, %d runs",
       run.answer, run.notices.size(), SetupRuns());
    ok(run.elapsedMs >= 3000, "read-only: ended after %lu ms, on the old result", run.elapsedMs);
    fault_row("old result file read-only", "removed before the download; the wait ends on the new result",
              DescribeRun(run), run.answer && run.elapsedMs >= 3000);

    ResetWorld();
    ServeFile(p.versionUrl, kServed);
    ServeSetup(true, withVersion);
    WriteAll(result, "1");
    // Held without delete sharing, as a program still reading it would.
    HANDLE held = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ok(held != INVALID_HANDLE_VALUE, "cannot hold the old result (error %lu)", GetLastError());
    run = RunCheck(true);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    ok(!run.answer, "held: answer true");
    ok(run.notices.size() == 1 && run.notices[0] == kNoticeDownloadFailed, "held: %zu notices", run.notices.size());
    ok(SetupRuns() == 0 && RequestCount(p.setupUrl) == 0, "held: setup fetched %d, run %d", RequestCount(p.setupUrl),
       SetupRuns());
    fault_row("old result file held open by another program", "download-failure message, answer false, nothing run",
              DescribeRun(run), !run.answer && SetupRuns() == 0);
}

namespace
{
constexpr UINT WM_TEST_GIVE_UP = WM_USER + 500;

// The real install dialog, with a handler that breaks down as one would when
// memory runs out. The dialog has no close box: unless the failure ends it,
// only the give-up message posted by the test's own timer thread does.
class CFailingInstallDlg : public CInstallDlg
{
public:
    explicit CFailingInstallDlg(bool inInit) : m_bInInit(inInit) {}

protected:
    BOOL OnInitDialog() override
    {
        if (m_bInInit)
            throw std::bad_alloc();
        SetTimer(m_hWnd, kFailTimer, 50, nullptr);
        return TRUE;
    }
    BOOL OnTimer(UINT_PTR id) override
    {
        if (id == kFailTimer)
            throw std::bad_alloc();
        return CInstallDlg::OnTimer(id);
    }
    BOOL OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        if (message != WM_TEST_GIVE_UP)
            return CInstallDlg::OnPrivateMessage(message, wParam, lParam, result);
        EndDialog(m_hWnd, 99);
        return TRUE;
    }

private:
    static constexpr UINT_PTR kFailTimer = 77;
    bool m_bInInit;
};

struct GiveUpTimer
{
    CFailingInstallDlg* dialog;
    HANDLE stop;
};

DWORD WINAPI GiveUpAfterTenSeconds(void* context)
{
    GiveUpTimer* timer = static_cast<GiveUpTimer*>(context);
    if (WaitForSingleObject(timer->stop, 10000) == WAIT_TIMEOUT)
        PostMessageA(timer->dialog->GetHwnd(), WM_TEST_GIVE_UP, 0, 0);
    return 0;
}
}

static void test_handler_failure_ends_dialog()
{
    UseControlResources();
    for (bool inInit : {true, false})
    {
        CFailingInstallDlg dialog(inInit);
        GiveUpTimer timer = {&dialog, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        HANDLE thread = CreateThread(nullptr, 0, GiveUpAfterTenSeconds, &timer, 0, nullptr);
        INT_PTR code = dialog.DoModal(IDD_INSTALL, nullptr, true);
        SetEvent(timer.stop);
        WaitForSingleObject(thread, 15000);
        CloseHandle(thread);
        CloseHandle(timer.stop);
        ok(code == 2, "handler failing %s: dialog ended with %d, expected the failure code 2",
           inInit ? "during initialisation" : "in a timer", static_cast<int>(code));
    }
}

TEST_MAIN(TEST(test_result_contents), TEST(test_result_written_late), TEST(test_result_held_open),
          TEST(test_result_never_written), TEST(test_stale_result_resists_deletion),
          TEST(test_handler_failure_ends_dialog))
