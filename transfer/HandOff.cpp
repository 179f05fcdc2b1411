// The hand-off of a job text to its companion program: the program started
// when its window is not open, the record appended to its list file or, when
// that fails, sent to its window; and the explorer launcher. Runs on the
// page's thread.
#include "transfer/HandOff.h"

#include <cstdint>

#include "base/CompanionClasses.h"
#include "base/Folders.h"
#include "base/ProgramStart.h"
#include "transfer/CompanionCommandLine.h"
#include "transfer/ExplorerStart.h"
#include "transfer/HandOffLock.h"
#include "transfer/JobRecord.h"
#include "transfer/ListFile.h"

const CompanionTarget g_uploadTarget = {"TavrineUp.exe", kUploadCompanionClass, "bbs %s %s %s", CJobRecord::kUpload};
const CompanionTarget g_downloadTarget = {"TavrineDown.exe", kDownloadCompanionClass, "bbs %s %s %s",
                                          CJobRecord::kDownload};
const CompanionTarget g_speedDownloadTarget = {"TavrineSpeed.exe", kDownloadCompanionClass, "bbs %s %s %s",
                                               CJobRecord::kDownload};
const CompanionTarget g_webLinkTarget = {"TavrineDown.exe", kDownloadCompanionClass, "weblink %s %s %s",
                                         CJobRecord::kWebLink};

namespace
{
// The folder part of a path, with its trailing backslash.
std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const char kExplorerProgram[] = "Explorer.exe";
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
// Another page's hand-off holds the session's lock at most this long (its
// wait for a window, its list-file retries and its message); past it the
// holder is taken as stuck and this hand-off fails.
const DWORD kHandOffLockWaitMs = kCompanionWaitMs + kListFileRetryMs + kCopyDataTimeoutMs + 3000;

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
}

Credentials& PageCredentials()
{
    static Credentials credentials;
    return credentials;
}

ExplorerLaunch LaunchExplorer(const std::string& installDir, const Credentials& credentials)
{
    if (FindWindowA(kExplorerCompanionClass, nullptr))
        return ExplorerLaunch::Started;   // one explorer is enough; it needs nothing more from us
    // The explorer splits its command line at the space between the two.
    if (!CCompanionCommandLine::IsSafeCredential(credentials.strUserID) ||
        !CCompanionCommandLine::IsSafeCredential(credentials.strUserPW))
        return ExplorerLaunch::UnsafeCredential;
    std::string program = installDir + kExplorerProgram;
    std::string parameters =
        CCompanionCommandLine::Format(kExplorerFormat, {&credentials.strUserID, &credentials.strUserPW});
    // A page cannot start one explorer after another while the last is still
    // coming up; such a call starts nothing and still counts as started.
    ExplorerStart::Start(kExplorerCompanionClass, program, parameters);
    return ExplorerLaunch::Started;
}

bool HandOffToCompanion(const HandOffJob& job)
{
    const CompanionTarget& target = job.target;
    const std::string& text = job.text;
    if (text.empty())
        return true;
    const std::string& listFile = job.listFile;
    const Credentials& credentials = job.credentials;
    // The temporary folder was missing or unusable when the control was
    // made, or has gone since: no list file can be written.
    if (listFile.empty() || !IsExistingFolder(DirectoryOf(listFile)))
        return false;

    // From the look for a window to the record in the list, one hand-off of
    // the session at a time: a second page finds the program the first one
    // started, and appends to its list instead of clearing it.
    CHandOffLock lock(kHandOffLockWaitMs);
    if (!lock.IsHeld())
        return false;
    HWND window = FindWindowA(target.windowClass, nullptr);
    if (!window)
    {
        // The companion splits its command line at spaces: a credential that
        // is not one plain word would shift the list-file path or add
        // arguments, so such a program is never started.
        if (!CCompanionCommandLine::IsSafeCredential(credentials.strUserID) ||
            !CCompanionCommandLine::IsSafeCredential(credentials.strUserPW))
            return false;
        std::string program = job.installDir + target.program;
        std::string encodedList = CCompanionCommandLine::EncodeSpaces(listFile);
        std::string parameters =
            CCompanionCommandLine::Format(target.parameterFormat,
                                          {&credentials.strUserID, &credentials.strUserPW, &encodedList});

        // A fresh program starts reading at the top of its list: old records
        // must not be handed over again. If they cannot be removed, the
        // program is not started at all.
        if (!CListFile::Clear(listFile))
            return false;
        // A program that could not be started at all (missing, not runnable)
        // will never show its window: waiting out the start bound would only
        // freeze the page.
        if (!ProgramStart::Start(nullptr, program, parameters))
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
    COPYDATASTRUCT data = {};
    data.dwData = target.recordKind;
    data.cbData = CJobRecord::TextLength(text);
    data.lpData = const_cast<char*>(text.c_str());
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(job.sender), reinterpret_cast<LPARAM>(&data),
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, kCopyDataTimeoutMs, &answer) != 0;
}
