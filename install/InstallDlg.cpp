// CInstallDlg's handlers, all on the dialog's own thread: the version check
// during initialisation, the timers, and the messages that the transfer
// thread posts. Only this thread shows message boxes, sets timers or ends
// the dialog.
#include "install/InstallDlg.h"

#include <shlobj.h>
#include <shellapi.h>

#include "base/Folders.h"
#include "base/Shared.h"
#include "install/DownloadTransfer.h"
#include "install/InstallLogic.h"
#include "install/InstallTexts.h"

namespace
{
enum class FileRead { Missing, Unreadable, Read };

// Reads up to maxBytes from the start of a file opened with no sharing.
FileRead ReadFileHead(const std::string& path, DWORD maxBytes, std::string& bytes)
{
    bytes.clear();
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileRead::Missing;
    CScopedFile file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return FileRead::Unreadable;
    std::string buffer(maxBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), &buffer[0], maxBytes, &read, nullptr))
        return FileRead::Unreadable;
    buffer.resize(read);
    bytes.swap(buffer);
    return FileRead::Read;
}

// A version file that the setup program still holds open is read again a
// few times before the check decides on it.
FileRead ReadVersionText(const std::string& path, std::string& text)
{
    std::string bytes;
    FileRead state = ReadFileHead(path, kVersionTextBytes, bytes);
    for (int attempt = 0; state == FileRead::Unreadable && attempt < 10; ++attempt)
    {
        Sleep(100);
        state = ReadFileHead(path, kVersionTextBytes, bytes);
    }
    text = VersionTextFromBytes(bytes);
    return state;
}
}

CInstallDlg::CInstallDlg() = default;

CInstallDlg::~CInstallDlg()
{
    DropTransfer();
}

BOOL CInstallDlg::OnInitDialog()
{
    m_hStatus = GetDlgItem(m_hWnd, IDC_INSTALL_STATUS);
    m_hProgress = GetDlgItem(m_hWnd, IDC_INSTALL_PROGRESS);
    SetWindowTextA(m_hWnd, kTextInstallCaption);
    ComputePaths();
    // Nowhere to put the version file and the setup program: the install
    // fails as a failed download does, before anything is fetched.
    if (m_strTempDir.empty())
    {
        ShowNotice(kTextDownloadFailed);
        EndWith(2);
        return TRUE;
    }

    // A failed fetch does not stop the check: an earlier server copy still counts.
    if (FAILED(Download(DownloadKind::VersionFile)))
    {
        ShowNotice(kTextDownloadFailed);
        EndWith(kInstallEndFailed);
    }

    if (ReadVersionText(m_strServerVersionPath, m_strServerVersion) != FileRead::Read)
    {
        ShowNotice(kTextNoServerVersion);
        EndWith(kInstallEndFailed);
        return TRUE;
    }
    // No installed version (or one still held by a setup program): the setup
    // program runs and writes it anew.
    if (ReadVersionText(m_strLocalVersionPath, m_strLocalVersion) != FileRead::Read)
    {
        RequestSetup();
        return TRUE;
    }
    if (m_strServerVersion == m_strLocalVersion)
        EndWith(kInstallEndReady);
    else
        RequestSetup();
    return TRUE;
}

void CInstallDlg::ComputePaths()
{
    m_strInstallDir = InstallFolder();
    m_strTempDir = TempFolder();

    const InstallPackage& package = PackageFor(m_bMainPackage);
    m_strLocalVersionPath = m_strInstallDir + package.localVersionName;
    m_strServerVersionPath = m_strTempDir + package.serverCopyName;
    m_strSetupPath = m_strTempDir + package.setupName;
    m_strResultPath = m_strTempDir + package.resultName;
    m_strVersionUrl = UpdateUrl(package.versionUrlPath);
    m_strSetupUrl = UpdateUrl(package.setupUrlPath);
}

HRESULT CInstallDlg::Download(DownloadKind kind)
{
    CDownloadTransfer::Request request;
    if (kind == DownloadKind::VersionFile)
    {
        request.url = m_strVersionUrl;
        request.path = m_strServerVersionPath;
        CDownloadTransfer* transfer = nullptr;
        RETURN_IF_FAILED(CDownloadTransfer::Start(request, &transfer));
        // The dialog is not shown yet: this thread waits, bounded, as the
        // page's thread would inside a blocking download call. A version file
        // is a few bytes; one still arriving after twice the stall bound is
        // trickling in and would hold the page's thread without end.
        HRESULT hr = transfer->WaitBounded(CurrentInstallBounds().transferStallMs, 2 * CurrentInstallBounds().transferStallMs);
        transfer->Release();
        return hr;
    }

    // Stale files go first, so that only the new setup program's result ends the wait.
    request.url = m_strSetupUrl;
    request.path = m_strSetupPath;
    request.staleFiles = {m_strSetupPath};
    request.staleResult = m_strResultPath;
    request.notify = m_hWnd;
    request.progressMessage = WM_INSTALL_PROGRESS;
    request.finishedMessage = WM_INSTALL_DOWNLOADED;
    request.verifySetup = CSetupVerifier::IsEnabled();
    DropTransfer();
    return CDownloadTransfer::Start(request, m_pTransfer.Put());
}

BOOL CInstallDlg::OnTimer(UINT_PTR id)
{
    switch (id)
    {
    case IDT_START_SETUP:
        OnStartSetup();
        break;
    case IDT_POLL_RESULT:
        OnPollResult();
        break;
    case IDT_TRANSFER_WATCHDOG:
        OnTransferWatchdog();
        break;
    default:
        break;
    }
    return TRUE;
}

void CInstallDlg::OnStartSetup()
{
    KillTimer(m_hWnd, IDT_START_SETUP);
    if (m_bEnded)
        return;
    SendMessageA(m_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(m_hProgress, PBM_SETPOS, 0, 0);
    if (FAILED(Download(DownloadKind::SetupProgram)))
    {
        FailDownload();
        return;
    }
    m_dwDownloadStart = GetTickCount();
    SetTimer(m_hWnd, IDT_TRANSFER_WATCHDOG, 250, nullptr);
}

void CInstallDlg::OnDownloadProgress()
{
    if (!m_pTransfer || m_bDownloadSettled)
        return;
    ULONG received = 0;
    ULONG total = 0;
    m_pTransfer->TakeProgress(received, total);
    ProgressDisplay display = BuildProgressDisplay(received, total);
    SetProgress(display.line, display.percent);
}

void CInstallDlg::OnSetupDownloaded()
{
    if (!m_pTransfer || m_bDownloadSettled || m_bEnded)
        return;
    KillTimer(m_hWnd, IDT_TRANSFER_WATCHDOG);
    if (FAILED(m_pTransfer->Result()))
    {
        FailDownload();
        return;
    }
    m_bDownloadSettled = true;
    // A checked setup program runs from the folder where it is held.
    m_pTransfer->TakeVerifiedSetup(m_verifiedSetup);
    if (CSetupVerifier::IsEnabled() && !m_verifiedSetup.IsHeld())
    {
        FailDownload();
        return;
    }
    DropTransfer();
    // A program that could not be started (missing, not runnable, blocked,
    // elevation declined) never writes its result: waiting for it would keep
    // the user before a dialog nobody can close. A checked program starts
    // from the folder where it is held, and only while nothing else is there.
    HRESULT hr = m_verifiedSetup.IsHeld() ? m_verifiedSetup.Start(m_hWnd) : StartSetupProgram(m_hWnd, m_strSetupPath);
    if (FAILED(hr))
    {
        FailDownload();
        return;
    }
    // The bar keeps its last position; only the text changes.
    SetStatusText(kTextInstalling);
    m_dwPollStart = GetTickCount();
    SetTimer(m_hWnd, IDT_POLL_RESULT, 1000, nullptr);
}

void CInstallDlg::OnTransferWatchdog()
{
    if (!m_pTransfer || m_bDownloadSettled || m_bEnded)
    {
        KillTimer(m_hWnd, IDT_TRANSFER_WATCHDOG);
        return;
    }
    // A finished transfer's message is on its way; a silent one has stalled.
    // One that keeps trickling without end would hold the page in a dialog
    // nobody can close, so the whole download is bounded too, generously.
    if (m_pTransfer->IsFinished())
        return;
    if (m_pTransfer->IdleMilliseconds() >= CurrentInstallBounds().transferStallMs ||
        GetTickCount() - m_dwDownloadStart >= CurrentInstallBounds().setupTotalMs)
        FailDownload();
}

void CInstallDlg::OnPollResult()
{
    if (m_bEnded)
        return;
    std::string bytes;
    FileRead state = ReadFileHead(m_strResultPath, 2, bytes);
    if (state == FileRead::Read)
    {
        KillTimer(m_hWnd, IDT_POLL_RESULT);
        SendMessageA(m_hWnd, WM_INSTALL_FINISHED, static_cast<WPARAM>(ResultNumberFromBytes(bytes) + 1), 0);
        return;
    }
    // Absent, or still held by the setup program: look again at the next
    // tick, but not forever, since the page's thread waits in this dialog.
    if (GetTickCount() - m_dwPollStart >= CurrentInstallBounds().resultWaitMs)
    {
        KillTimer(m_hWnd, IDT_POLL_RESULT);
        EndWith(kInstallEndFailed);
    }
}

BOOL CInstallDlg::OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message)
    {
    case WM_INSTALL_FINISHED:
        OnInstallFinished(wParam);
        return TRUE;
    case WM_INSTALL_PROGRESS:
        OnDownloadProgress();
        return TRUE;
    case WM_INSTALL_DOWNLOADED:
        OnSetupDownloaded();
        return TRUE;
    default:
        return FALSE;
    }
}

void CInstallDlg::OnInstallFinished(WPARAM wParam)
{
    EndWith(wParam != 0 ? kInstallEndReady : kInstallEndFailed);
}

void CInstallDlg::OnHandlerFailed()
{
    // The dialog has no close box: a check that broke down ends as a failed one.
    KillTimer(m_hWnd, IDT_START_SETUP);
    KillTimer(m_hWnd, IDT_POLL_RESULT);
    KillTimer(m_hWnd, IDT_TRANSFER_WATCHDOG);
    EndWith(kInstallEndFailed);
}

void CInstallDlg::OnDestroy()
{
    DropTransfer();
}

void CInstallDlg::SetProgress(const std::string& text, int percent)
{
    SetStatusText(text.c_str());
    SendMessageA(m_hProgress, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CInstallDlg::SetStatusText(const char* text)
{
    SetWindowTextA(m_hStatus, text);
    UpdateWindow(m_hStatus);
}

void CInstallDlg::ShowNotice(const char* text)
{
    ShowMessage(text, kTextNoticeCaption, MB_OK);
}

void CInstallDlg::FailDownload()
{
    // Settled before the box opens: its modal loop still delivers timers and
    // posted messages, and the user must see exactly one message.
    m_bDownloadSettled = true;
    KillTimer(m_hWnd, IDT_TRANSFER_WATCHDOG);
    DropTransfer();
    ShowNotice(kTextDownloadFailed);
    EndWith(kInstallEndFailed);
}

void CInstallDlg::RequestSetup()
{
    // A dialog already ended during initialisation runs no setup.
    if (!m_bEnded)
        SetTimer(m_hWnd, IDT_START_SETUP, 100, nullptr);
}

void CInstallDlg::EndWith(INT_PTR code)
{
    // A later request replaces the code of an earlier one.
    m_bEnded = true;
    DropTransfer();
    EndDialog(m_hWnd, code);
}

void CInstallDlg::DropTransfer()
{
    if (!m_pTransfer)
        return;
    m_pTransfer->Abandon();
    m_pTransfer.Reset();
}
