// Folder enumeration and the selection walk of the file picker. Runs on the
// picker's thread (the page's UI thread) or in tests without a window.
#include "picker/FolderScan.h"

#include <cstdio>
#include <cstring>

#include "control/Shared.h"
#include "picker/PickerPath.h"

bool ListFolderEntries(const std::string& folder, EntryKind kind, UINT codePage, std::vector<FolderEntry>& entries)
{
    entries.clear();
    std::string pattern = PickerPath::SearchPattern(folder, codePage);
    if (pattern.size() > PickerPath::kMaxPathBytes)
        return false;
    std::string parent;
    if (!PickerPath::PatternFolder(pattern, codePage, parent))
        return false;

    WIN32_FIND_DATAA data;
    CScopedFind find(FindFirstFileA(pattern.c_str(), &data));
    if (!find)
        return false;
    const DWORD skipped = kind == EntryKind::Folders ? FILE_ATTRIBUTE_HIDDEN
                                                     : FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    do
    {
        if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0)
            continue;
        if (data.dwFileAttributes & skipped)
            continue;
        if (kind == EntryKind::Folders && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        FolderEntry entry;
        entry.name = data.cFileName;
        entry.path = parent + '\\' + entry.name;
        // A shortened path would name some other file: leave the entry out.
        if (entry.path.size() > PickerPath::kMaxPathBytes)
            continue;
        entry.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entries.push_back(std::move(entry));
    } while (FindNextFileA(find.Get(), &data));
    return true;
}

std::string ByteCountText(ULONGLONG size)
{
    char text[32];
    // The runtime's own formatter, which knows the I64 length modifier.
    _snprintf(text, sizeof(text), "%I64d", static_cast<long long>(size));
    text[sizeof(text) - 1] = '\0';
    return text;
}

CFolderScan::CFolderScan(ReportFn report, UINT codePage) : m_report(std::move(report)), m_uCodePage(codePage) {}

bool CFolderScan::IdentifyFolder(const std::string& folder, FolderId& id)
{
    // Zero access and backup semantics: a folder handle that only reads attributes.
    CScopedFile file(CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info))
        return false;
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool CFolderScan::IsOnWalkPath(const FolderId& id) const
{
    for (const FolderId& on : m_walkPath)
        if (on.volume == id.volume && on.indexHigh == id.indexHigh && on.indexLow == id.indexLow)
            return true;
    return false;
}

void CFolderScan::ScanFolder(const std::string& folder, const std::string& base)
{
    // A folder that cannot be identified is still walked: the path field
    // bounds how deep such a walk can go.
    FolderId id;
    bool known = IdentifyFolder(folder, id);
    if (known && IsOnWalkPath(id))
        return;
    if (known)
        m_walkPath.push_back(id);

    std::vector<FolderEntry> entries;
    ListFolderEntries(folder, EntryKind::Folders, m_uCodePage, entries);
    for (const FolderEntry& sub : entries)
    {
        m_report(sub.path, "-1", base);
        ScanFolder(sub.path, base);
    }
    ListFolderEntries(folder, EntryKind::Files, m_uCodePage, entries);
    for (const FolderEntry& file : entries)
        m_report(file.path, ByteCountText(file.size), base);

    if (known)
        m_walkPath.pop_back();
}
