// CBridgeControl: one control's worth of state and methods for the browser
// bridge: the job texts and list files of one page, the thirteen methods on
// narrow text already converted at the host's edge, and the two events. It
// calls the same transfer, install and picker entries as the control does.
// Runs on the host's main thread, where the dialogs run modally.
#pragma once

#include <functional>
#include <string>
#include <vector>

class CBridgeControl
{
public:
    // Delivers one event to the page; args are UTF-8. Answers false when the
    // event could not be delivered (too large for one message).
    using EventSink = std::function<bool(const char* name, const std::vector<std::string>& args)>;

    explicit CBridgeControl(EventSink events);

    void CheckInstall();
    bool AllowPopUp(const std::string& site);
    void ShowUpFileDlg();
    // Its arguments are the page's own UTF-8 text, passed on unchanged.
    bool SelectComplete(const std::string& path, const std::string& size, const std::string& mode);
    void UpLoadInit();
    void UpLoadInfo(const std::string& idx);
    bool UpLoadEnd(const std::string& userID, const std::string& userPW);
    void DownLoadInit();
    void DownLoadInfo(const std::string& idx, const std::string& path);
    bool DownLoadEnd(const std::string& userID, const std::string& userPW, const std::string& mode);
    bool LauncherExplorer(const std::string& userID, const std::string& userPW);
    bool LauncherWebLink(const std::string& userID, const std::string& userPW, const std::string& webLink);
    void DownLoadSpInit();

private:
    EventSink m_events;
    std::string m_strDownList;
    std::string m_strUpList;
    std::string m_strWebLink;
    std::string m_strInstallDir;
    std::string m_strTempDir;
    std::string m_strDownListFile;
    std::string m_strUpListFile;
};
