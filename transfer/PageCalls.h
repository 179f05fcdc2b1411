// What the page's End and Launcher calls decide, on narrow text already
// converted at the caller's edge: which credentials are kept, whether a batch
// is handed off, which program a download mode selects, whether a web link
// goes ahead. The control (from script) and the browser bridge (from a
// browser's messages) both call these, so the two cannot drift apart. The
// install check is passed in. Runs on the page's thread.
#pragma once

#include <unknwn.h>
#include <functional>
#include <string>

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
    // UpLoadEnd: the credentials are replaced (also by empty ones), the check
    // runs, and the upload job goes to its program. True when handed off.
    static bool EndUpload(const std::string& userID, const std::string& userPW, const std::string& upList,
                          const PageJobPlaces& places, const InstallCheck& check);
    // DownLoadEnd: as EndUpload, with the program the mode selects; the check
    // is always the main package's.
    static bool EndDownload(const std::string& userID, const std::string& userPW, const std::string& mode,
                            const std::string& downList, const PageJobPlaces& places, const InstallCheck& check);
    // LauncherExplorer: false (S_FALSE) when a credential is empty after the
    // call or the explorer cannot be started with them; a failed check is true.
    static bool LaunchExplorer(const std::string& userID, const std::string& userPW, const PageJobPlaces& places,
                               const InstallCheck& check);
    // LauncherWebLink: empty credentials keep the stored ones; true ("1") when
    // it went ahead (a failed check counts), false ("0") otherwise.
    static bool PassWebLink(const std::string& userID, const std::string& userPW, const std::string& webLink,
                            const PageJobPlaces& places, const InstallCheck& check);
};
