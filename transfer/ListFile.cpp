// Appending job records to a companion's list file. Runs on the page's thread.
#include "transfer/ListFile.h"

#include "base/Shared.h"

namespace
{
// A companion reads its list file in a moment: the first retries come
// quickly, later ones further apart, up to this pause.
const DWORD kFirstRetryPauseMs = 1;
const DWORD kLongestRetryPauseMs = 50;

bool IsTransientOpenError(DWORD error)
{
    // Another process holds the file (the companion reading it), or it is
    // still being deleted.
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}
}

bool CListFile::Exists(const std::string& path)
{
    WIN32_FIND_DATAA data;
    CScopedFind find(FindFirstFileA(path.c_str(), &data));
    return find.IsValid();
}

CListFile::Append CListFile::AppendRecord(const std::string& path, const std::string& record, DWORD retryMs)
{
    CScopedFile file;
    DWORD start = GetTickCount();
    DWORD pause = kFirstRetryPauseMs;
    for (;;)
    {
        file.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            break;
        if (!IsTransientOpenError(GetLastError()) || GetTickCount() - start >= retryMs)
            return Append::NotOpened;
        Sleep(pause);
        pause = pause * 2 < kLongestRetryPauseMs ? pause * 2 : kLongestRetryPauseMs;
    }

    LARGE_INTEGER zero = {};
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END))
        return Append::NotWritten;

    // One write for header and text: a reader never sees a header without its text.
    DWORD written = 0;
    BOOL wrote = WriteFile(file.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    if (wrote && written == record.size())
        return Append::Done;

    if (SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN))
        SetEndOfFile(file.Get());
    return Append::NotWritten;
}

bool CListFile::Clear(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return !Exists(path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    if (DeleteFileA(path.c_str()))
        return true;

    // A read-only file refuses both deleting and writing.
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    {
        if (DeleteFileA(path.c_str()))
            return true;
    }
    // Still there: another process has it open. Opening it for truncation
    // works when that process shares writing.
    CScopedFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file)
        return true;
    if (!Exists(path))
        return true;
    // Left as it was found.
    if (readOnly)
        SetFileAttributesA(path.c_str(), attributes);
    return false;
}
