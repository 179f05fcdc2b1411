// CHostRegistration: tells the browsers where this host is. Writes the
// manifests beside the program (one for Chrome and Edge with the allowed
// origins, one for Firefox with the allowed add-ons, each listing every
// allowed ID, UTF-8 without a byte order mark) and each browser's key, whose
// default value names its manifest: under the current user, or the machine
// for policies that refuse hosts registered per user. Main thread.
#pragma once

#include <windows.h>
#include <string>

#include "bridge/ExtensionList.h"

class CHostRegistration
{
public:
    static const char kHostName[];   // "com.tavrine.bridge"

    // programPath: the host's full path; the manifests go into its folder.
    CHostRegistration(const std::wstring& programPath, const CExtensionList& extensions);

    // Both answer an HRESULT of the first step that failed.
    HRESULT Register(HKEY root) const;
    // Removes the keys and the manifests; what is already gone is no failure.
    HRESULT Unregister(HKEY root) const;

    std::wstring ChromeManifestPath() const;
    std::wstring FirefoxManifestPath() const;

    // The manifests' text.
    std::string ChromeManifest() const;
    std::string FirefoxManifest() const;

private:
    std::wstring m_strProgram;
    std::wstring m_strFolder;   // with its trailing backslash
    const CExtensionList& m_extensions;
};
