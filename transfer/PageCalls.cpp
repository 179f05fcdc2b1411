// The page's End and Launcher decisions over the hand-off. Page's thread.
#include "transfer/PageCalls.h"

#include <windows.h>

#include "transfer/DownloadMode.h"
#include "transfer/HandOff.h"

namespace
{
void StoreCredentials(const std::string& userID, const std::string& userPW)
{
    Credentials given = {userID, userPW};
    PageCredentials() = std::move(given);
}

bool HandOff(const CompanionTarget& target, const std::string& text, const std::string& listFile,
             const PageJobPlaces& places)
{
    return HandOffToCompanion({target, text, listFile, places.installDir, PageCredentials(), places.sender});
}
}

bool CPageCalls::EndUpload(const std::string& userID, const std::string& userPW, const std::string& upList,
                           const PageJobPlaces& places, const InstallCheck& check)
{
    StoreCredentials(userID, userPW);
    bool installed = check();
    if (!installed || upList.empty() || !PageCredentials().IsComplete())
        return false;
    return HandOff(g_uploadTarget, upList, places.upListFile, places);
}

bool CPageCalls::EndDownload(const std::string& userID, const std::string& userPW, const std::string& mode,
                             const std::string& downList, const PageJobPlaces& places, const InstallCheck& check)
{
    StoreCredentials(userID, userPW);
    bool installed = check();
    if (!installed || downList.empty() || !PageCredentials().IsComplete())
        return false;
    const CompanionTarget& target = CDownloadMode::SelectsSpeed(mode) ? g_speedDownloadTarget : g_downloadTarget;
    return HandOff(target, downList, places.downListFile, places);
}

bool CPageCalls::LaunchExplorer(const std::string& userID, const std::string& userPW, const PageJobPlaces& places,
                                const InstallCheck& check)
{
    StoreCredentials(userID, userPW);
    if (!PageCredentials().IsComplete())
        return false;
    if (!check())
        return true;
    return ::LaunchExplorer(places.installDir, PageCredentials()) == ExplorerLaunch::Started;
}

bool CPageCalls::PassWebLink(const std::string& userID, const std::string& userPW, const std::string& webLink,
                             const PageJobPlaces& places, const InstallCheck& check)
{
    // Empty arguments keep what an earlier call stored.
    Credentials& credentials = PageCredentials();
    if (!userID.empty())
        credentials.strUserID = userID;
    if (!userPW.empty())
        credentials.strUserPW = userPW;

    bool running = FindWindowA(g_webLinkTarget.windowClass, nullptr) != nullptr;
    if (!running && !credentials.IsComplete())
        return false;
    // A failed install check still counts as going ahead; a hand-off that
    // could not reach the program does not.
    return !check() || HandOff(g_webLinkTarget, webLink, places.downListFile, places);
}
