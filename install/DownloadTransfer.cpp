// CDownloadTransfer: started on the install dialog's thread, run on its own
// thread. Files are fetched into a staging file next to their destination
// and moved into place only when the transfer delivered a complete body with
// a success status, so a failed fetch never leaves an error page, a partial
// file or an empty file where the dialog looks for the real one.
#include "install/DownloadTransfer.h"

#include <urlmon.h>
#include <wininet.h>

#include "base/Module.h"
#include "base/Shared.h"
#include "install/DownloadProgressCallback.h"
#include "install/InstallLogic.h"

namespace
{
std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Deletes a file, a read-only one too; false when it is still there.
bool RemoveStaleFile(const std::string& path)
{
    if (DeleteFileA(path.c_str()))
        return true;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
    {
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (DeleteFileA(path.c_str()))
            return true;
    }
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Size of a file, or -1 when it cannot be read.
LONGLONG FileSizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
}

CDownloadTransfer::CDownloadTransfer(const Request& request) : m_request(request)
{
    Module::ObjectCreated();
}

CDownloadTransfer::~CDownloadTransfer()
{
    // A checked setup program that nobody took will never be started.
    m_setup.Discard();
    Module::ObjectDestroyed();
}

HRESULT CDownloadTransfer::Start(const Request& request, CDownloadTransfer** ppTransfer)
{
    if (!ppTransfer)
        return E_POINTER;
    *ppTransfer = nullptr;

    CDownloadTransfer* transfer = new (std::nothrow) CDownloadTransfer(request);
    if (!transfer)
        return E_OUTOFMEMORY;
    transfer->m_hFinished.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The thread's own reference on the module keeps this code mapped until
    // the thread has left it, even if the host unloads the DLL meanwhile.
    CScopedLibrary pin;
    BOOL pinned = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                     reinterpret_cast<LPCSTR>(&CDownloadTransfer::DownloadThreadProc), pin.Put());
    if (!transfer->m_hFinished || !pinned)
    {
        HRESULT hr = HResultFromLastError();
        transfer->Release();
        return hr;
    }
    transfer->Touch();

    transfer->AddRef();   // the thread's reference
    transfer->m_hModule = pin.Get();
    CScopedHandle thread(CreateThread(nullptr, 0, DownloadThreadProc, transfer, 0, nullptr));
    if (!thread)
    {
        HRESULT hr = HResultFromLastError();
        transfer->Release();
        transfer->Release();
        return hr;
    }
    pin.Detach();   // the thread gives it back with FreeLibraryAndExitThread
    *ppTransfer = transfer;
    return S_OK;
}

ULONG CDownloadTransfer::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_lRef));
}

ULONG CDownloadTransfer::Release()
{
    ULONG n = static_cast<ULONG>(InterlockedDecrement(&m_lRef));
    if (n == 0)
        delete this;
    return n;
}

DWORD WINAPI CDownloadTransfer::DownloadThreadProc(LPVOID param)
{
    CDownloadTransfer* transfer = static_cast<CDownloadTransfer*>(param);
    HMODULE module = transfer->m_hModule;
    HRESULT hr = E_UNEXPECTED;
    try
    {
        hr = transfer->Run();
    }
    catch (...)
    {
        hr = E_UNEXPECTED;
    }
    transfer->Finish(hr);
    transfer->Release();
    FreeLibraryAndExitThread(module, 1);
    return 1;
}

HRESULT CDownloadTransfer::Run()
{
    for (const std::string& stale : m_request.staleFiles)
        RemoveStaleFile(stale);
    // A result file left from an earlier run would end the wait for the new
    // one at once: without being rid of it, nothing can tell the two apart.
    if (!m_request.staleResult.empty() && !RemoveStaleFile(m_request.staleResult))
        return E_ACCESSDENIED;
    // The fetch must reach the server, not an older copy in the URL cache.
    DeleteUrlCacheEntryA(m_request.url.c_str());

    std::string path = m_request.path;
    if (m_request.verifySetup)
    {
        size_t slash = path.find_last_of("\\/");
        RETURN_IF_FAILED(m_setup.PrepareFolder(DirectoryOf(path), path.substr(slash + 1)));
        path = m_setup.Path();
    }

    char staging[MAX_PATH] = "";
    if (!GetTempFileNameA(DirectoryOf(path).c_str(), "tav", 0, staging))
    {
        HRESULT hr = HResultFromLastError();
        m_setup.Discard();
        return hr;
    }

    HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = Fetch(staging);
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    ForgetCachedCopies();

    if (SUCCEEDED(hr) && !MoveFileExA(staging, path.c_str(), MOVEFILE_REPLACE_EXISTING))
        hr = HResultFromLastError();
    if (FAILED(hr))
        DeleteFileA(staging);
    // A setup program that fails its check is deleted with its folder.
    if (m_request.verifySetup && FAILED(hr))
        m_setup.Discard();
    else if (m_request.verifySetup)
    {
        // Revocation checks may take a while; the transfer is alive meanwhile.
        Touch();
        hr = m_setup.Verify();
        Touch();
    }
    return hr;
}

HRESULT CDownloadTransfer::Fetch(const std::string& stagingPath)
{
    CDownloadProgressCallback callback(this);
    RETURN_IF_FAILED(URLDownloadToFileA(nullptr, m_request.url.c_str(), stagingPath.c_str(), 0, &callback));

    ULONG total = 0;
    DWORD status = 0;
    bool abandoned = false;
    {
        CLock lock(m_lock);
        total = m_ulTotal;
        status = m_dwStatus;
        abandoned = m_bAbandoned;
    }

    RETURN_HR_IF(E_ABORT, abandoned);
    // The download call succeeds for an error status and saves the error page.
    RETURN_HR_IF(INET_E_DOWNLOAD_FAILURE, status != 0 && !IsHttpSuccess(status));
    // A connection that closed early leaves less than the server announced.
    RETURN_HR_IF(INET_E_DOWNLOAD_FAILURE, total != 0 && FileSizeOf(stagingPath) < static_cast<LONGLONG>(total));
    return S_OK;
}

// The download call keeps a copy of every body in the user's URL cache,
// whatever the bind flags and the server's headers say. The file wanted is the
// destination alone: a setup program refused below, or one run from a folder
// of its own, must not stay behind there.
void CDownloadTransfer::ForgetCachedCopies()
{
    DeleteUrlCacheEntryA(m_request.url.c_str());
    for (const std::string& url : m_redirects)
        DeleteUrlCacheEntryA(url.c_str());
    // An entry filed under a name not seen here still leaves its file. The
    // download's own threads may hold that file a moment after the call has
    // returned (seen on a loaded machine): a few tries, a quarter second at most.
    if (m_strCacheFile.empty())
        return;
    for (int attempt = 0; attempt < 5; ++attempt)
    {
        if (DeleteFileW(m_strCacheFile.c_str()))
            return;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
        Sleep(50);
    }
}

void CDownloadTransfer::Finish(HRESULT hr)
{
    {
        CLock lock(m_lock);
        if (!m_bFinished)
        {
            m_bFinished = true;
            m_hrResult = hr;
            if (m_request.notify && !m_bAbandoned)
                PostMessageA(m_request.notify, m_request.finishedMessage, 0, 0);
        }
    }
    SetEvent(m_hFinished.Get());
}

void CDownloadTransfer::Touch()
{
    InterlockedExchange(&m_lLastActivity, static_cast<LONG>(GetTickCount()));
}

void CDownloadTransfer::Abandon()
{
    {
        CLock lock(m_lock);
        m_bAbandoned = true;
    }
}

bool CDownloadTransfer::IsFinished()
{
    CLock lock(m_lock);
    return m_bFinished;
}

HRESULT CDownloadTransfer::Result()
{
    CLock lock(m_lock);
    return m_bFinished ? m_hrResult : E_PENDING;
}

DWORD CDownloadTransfer::IdleMilliseconds()
{
    DWORD last = static_cast<DWORD>(InterlockedCompareExchange(&m_lLastActivity, 0, 0));
    return GetTickCount() - last;
}

void CDownloadTransfer::TakeVerifiedSetup(CSetupVerifier& setup)
{
    // The transfer thread leaves m_setup alone once it has finished.
    CLock lock(m_lock);
    if (m_bFinished)
        setup = std::move(m_setup);
}

void CDownloadTransfer::TakeProgress(ULONG& received, ULONG& total)
{
    {
        CLock lock(m_lock);
        received = m_ulReceived;
        total = m_ulTotal;
        m_bProgressPosted = false;
    }
}

HRESULT CDownloadTransfer::WaitBounded(DWORD stallMs, DWORD totalMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        HANDLE finished = m_hFinished.Get();
        DWORD wait = MsgWaitForMultipleObjects(1, &finished, FALSE, 100, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0)
            return Result();
        if (wait == WAIT_FAILED)
        {
            Abandon();
            return HResultFromLastError();
        }
        if (wait == WAIT_OBJECT_0 + 1)
        {
            // Handles the sent messages only; posted ones stay queued.
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        if (IdleMilliseconds() >= stallMs || GetTickCount() - start >= totalMs)
        {
            Abandon();
            return INET_E_DOWNLOAD_FAILURE;
        }
    }
}

bool CDownloadTransfer::NoteProgress(ULONG received, ULONG total)
{
    Touch();
    CLock lock(m_lock);
    m_ulReceived = received;
    m_ulTotal = total;
    if (m_request.notify && !m_bAbandoned && !m_bProgressPosted)
        m_bProgressPosted = PostMessageA(m_request.notify, m_request.progressMessage, 0, 0) != FALSE;
    return !m_bAbandoned;
}

void CDownloadTransfer::NoteCacheLocation(bool redirect, const wchar_t* text)
{
    if (!redirect)
    {
        m_strCacheFile = text;
        return;
    }
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return;
    std::string url(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &url[0], size, nullptr, nullptr);
    url.resize(static_cast<size_t>(size - 1));
    m_redirects.push_back(url);
}

void CDownloadTransfer::NoteResponse(DWORD status)
{
    Touch();
    {
        CLock lock(m_lock);
        m_dwStatus = status;
    }
}
