// Folder enumeration and the selection walk of the file picker. Runs on the
// picker's thread (the page's UI thread) or in tests without a window.
#include "picker/FolderScan.h"

#include <cstdio>
#include <cstring>

#include "base/Shared.h"
#include "picker/PickerPath.h"

namespace
{
// The code page the narrow file functions convert names with.
UINT FileApiCodePage()
{
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

// The listing's filters: "." and "..", hidden entries and system files stay out
// (system folders are listed). An entry that cannot be offered is handed over
// with an empty name. The name buffer is the enumeration's own, reused for
// every entry.
bool TakeEntry(const FoundTaker& take, std::string& name, const WIN32_FIND_DATAW& data)
{
    const wchar_t* wide = data.cFileName;
    if (wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0')))
        return true;
    const DWORD attributes = data.dwFileAttributes;
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_HIDDEN) || (!isFolder && (attributes & FILE_ATTRIBUTE_SYSTEM)))
        return true;
    OfferedName(wide, data.cAlternateFileName, name);
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return take(FoundEntry{name, size, attributes});
}

// The pattern as the wide file functions take it, converted as the narrow
// ones would.
std::wstring FileNameToWide(const std::string& path)
{
    return NarrowToWide(path, FileApiCodePage());
}

// Paths too long for the narrow file functions, in the form the wide ones
// take at any length. Only absolute paths have one: "" otherwise.
std::wstring ExtendedPath(const std::string& path)
{
    std::wstring wide = FileNameToWide(path);
    if (wide.empty())
        return std::wstring();
    if (wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\')
        return L"\\\\?\\" + wide;
    if (wide.size() > 2 && wide[0] == L'\\' && wide[1] == L'\\')
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return std::wstring();
}

// A folder whose search pattern does not fit a path field is below a chosen
// folder: the walk formed its path from a normalised listing, so it is
// already absolute and needs no resolving.
bool EnumerateLongFolder(const std::string& folder, UINT codePage, std::string& parent, const FoundTaker& take)
{
    parent = folder;
    if (PickerPath::EndsWithBackslash(parent, codePage))
        parent.pop_back();
    std::wstring pattern = ExtendedPath(parent);
    if (pattern.empty())
        return false;
    pattern += L"\\*";
    WIN32_FIND_DATAW data;
    CScopedFind find(FindFirstFileW(pattern.c_str(), &data));
    if (!find)
        return false;
    std::string name;
    while (TakeEntry(take, name, data) && FindNextFileW(find.Get(), &data))
    {
    }
    return true;
}
}

bool EnumerateFolderNames(const std::string& folder, UINT codePage, std::string& parent, const FoundTaker& take)
{
    parent.clear();
    std::string pattern = PickerPath::SearchPattern(folder, codePage);
    if (pattern.size() > PickerPath::kMaxPathBytes)
        return EnumerateLongFolder(folder, codePage, parent, take);
    if (!PickerPath::PatternFolder(pattern, codePage, parent))
        return false;

    // Read wide: the narrow functions would best-fit names the code page
    // lacks (é to e, the won sign to a backslash) into names of other files.
    std::wstring widePattern = FileNameToWide(pattern);
    if (widePattern.empty())
        return false;
    WIN32_FIND_DATAW data;
    CScopedFind find(FindFirstFileW(widePattern.c_str(), &data));
    if (!find)
        return false;
    std::string name;
    while (TakeEntry(take, name, data) && FindNextFileW(find.Get(), &data))
    {
    }
    return true;
}

bool EnumerateFolder(const std::string& folder, UINT codePage, const EntryTaker& take)
{
    std::string parent;
    return EnumerateFolderNames(folder, codePage, parent, [&parent, &take](const FoundEntry& found) {
        FolderEntry entry;
        if (!found.name.empty())
        {
            entry.path.reserve(parent.size() + 1 + found.name.size());
            entry.path = parent;
            entry.path += '\\';
            entry.path += found.name;
            entry.name = found.name;
        }
        entry.size = found.size;
        entry.attributes = found.attributes;
        return take(std::move(entry));
    });
}

bool OfferedName(const wchar_t* name, const wchar_t* shortName, std::string& offered)
{
    // Most names are plain ASCII, which every ANSI and OEM code page holds
    // as itself: no conversion call for them.
    const wchar_t* c = name;
    while (*c && *c < 0x80)
        ++c;
    if (!*c)
    {
        offered.assign(name, c);
        return true;
    }
    UINT codePage = FileApiCodePage();
    NarrowText own = WideToNarrowText(name, codePage);
    if (own.held)
    {
        offered = std::move(own.text);
        return true;
    }
    NarrowText alternate = WideToNarrowText(shortName, codePage);
    if (alternate.held && !alternate.text.empty())
    {
        offered = std::move(alternate.text);
        return true;
    }
    offered.clear();
    return false;
}

bool ListFolderEntries(const std::string& folder, UINT codePage, FolderListing& listing)
{
    listing.folders.clear();
    listing.files.clear();
    listing.unoffered = 0;
    return EnumerateFolder(folder, codePage, [&listing](FolderEntry&& entry) {
        if (!IsOffered(entry))
        {
            ++listing.unoffered;
            return true;
        }
        ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? listing.folders : listing.files).push_back(std::move(entry));
        return true;
    });
}

std::string ByteCountText(ULONGLONG size)
{
    // As "%I64d" prints it: the count read as a signed 64-bit number. Formed
    // by hand, because a press reports thousands of them.
    const long long value = static_cast<long long>(size);
    ULONGLONG magnitude = value < 0 ? 0 - size : size;
    char text[24];
    char* end = text + sizeof(text);
    char* first = end;
    do
    {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--first = '-';
    return std::string(first, end);
}

CFolderScan::CFolderScan(ReportFn report, UINT codePage) : m_report(std::move(report)), m_uCodePage(codePage) {}

bool CFolderScan::IdentifyFolder(const std::string& folder, FolderId& id)
{
    // Zero access and backup semantics: a folder handle that only reads attributes.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    CScopedFile file;
    if (folder.size() <= PickerPath::kMaxPathBytes)
        file.Reset(CreateFileA(folder.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    else
        file.Reset(CreateFileW(ExtendedPath(folder).c_str(), 0, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
    for (size_t i = 0; i < m_nDepth; ++i)
    {
        WalkLevel& level = m_levels[i];
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

bool CFolderScan::MayEnter(const std::string& path, bool link)
{
    // A plain folder below plain folders cannot be one of its own ancestors;
    // only a link, or anything below one, can lead back up. Reading a
    // folder's identity costs as much as listing it, so only those are read.
    // A folder below a link that cannot be identified might lead round a
    // cycle: it is entered only while its path fits a path field, which
    // bounds how deep such a walk can go.
    if (!link && m_nLinkLevels == 0)
        return true;
    FolderId id;
    if (!IdentifyFolder(path, id))
        return path.size() <= PickerPath::kMaxPathBytes;
    return !IsOnWalkPath(id);
}

const std::string& CFolderScan::EntryPath(const WalkLevel& level, const LevelEntry& entry)
{
    m_strEntryPath.assign(level.parent);
    m_strEntryPath += '\\';
    m_strEntryPath.append(level.names, entry.nameAt, entry.nameLength);
    return m_strEntryPath;
}

void CFolderScan::Enter(const std::string& folder, bool throughLink)
{
    // The levels are kept when the walk climbs back, and refilled when it
    // goes down again: their buffers are reused from folder to folder.
    if (m_nDepth == m_levels.size())
        m_levels.emplace_back();
    WalkLevel& level = m_levels[m_nDepth++];
    level.path = folder;
    level.throughLink = throughLink;
    level.identified = false;
    level.known = false;
    level.next = 0;
    level.names.clear();
    level.folders.clear();
    level.files.clear();
    if (throughLink)
        ++m_nLinkLevels;
    // One enumeration per folder: subfolders and files come out of it in the
    // same order that one pass for each would give.
    EnumerateFolderNames(folder, m_uCodePage, level.parent, [this, &level](const FoundEntry& found) {
        if (found.name.empty())
        {
            ++m_nUnoffered;
            return true;
        }
        const LevelEntry entry = {level.names.size(), found.name.size(), found.size, found.attributes};
        level.names += found.name;
        ((found.attributes & FILE_ATTRIBUTE_DIRECTORY) ? level.folders : level.files).push_back(entry);
        return true;
    });
}

void CFolderScan::Walk(const std::string& folder, const std::string& base, bool throughLink)
{
    // Depth first, on a stack of its own: below a chosen folder a tree may be
    // as deep as the longest path allows, deeper than the thread's stack
    // would carry. m_levels[m_nDepth - 1] is the folder being walked, and its
    // next counts its subfolders already done.
    static const std::string folderSize = "-1";
    Enter(folder, throughLink);
    while (m_nDepth > 0)
    {
        WalkLevel& level = m_levels[m_nDepth - 1];
        if (level.next < level.folders.size())
        {
            const LevelEntry sub = level.folders[level.next++];
            const std::string& path = EntryPath(level, sub);
            m_report(path, folderSize, base);
            // The path stays as it was formed until the next entry's: the
            // report only reads it, and the level is not used past Enter.
            const bool link = (sub.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (MayEnter(path, link))
                Enter(path, link);
            continue;
        }
        for (const LevelEntry& file : level.files)
            m_report(EntryPath(level, file), ByteCountText(file.size), base);
        if (level.throughLink)
            --m_nLinkLevels;
        --m_nDepth;
    }
}

void CFolderScan::ScanFolder(const std::string& folder, const std::string& base)
{
    m_nDepth = 0;
    m_nLinkLevels = 0;
    // The chosen folder may itself be a link: then everything below is checked.
    DWORD attributes = GetFileAttributesA(folder.c_str());
    bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    Walk(folder, base, link);
}
