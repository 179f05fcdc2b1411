// The bridge's control: the same subsystem entries, in the same order, as the
// control's methods. Host's main thread.
#include "bridge/BridgeControl.h"

#include <windows.h>

#include "base/Folders.h"
#include "base/Shared.h"
#include "install/InstallCheck.h"
#include "picker/FilePickerDlg.h"
#include "transfer/PageCalls.h"

CBridgeControl::CBridgeControl(EventSink events) : m_events(std::move(events))
{
    m_strInstallDir = InstallFolder();
    // Without a usable temporary folder there are no list files: the
    // hand-off declines rather than writing into the current folder.
    m_strTempDir = TempFolder();
    if (m_strTempDir.empty())
        return;
    m_strDownListFile = m_strTempDir + "Tavrine_Download_List";
    m_strUpListFile = m_strTempDir + "Tavrine_Upload_List";
}

void CBridgeControl::CheckInstall()
{
    m_events("InstallCompleteEvent", {});
}

bool CBridgeControl::AllowPopUp(const NarrowText& site)
{
    return CPageCalls::AllowPopUp(site);
}

void CBridgeControl::ShowUpFileDlg()
{
    // Each item the user adds is one event, sent while the picker is open.
    CFilePickerDlg picker([this](BSTR path, BSTR size, BSTR mode) {
        m_events("UpSelectComplete", {WideToUtf8(path), WideToUtf8(size), WideToUtf8(mode)});
    });
    // No window of the browser can own it: the picker stands on its own.
    picker.DoModal(nullptr);
}

bool CBridgeControl::SelectComplete(const std::string& path, const std::string& size, const std::string& mode)
{
    return m_events("UpSelectComplete", {path, size, mode});
}

void CBridgeControl::UpLoadInit()
{
    CPageCalls::BeginBatch(m_upBatch);
    EnsureInstalled();
}

bool CBridgeControl::UpLoadInfo(const NarrowText& idx)
{
    return CPageCalls::AddUploadItem(m_upBatch, idx);
}

bool CBridgeControl::UpLoadEnd(const NarrowText& userID, const NarrowText& userPW)
{
    PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, nullptr};
    return CPageCalls::EndUpload(userID, userPW, m_upBatch, places, EnsureInstalled);
}

void CBridgeControl::DownLoadInit()
{
    CPageCalls::BeginBatch(m_downBatch);
    EnsureInstalled();
}

bool CBridgeControl::DownLoadInfo(const NarrowText& idx, const NarrowText& path)
{
    return CPageCalls::AddDownloadPair(m_downBatch, idx, path);
}

bool CBridgeControl::DownLoadEnd(const NarrowText& userID, const NarrowText& userPW, const NarrowText& mode)
{
    PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, nullptr};
    return CPageCalls::EndDownload(userID, userPW, mode, m_downBatch, places, EnsureInstalled);
}

bool CBridgeControl::LauncherExplorer(const NarrowText& userID, const NarrowText& userPW)
{
    PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, nullptr};
    return CPageCalls::LaunchExplorer(userID, userPW, places, EnsureInstalled);
}

bool CBridgeControl::LauncherWebLink(const NarrowText& userID, const NarrowText& userPW, const NarrowText& webLink)
{
    PageJobPlaces places = {m_strInstallDir, m_strUpListFile, m_strDownListFile, nullptr};
    return CPageCalls::PassWebLink(userID, userPW, webLink, m_strWebLink, places, EnsureInstalled);
}

void CBridgeControl::DownLoadSpInit()
{
    CPageCalls::BeginBatch(m_downBatch);
    EnsureSpInstalled();
}
