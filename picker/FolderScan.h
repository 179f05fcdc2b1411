// What the file picker lists and reports: one folder's visible subfolders or
// files in enumeration order, the byte-count text of a report, and the
// depth-first walk below a chosen folder. Works on narrow paths without any
// window, on the caller's thread.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

struct FolderEntry
{
    std::string name;       // as enumerated
    std::string path;       // absolute folder path, a backslash, the name
    ULONGLONG size = 0;     // files only
    DWORD attributes = 0;
};

// One folder's visible entries, each kind in enumeration order, and how many
// could not be offered (see EnumerateFolder).
struct FolderListing
{
    std::vector<FolderEntry> folders;
    std::vector<FolderEntry> files;
    size_t unoffered = 0;
};

// Takes one entry of an enumeration; answers false to end it early.
using EntryTaker = std::function<bool(FolderEntry&& entry)>;

// One entry as an enumeration reads it, before any path is formed: the name
// it is offered by ("" when it cannot be offered), its size and attributes.
// The name lives only until the next entry is read.
struct FoundEntry
{
    const std::string& name;
    ULONGLONG size;
    DWORD attributes;
};
using FoundTaker = std::function<bool(const FoundEntry& entry)>;

// Enumerates folder once, skipping "." and "..", hidden entries and system
// files (system folders stay). Entries come with their full paths whatever
// their length; a folder whose search pattern is longer than the path field
// is enumerated through the long-path form of its (absolute) path. Whoever
// keeps entries in fixed path fields leaves out those that do not fit.
// Answers false when the folder could not be enumerated. One pass gives both
// kinds in the same order as a pass for each would.
// Names are read wide and given in the narrow file functions' code page,
// never best fit: a name that code page cannot hold exactly comes by its
// short (8.3) name, which opens that very entry; an entry that has none
// either cannot be offered at all, and comes with an empty name and path
// (and its attributes and size), so that whoever lists can say how many.
bool ListFolderEntries(const std::string& folder, UINT codePage, FolderListing& listing);
// The same enumeration, each entry (either kind) handed over as it is read;
// entries that cannot be offered come too, with an empty path.
bool EnumerateFolder(const std::string& folder, UINT codePage, const EntryTaker& take);
// The same enumeration without a path per entry: parent is set, before the
// first entry, to the folder the entries' paths are formed from (the
// entry's path is parent, a backslash, its name).
bool EnumerateFolderNames(const std::string& folder, UINT codePage, std::string& parent, const FoundTaker& take);

// The name by which the picker offers an entry enumerated wide: its own name
// when the file functions' code page holds it, else its short name when that
// is held, else none (false).
bool OfferedName(const wchar_t* name, const wchar_t* shortName, std::string& offered);

// Whether an entry handed over by the enumeration can be offered.
inline bool IsOffered(const FolderEntry& entry)
{
    return !entry.path.empty();
}

// The decimal byte count of a report ("%I64d": digits only).
std::string ByteCountText(ULONGLONG size);

// The three strings of one report: path, size text, mode.
using ReportFn = std::function<void(const std::string& path, const std::string& size, const std::string& mode)>;

// The walk below one chosen folder. Every report below it carries the chosen
// folder's path as its mode. Subfolders (each followed by its own tree) come
// before the folder's files. A folder that is already on the current path of
// the walk (reached again through a junction or link) is reported but not
// entered.
class CFolderScan
{
public:
    CFolderScan(ReportFn report, UINT codePage);

    void ScanFolder(const std::string& folder, const std::string& base);
    // Entries below the folders scanned so far that could not be offered
    // (neither their name nor a short name can be held); none is reported.
    size_t Unoffered() const noexcept { return m_nUnoffered; }

private:
    struct FolderId
    {
        DWORD volume;
        DWORD indexHigh;
        DWORD indexLow;
    };
    // One entry of a walked folder: its name in the level's name buffer.
    struct LevelEntry
    {
        size_t nameAt;
        size_t nameLength;
        ULONGLONG size;
        DWORD attributes;
    };
    // One folder on the current path of the walk, with its listing; its
    // identity is read only when some folder has to be compared with it.
    struct WalkLevel
    {
        std::string path;     // as the walk entered it
        std::string parent;   // as its entries' paths are formed from
        std::string names;    // the entries' names, one after another
        std::vector<LevelEntry> folders;
        std::vector<LevelEntry> files;
        size_t next = 0;      // subfolders already walked
        bool throughLink = false;
        bool identified = false;
        bool known = false;
        FolderId id = {};
    };
    static bool IdentifyFolder(const std::string& folder, FolderId& id);
    bool IsOnWalkPath(const FolderId& id);
    bool MayEnter(const std::string& path, bool link);
    // The entry's full path, formed in one buffer reused for every report.
    const std::string& EntryPath(const WalkLevel& level, const LevelEntry& entry);
    void Enter(const std::string& folder, bool throughLink);
    void Walk(const std::string& folder, const std::string& base, bool throughLink);

    ReportFn m_report;
    UINT m_uCodePage;
    std::vector<WalkLevel> m_levels;   // the first m_nDepth are the walk's path
    size_t m_nDepth = 0;
    std::string m_strEntryPath;
    int m_nLinkLevels = 0;   // levels of the walk path entered through a link
    size_t m_nUnoffered = 0;
};
