// CExtensionList: the browser extensions this host serves (the build's
// TAVRINE_EXTENSION_IDS), and the check of the caller a browser names on the
// host's command line. Pure logic over strings; any thread.
#pragma once

#include <string>
#include <vector>

class CExtensionList
{
public:
    // ids: comma-separated; an extension ID of Chrome and Edge (32 letters
    // a to p) or a Firefox add-on ID (anything else that is not empty).
    explicit CExtensionList(const std::string& ids);
    static const CExtensionList& ForBuild();

    const std::vector<std::string>& ChromeIds() const { return m_chrome; }
    const std::vector<std::string>& FirefoxIds() const { return m_firefox; }

    // The arguments after the program name. Chrome and Edge pass the caller's
    // origin, "chrome-extension://<id>/", first (and may add window options);
    // Firefox passes the manifest's path and then the add-on ID.
    bool AllowsCaller(const std::vector<std::string>& args) const;

    static bool IsChromeId(const std::string& id);

private:
    std::vector<std::string> m_chrome;
    std::vector<std::string> m_firefox;
};
