// CBridgeControl: one control's worth of state and methods for the browser
// bridge: the job texts and list files of one page, the thirteen methods on
// narrow text already converted at the host's edge, and the two events. It
// calls the same transfer, install and picker entries as the control does.
// Runs on the host's main thread, where the dialogs run modally.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Shared.h"
#include "transfer/JobText.h"

class CBridgeControl
{
public:
    // Delivers one event to the page; args are UTF-8. Answers false when the
    // event could not be delivered (too large for one message).
    using EventSink = std::function<bool(const char* name, const std::vector<std::string>& args)>;

    explicit CBridgeControl(EventSink events);

    void CheckInstall();
    bool AllowPopUp(const NarrowText& site);
    void ShowUpFileDlg();
    // Its arguments are the page's own UTF-8 text, passed on unchanged.
    bool SelectComplete(const std::string& path, const std::string& size, const std::string& mode);
    void UpLoadInit();
    // Answers false when the item could not be held (the batch is spoiled).
    bool UpLoadInfo(const NarrowText& idx);
    bool UpLoadEnd(const NarrowText& userID, const NarrowText& userPW);
    void DownLoadInit();
    bool DownLoadInfo(const NarrowText& idx, const NarrowText& path);
    bool DownLoadEnd(const NarrowText& userID, const NarrowText& userPW, const NarrowText& mode);
    bool LauncherExplorer(const NarrowText& userID, const NarrowText& userPW);
    bool LauncherWebLink(const NarrowText& userID, const NarrowText& userPW, const NarrowText& webLink);
    void DownLoadSpInit();

private:
    EventSink m_events;
    JobBatch m_downBatch;
    JobBatch m_upBatch;
    std::string m_strWebLink;
    std::string m_strInstallDir;
    std::string m_strTempDir;
    std::string m_strDownListFile;
    std::string m_strUpListFile;
};
