// CVedADA's transfer methods: the job texts a page builds item by item, their
// hand-off to the companion programs, and the explorer and web-link
// launchers. Everything runs on the page's thread.
#include "control/VedADA.h"

#include <cstdint>
#include <new>
#include <shellapi.h>

#include "control/Module.h"
#include "control/Shared.h"
#include "install/InstallLogic.h"
#include "transfer/CompanionCommandLine.h"
#include "transfer/CompanionTarget.h"
#include "transfer/DownloadMode.h"
#include "transfer/ExplorerLaunch.h"
#include "transfer/JobRecord.h"
#include "transfer/JobText.h"
#include "transfer/ListFile.h"

const CompanionTarget g_uploadTarget = {"TavrineUp.exe", "tavrine_class_upload", "bbs %s %s %s", CJobRecord::kUpload,
                                        &CVedADA::m_strUpList, &CVedADA::m_strUpListFile};
const CompanionTarget g_downloadTarget = {"TavrineDown.exe", "tavrine_class_down", "bbs %s %s %s", CJobRecord::kDownload,
                                          &CVedADA::m_strDownList, &CVedADA::m_strDownListFile};
const CompanionTarget g_speedDownloadTarget = {"TavrineSpeed.exe", "tavrine_class_down", "bbs %s %s %s",
                                               CJobRecord::kDownload, &CVedADA::m_strDownList,
                                               &CVedADA::m_strDownListFile};
const CompanionTarget g_webLinkTarget = {"TavrineDown.exe", "tavrine_class_down", "weblink %s %s %s", CJobRecord::kWebLink,
                                         &CVedADA::m_strWebLink, &CVedADA::m_strDownListFile};

namespace
{
const char kExplorerProgram[] = "Explorer.exe";
const char kExplorerClass[] = "tavrine_class_explorer";
const char kExplorerFormat[] = "%s %s";

// A started companion normally shows its window within a second or two; past
// this the page gets its thread back and the job is not handed off.
const DWORD kCompanionWaitMs = 30000;
const DWORD kCompanionPollMs = 500;
// How long a list file held by a reading companion is retried before the
// record goes out by message instead.
const DWORD kListFileRetryMs = 2000;
// A companion that does not answer its message within this is taken as hung.
const UINT kCopyDataTimeoutMs = 10000;

HWND WaitForCompanionWindow(const char* windowClass)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        HWND window = FindWindowA(windowClass, nullptr);
        if (window || GetTickCount() - start >= kCompanionWaitMs)
            return window;
        Sleep(kCompanionPollMs);
    }
}

void StoreCredentials(BSTR strUserID, BSTR strUserPW)
{
    g_strUserID = BstrToNarrow(strUserID);
    g_strUserPW = BstrToNarrow(strUserPW);
}

HRESULT SetLinkResult(BSTR* pVal, bool wentAhead)
{
    *pVal = SysAllocString(wentAhead ? L"1" : L"0");
    if (!*pVal)
        return E_OUTOFMEMORY;
    return wentAhead ? S_OK : S_FALSE;
}
}

// ---------------------------------------------------------------------------
// Job texts

STDMETHODIMP CVedADA::UpLoadInit()
{
    try
    {
        // The install dialog runs a message loop in which a page handler may
        // drop its last reference; this object must last until the call ends.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        // A new batch gives back the memory of the last one, however large it grew.
        std::string().swap(m_strUpList);
        EnsureInstalled();   // the page learns the outcome at the end of the batch
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::UpLoadInfo(BSTR strIdx)
{
    try
    {
        CJobText::AppendItem(m_strUpList, BstrToNarrow(strIdx));
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;   // the job text is as it was before the call
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::DownLoadInit()
{
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        std::string().swap(m_strDownList);
        EnsureInstalled();
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::DownLoadSpInit()
{
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        std::string().swap(m_strDownList);
        EnsureSpInstalled();
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::DownLoadInfo(BSTR strIdx, BSTR strPath)
{
    try
    {
        // The path goes to the companion in the system code page, the
        // identifier in the thread's, as the companion programs expect.
        std::string path = BstrToNarrow(strPath, CP_ACP);
        std::string idx = BstrToNarrow(strIdx);
        CJobText::AppendPair(m_strDownList, idx, path);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

// ---------------------------------------------------------------------------
// End of a batch

STDMETHODIMP CVedADA::UpLoadEnd(BSTR strUserID, BSTR strUserPW)
{
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        StoreCredentials(strUserID, strUserPW);
        bool installed = EnsureInstalled();
        if (!installed || m_strUpList.empty() || g_strUserID.empty() || g_strUserPW.empty())
            return S_FALSE;
        return HandOffToCompanion(g_uploadTarget) ? S_OK : S_FALSE;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::DownLoadEnd(BSTR strUserID, BSTR strUserPW, BSTR strMode)
{
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        StoreCredentials(strUserID, strUserPW);
        std::string mode = BstrToNarrow(strMode);
        // The main package is checked also after DownLoadSpInit.
        bool installed = EnsureInstalled();
        if (!installed || m_strDownList.empty() || g_strUserID.empty() || g_strUserPW.empty())
            return S_FALSE;
        const CompanionTarget& target = CDownloadMode::SelectsSpeed(mode) ? g_speedDownloadTarget : g_downloadTarget;
        return HandOffToCompanion(target) ? S_OK : S_FALSE;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

// ---------------------------------------------------------------------------
// Launchers

STDMETHODIMP CVedADA::LauncherExplorer(BSTR strUserID, BSTR strUserPW)
{
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        StoreCredentials(strUserID, strUserPW);
        if (g_strUserID.empty() || g_strUserPW.empty())
            return S_FALSE;
        if (!EnsureInstalled())
            return S_OK;
        if (FindWindowA(kExplorerClass, nullptr))
            return S_OK;   // one explorer is enough; it needs nothing more from us
        // The explorer splits its command line at the space between the two.
        if (!CCompanionCommandLine::IsSafeCredential(g_strUserID) || !CCompanionCommandLine::IsSafeCredential(g_strUserPW))
            return S_FALSE;
        std::string program = m_strInstallDir + kExplorerProgram;
        std::string parameters = CCompanionCommandLine::Format(kExplorerFormat, {&g_strUserID, &g_strUserPW});
        ExplorerLaunch::Start(kExplorerClass, program, parameters);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CVedADA::LauncherWebLink(BSTR strUserID, BSTR strUserPW, BSTR strWebLink, BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    try
    {
        // Held across the install dialog's message loop, as in UpLoadInit.
        CIfacePtr<IUnknown> keepAlive(m_pOuter);
        std::string userID = BstrToNarrow(strUserID);
        std::string userPW = BstrToNarrow(strUserPW);
        m_strWebLink = BstrToNarrow(strWebLink);
        // Empty arguments keep what an earlier call stored.
        if (!userID.empty())
            g_strUserID = userID;
        if (!userPW.empty())
            g_strUserPW = userPW;

        bool running = FindWindowA(g_webLinkTarget.windowClass, nullptr) != nullptr;
        if (!running && (g_strUserID.empty() || g_strUserPW.empty()))
            return SetLinkResult(pVal, false);
        // A failed install check still counts as going ahead; a hand-off that
        // could not reach the program does not.
        bool delivered = !EnsureInstalled() || HandOffToCompanion(g_webLinkTarget);
        return SetLinkResult(pVal, delivered);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

// ---------------------------------------------------------------------------
// Hand-off

bool CVedADA::HandOffToCompanion(const CompanionTarget& target)
{
    const std::string& text = this->*target.jobText;
    if (text.empty())
        return true;
    const std::string& listFile = this->*target.listFile;
    // The temporary folder was missing or unusable when the control was
    // made, or has gone since: no list file can be written.
    if (listFile.empty() || !IsExistingFolder(m_strTempDir))
        return false;

    HWND window = FindWindowA(target.windowClass, nullptr);
    if (!window)
    {
        // The companion splits its command line at spaces: a credential that
        // is not one plain word would shift the list-file path or add
        // arguments, so such a program is never started.
        if (!CCompanionCommandLine::IsSafeCredential(g_strUserID) || !CCompanionCommandLine::IsSafeCredential(g_strUserPW))
            return false;
        std::string program = m_strInstallDir + target.program;
        std::string encodedList = CCompanionCommandLine::EncodeSpaces(listFile);
        std::string parameters =
            CCompanionCommandLine::Format(target.parameterFormat, {&g_strUserID, &g_strUserPW, &encodedList});

        // A fresh program starts reading at the top of its list: old records
        // must not be handed over again. If they cannot be removed, the
        // program is not started at all.
        if (!CListFile::Clear(listFile))
            return false;
        // A program that could not be started at all (missing, not runnable)
        // will never show its window: waiting out the start bound would only
        // freeze the page.
        HINSTANCE started = ShellExecuteA(nullptr, nullptr, program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
        if (reinterpret_cast<INT_PTR>(started) <= 32)
            return false;
        window = WaitForCompanionWindow(target.windowClass);
        if (!window)
            return false;
    }

    // The reserved field carries the text's address, as the 32-bit record
    // always did; only its low 32 bits fit and it means nothing to the reader.
    uint32_t reserved = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text.c_str()));
    std::string record = CJobRecord::Build(target.recordKind, text, reserved);
    if (CListFile::AppendRecord(listFile, record, kListFileRetryMs) == CListFile::Append::Done &&
        CListFile::Exists(listFile))
        return true;

    // The record did not make it into the file (or the file vanished at once):
    // give it to the companion's window directly so the job is not lost.
    IUnknown* identity = nullptr;
    if (SUCCEEDED(QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        identity->Release();   // only the address is sent
    COPYDATASTRUCT data = {};
    data.dwData = target.recordKind;
    data.cbData = CJobRecord::TextLength(text);
    data.lpData = const_cast<char*>(text.c_str());
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(identity), reinterpret_cast<LPARAM>(&data),
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, kCopyDataTimeoutMs, &answer) != 0;
}
