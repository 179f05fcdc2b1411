// The page's Info, End and Launcher decisions over the hand-off. Page's thread.
#include "transfer/PageCalls.h"

#include <windows.h>

#include "base/PopUpAllowList.h"
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

void CPageCalls::BeginBatch(JobBatch& batch)
{
    std::string().swap(batch.text);
    batch.spoiled = false;
}

bool CPageCalls::AddUploadItem(JobBatch& batch, const NarrowText& idx)
{
    if (!idx.held)
    {
        batch.spoiled = true;
        return false;
    }
    CJobText::AppendItem(batch.text, idx.text);
    return true;
}

bool CPageCalls::AddDownloadPair(JobBatch& batch, const NarrowText& idx, const NarrowText& path)
{
    if (!idx.held || !path.held)
    {
        batch.spoiled = true;
        return false;
    }
    CJobText::AppendPair(batch.text, idx.text, path.text);
    return true;
}

bool CPageCalls::AllowPopUp(const NarrowText& site)
{
    return site.held && AllowPopUpSite(site.text);
}

bool CPageCalls::EndUpload(const NarrowText& userID, const NarrowText& userPW, const JobBatch& upList,
                           const PageJobPlaces& places, const InstallCheck& check)
{
    if (!userID.held || !userPW.held || upList.spoiled)
        return false;
    StoreCredentials(userID.text, userPW.text);
    bool installed = check();
    if (!installed || upList.text.empty() || !PageCredentials().IsComplete())
        return false;
    return HandOff(g_uploadTarget, upList.text, places.upListFile, places);
}

bool CPageCalls::EndDownload(const NarrowText& userID, const NarrowText& userPW, const NarrowText& mode,
                             const JobBatch& downList, const PageJobPlaces& places, const InstallCheck& check)
{
    if (!userID.held || !userPW.held || !mode.held || downList.spoiled)
        return false;
    StoreCredentials(userID.text, userPW.text);
    bool installed = check();
    if (!installed || downList.text.empty() || !PageCredentials().IsComplete())
        return false;
    const CompanionTarget& target =
        CDownloadMode::SelectsSpeed(mode.text) ? g_speedDownloadTarget : g_downloadTarget;
    return HandOff(target, downList.text, places.downListFile, places);
}

bool CPageCalls::LaunchExplorer(const NarrowText& userID, const NarrowText& userPW, const PageJobPlaces& places,
                                const InstallCheck& check)
{
    if (!userID.held || !userPW.held)
        return false;
    StoreCredentials(userID.text, userPW.text);
    if (!PageCredentials().IsComplete())
        return false;
    if (!check())
        return true;
    return ::LaunchExplorer(places.installDir, PageCredentials()) == ExplorerLaunch::Started;
}

bool CPageCalls::PassWebLink(const NarrowText& userID, const NarrowText& userPW, const NarrowText& webLink,
                             std::string& storedLink, const PageJobPlaces& places, const InstallCheck& check)
{
    if (!userID.held || !userPW.held || !webLink.held)
        return false;
    storedLink = webLink.text;
    // Empty arguments keep what an earlier call stored.
    Credentials& credentials = PageCredentials();
    if (!userID.text.empty())
        credentials.strUserID = userID.text;
    if (!userPW.text.empty())
        credentials.strUserPW = userPW.text;

    bool running = FindWindowA(g_webLinkTarget.windowClass, nullptr) != nullptr;
    if (!running && !credentials.IsComplete())
        return false;
    // A failed install check still counts as going ahead; a hand-off that
    // could not reach the program does not.
    return !check() || HandOff(g_webLinkTarget, storedLink, places.downListFile, places);
}
