// The list file a companion program reads its job records from, in the
// user's temporary directory. Runs on the page's thread.
#pragma once

#include <windows.h>
#include <string>

class CListFile
{
public:
    enum class Append
    {
        Done,          // the whole record is at the end of the file
        NotOpened,     // the file stayed locked or could not be created
        NotWritten,    // the write failed or was short; the file is as it was
    };

    // Opens the file without sharing (creating it when missing) and writes the
    // record at its end in one write. A companion that is reading the file
    // holds it for a moment, so a sharing violation is retried for about
    // retryMs. A failed or short write is cut back off, so the file never
    // holds half a record.
    static Append AppendRecord(const std::string& path, const std::string& record, DWORD retryMs);

    static bool Exists(const std::string& path);

    // Readies the file for a companion about to be started, which reads it
    // from the top: deletes it, or, when that is refused (read-only, or held
    // open by a reader that lets others write), cuts it to nothing. Answers
    // false when old records could still be read from it.
    static bool Clear(const std::string& path);
};
