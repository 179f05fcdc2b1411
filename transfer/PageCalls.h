// What the page's Info, End and Launcher calls decide, on narrow text already
// converted at the caller's edge: which credentials are kept, whether a batch
// is handed off, which program a download mode selects, whether a web link
// goes ahead. Text the code page could not hold is never used: such an End
// or Launcher call declines before it stores, checks, starts or writes
// anything, and such an item spoils its batch. The control (from script) and the browser bridge (from a
// browser's messages) both call these, so the two cannot drift apart. The
// install check is passed in. Runs on the page's thread.
#pragma once

#include <unknwn.h>
#include <functional>
#include <string>

#include "base/Shared.h"
#include "transfer/JobText.h"

// Where one page's jobs go: the install folder and the two list files.
struct PageJobPlaces
{
    const std::string& installDir;
    const std::string& upListFile;
    const std::string& downListFile;
    IUnknown* sender;   // its address goes with a record sent by message; may be null
};

using InstallCheck = std::function<bool()>;

class CPageCalls
{
public:
    // UpLoadInit, DownLoadInit, DownLoadSpInit: an empty batch that gives back
    // the memory of the last one, however large it grew.
    static void BeginBatch(JobBatch& batch);
    // UpLoadInfo: the item is appended; one that cannot be held spoils the
    // batch instead (false).
    static bool AddUploadItem(JobBatch& batch, const NarrowText& idx);
    // DownLoadInfo: the pair is appended; either part not held spoils the
    // batch instead (false).
    static bool AddDownloadPair(JobBatch& batch, const NarrowText& idx, const NarrowText& path);

    // AllowPopUp: the site goes on the allow list; false for a site that
    // cannot be held or is refused.
    static bool AllowPopUp(const NarrowText& site);
    // UpLoadEnd: the credentials are replaced (also by empty ones), the check
    // runs, and the upload job goes to its program. True when handed off.
    static bool EndUpload(const NarrowText& userID, const NarrowText& userPW, const JobBatch& upList,
                          const PageJobPlaces& places, const InstallCheck& check);
    // DownLoadEnd: as EndUpload, with the program the mode selects; the check
    // is always the main package's.
    static bool EndDownload(const NarrowText& userID, const NarrowText& userPW, const NarrowText& mode,
                            const JobBatch& downList, const PageJobPlaces& places, const InstallCheck& check);
    // LauncherExplorer: false (S_FALSE) when a credential is empty after the
    // call or the explorer cannot be started with them; a failed check is true.
    static bool LaunchExplorer(const NarrowText& userID, const NarrowText& userPW, const PageJobPlaces& places,
                               const InstallCheck& check);
    // LauncherWebLink: the link is kept in storedLink (the text handed off);
    // empty credentials keep the stored ones; true ("1") when it went ahead
    // (a failed check counts), false ("0") otherwise.
    static bool PassWebLink(const NarrowText& userID, const NarrowText& userPW, const NarrowText& webLink,
                            std::string& storedLink, const PageJobPlaces& places, const InstallCheck& check);
};
