// Appending job records to a companion's list file. Runs on the page's thread.
#include "transfer/ListFile.h"

#include "base/Shared.h"

namespace
{
const DWORD kRetryPauseMs = 50;

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
    for (;;)
    {
        file.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            break;
        if (!IsTransientOpenError(GetLastError()) || GetTickCount() - start >= retryMs)
            return Append::NotOpened;
        Sleep(kRetryPauseMs);
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
