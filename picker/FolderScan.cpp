// Folder enumeration and the selection walk of the file picker. Runs on the
// picker's thread (the page's UI thread) or in tests without a window.
#include "picker/FolderScan.h"

#include <cstdio>
#include <cstring>

#include "base/Shared.h"
#include "picker/PickerPath.h"

bool ListFolderEntries(const std::string& folder, UINT codePage, FolderListing& listing)
{
    listing.folders.clear();
    listing.files.clear();
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
    do
    {
        if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0)
            continue;
        const DWORD attributes = data.dwFileAttributes;
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((attributes & FILE_ATTRIBUTE_HIDDEN) || (!isFolder && (attributes & FILE_ATTRIBUTE_SYSTEM)))
            continue;
        FolderEntry entry;
        entry.name = data.cFileName;
        entry.path.reserve(parent.size() + 1 + entry.name.size());
        entry.path = parent;
        entry.path += '\\';
        entry.path += entry.name;
        // A shortened path would name some other file: leave the entry out.
        if (entry.path.size() > PickerPath::kMaxPathBytes)
            continue;
        entry.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.attributes = attributes;
        (isFolder ? listing.folders : listing.files).push_back(std::move(entry));
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

bool CFolderScan::IsOnWalkPath(const FolderId& id)
{
    for (WalkLevel& level : m_walkPath)
    {
        if (!level.identified)
        {
            level.known = IdentifyFolder(level.path, level.id);
            level.identified = true;
        }
        if (level.known && level.id.volume == id.volume && level.id.indexHigh == id.indexHigh &&
            level.id.indexLow == id.indexLow)
            return true;
    }
    return false;
}

bool CFolderScan::MayEnter(const FolderEntry& sub)
{
    // A plain folder below plain folders cannot be one of its own ancestors;
    // only a link, or anything below one, can lead back up. Reading a
    // folder's identity costs as much as listing it, so only those are read.
    // A folder that cannot be identified is entered: the path field bounds
    // how deep such a walk can go.
    if (!(sub.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && m_nLinkLevels == 0)
        return true;
    FolderId id;
    return !IdentifyFolder(sub.path, id) || !IsOnWalkPath(id);
}

void CFolderScan::Walk(const std::string& folder, const std::string& base, bool throughLink)
{
    m_walkPath.push_back({folder, throughLink, false, false, {}});
    if (throughLink)
        ++m_nLinkLevels;

    // One listing per folder: subfolders and files come out of the same
    // enumeration in the same order that one pass for each would give.
    FolderListing listing;
    ListFolderEntries(folder, m_uCodePage, listing);
    for (const FolderEntry& sub : listing.folders)
    {
        m_report(sub.path, "-1", base);
        if (MayEnter(sub))
            Walk(sub.path, base, (sub.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    }
    for (const FolderEntry& file : listing.files)
        m_report(file.path, ByteCountText(file.size), base);

    if (throughLink)
        --m_nLinkLevels;
    m_walkPath.pop_back();
}

void CFolderScan::ScanFolder(const std::string& folder, const std::string& base)
{
    m_walkPath.clear();
    m_nLinkLevels = 0;
    // The chosen folder may itself be a link: then everything below is checked.
    DWORD attributes = GetFileAttributesA(folder.c_str());
    bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    Walk(folder, base, link);
}
