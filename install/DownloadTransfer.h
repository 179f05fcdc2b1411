// One fetch from the update server on a thread of its own (DownloadThreadProc).
// The object is reference counted: the thread holds one reference and the
// install dialog another, so either may let go first. The thread knows the
// dialog only by its window handle and posts to it only until the dialog
// abandons the transfer; after that it touches no window at all.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "base/Shared.h"
#include "install/SetupVerifier.h"

class CDownloadTransfer
{
public:
    struct Request
    {
        std::string url;
        std::string path;                     // where the file ends up
        std::vector<std::string> staleFiles;  // deleted before the fetch; failures ignored
        std::string staleResult;              // deleted before the fetch; the fetch fails if it stays
        HWND notify = nullptr;                // null: nobody is posted to, the caller waits
        UINT progressMessage = 0;             // posted when new counts are waiting
        UINT finishedMessage = 0;             // posted once when the transfer has ended
        bool verifySetup = false;             // saved in a folder of its own, checked and held (CSetupVerifier)
    };

    // Starts the thread. On success *ppTransfer holds the caller's reference.
    static HRESULT Start(const Request& request, CDownloadTransfer** ppTransfer);

    ULONG AddRef();
    ULONG Release();

    // --- the starting thread's side

    // From now on the transfer posts nothing and stops at its next notification.
    void Abandon();
    bool IsFinished();
    // The transfer's result; meaningful once IsFinished() answers true.
    HRESULT Result();
    // Time since the transfer last showed life (start, response, progress).
    DWORD IdleMilliseconds();
    // The latest counts; re-arms the progress message for the next notification.
    void TakeProgress(ULONG& received, ULONG& total);
    // Hands over the checked and held setup program of a finished transfer
    // that verified one; otherwise leaves setup empty.
    void TakeVerifiedSetup(CSetupVerifier& setup);
    // Waits until the transfer ends, or abandons it once it has been idle for
    // stallMs or has run for totalMs. Meanwhile only messages sent from other
    // threads are handled, so no input or timer of the waiting thread runs.
    HRESULT WaitBounded(DWORD stallMs, DWORD totalMs);

    // --- the transfer thread's side (CDownloadProgressCallback)

    // Records new counts; false once the transfer has been abandoned.
    bool NoteProgress(ULONG received, ULONG total);
    void NoteResponse(DWORD status);
    // A URL the transfer was redirected to, or the URL cache's file of the body.
    void NoteCacheLocation(bool redirect, const wchar_t* text);

private:
    explicit CDownloadTransfer(const Request& request);
    ~CDownloadTransfer();
    CDownloadTransfer(const CDownloadTransfer&) = delete;
    CDownloadTransfer& operator=(const CDownloadTransfer&) = delete;

    static DWORD WINAPI DownloadThreadProc(LPVOID param);
    HRESULT Run();
    HRESULT Fetch(const std::string& stagingPath);
    void ForgetCachedCopies();
    void Finish(HRESULT hr);
    void Touch();

    const Request m_request;
    LONG m_lRef = 1;
    CCriticalSection m_lock;
    CScopedHandle m_hFinished;        // manual-reset event, set by Finish
    HMODULE m_hModule = nullptr;      // keeps the code mapped while the thread runs
    volatile LONG m_lLastActivity = 0;
    // Guarded by m_lock:
    bool m_bAbandoned = false;
    bool m_bFinished = false;
    bool m_bProgressPosted = false;
    HRESULT m_hrResult = E_PENDING;
    ULONG m_ulReceived = 0;
    ULONG m_ulTotal = 0;
    DWORD m_dwStatus = 0;             // HTTP status of the response, 0 before it
    CSetupVerifier m_setup;           // the transfer thread's until finished, then the taker's
    // The transfer thread's own: where the URL cache may hold the body.
    std::vector<std::string> m_redirects;
    std::wstring m_strCacheFile;
};
