// CInstallDlg: the modal install dialog. It compares the update server's
// version file with the installed one and, when they differ, fetches the
// setup program with progress, runs it and waits for its result file. Runs on
// the page's thread; the fetch of the setup program runs on a transfer thread
// that only posts to this window.
#pragma once

#include <windows.h>
#include <string>

#include "base/ModalDlg.h"
#include "base/Shared.h"
#include "install/DownloadTransfer.h"
#include "install/SetupVerifier.h"
#include "resource.h"

// How the dialog ends (DoModal's answer); -1 is DialogBoxParam's own failure.
constexpr INT_PTR kInstallEndReady = 1;    // the package is current or was installed
constexpr INT_PTR kInstallEndFailed = 2;   // it is missing and could not be installed

// Timers of the dialog.
constexpr UINT_PTR IDT_START_SETUP = 1;        // 100 ms, once: starts the setup download
constexpr UINT_PTR IDT_POLL_RESULT = 2;        // 1000 ms: looks for the result file
constexpr UINT_PTR IDT_TRANSFER_WATCHDOG = 3;  // ends a setup download that stalled or ran too long

// Private messages of the dialog.
constexpr UINT WM_INSTALL_FINISHED = WM_USER + 100;   // wParam non-zero: success
constexpr UINT WM_INSTALL_PROGRESS = WM_USER + 101;   // new counts wait in the transfer
constexpr UINT WM_INSTALL_DOWNLOADED = WM_USER + 102; // the setup download has ended

class CInstallDlg : public CModalDlg
{
public:
    CInstallDlg();
    ~CInstallDlg() override;

    bool m_bMainPackage = true;   // cleared for the Sp package before the dialog runs

protected:
    BOOL OnInitDialog() override;
    BOOL OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    BOOL OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnHandlerFailed() override;

private:
    enum class DownloadKind { VersionFile, SetupProgram };

    void ComputePaths();
    HRESULT Download(DownloadKind kind);
    void OnStartSetup();
    void OnDownloadProgress();
    void OnSetupDownloaded();
    void OnTransferWatchdog();
    void OnPollResult();
    void OnInstallFinished(WPARAM wParam);
    void SetProgress(const std::string& text, int percent);
    void SetStatusText(const char* text);
    void ShowNotice(const char* text);
    void FailDownload();
    void RequestSetup();
    void EndWith(INT_PTR code);
    void DropTransfer();

    HWND m_hStatus = nullptr;
    HWND m_hProgress = nullptr;
    std::string m_strTempDir;
    std::string m_strInstallDir;
    std::string m_strLocalVersionPath;
    std::string m_strServerVersionPath;
    std::string m_strSetupPath;
    std::string m_strServerVersion;
    std::string m_strLocalVersion;
    std::string m_strResultPath;
    std::string m_strVersionUrl;
    std::string m_strSetupUrl;

    CIfacePtr<CDownloadTransfer> m_pTransfer;   // the running setup download
    CSetupVerifier m_verifiedSetup;             // the checked setup program, held until started
    bool m_bEnded = false;                      // EndDialog has been called
    bool m_bDownloadSettled = false;            // the setup download's outcome has been acted on
    DWORD m_dwPollStart = 0;
    DWORD m_dwDownloadStart = 0;                // when the setup download began
};
