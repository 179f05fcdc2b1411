// CSiteLock: the list of https origins a locked build of the control serves,
// and the matching of a page's URL or a pop-up site name against it. Pure
// logic over strings (plus the platform's URL parser); safe on any thread.
#pragma once

#include <string>
#include <vector>

#include "BuildConfig.h"

// Set when the build names the sites it serves; an unlocked build answers
// every page, exactly as before the lock existed.
constexpr bool kSiteLockBuilt = sizeof(TAVRINE_ALLOWED_SITES) > 1;

// Scheme https, lower-case ASCII host, port.
struct SiteOrigin
{
    std::string host;
    unsigned port = 0;
};

class CSiteLock
{
public:
    // list: comma-separated entries "https://host[:port]" or "https://*.suffix[:port]".
    // Entries that are not of that form are dropped, so a bad entry serves nobody.
    explicit CSiteLock(const std::string& list);

    // The lock of this build (empty when the build names no sites).
    static const CSiteLock& ForBuild();

    bool IsEmpty() const { return m_entries.empty(); }

    // True when the URL's origin is https on an allowed host and port.
    bool AllowsUrl(const std::wstring& url) const;
    // True when a site name for the pop-up allow list is a plain host that is
    // itself allowed (ports do not apply: the browser's list is by host).
    bool AllowsPopUpSite(const std::string& site) const;

    // Reads the origin of an https URL with the platform's parser, and refuses
    // whatever that parser and a browser might read differently: user
    // information, backslashes, hosts that are not plain DNS names, ports that
    // are not plain numbers.
    static bool ParseHttpsOrigin(const std::wstring& url, SiteOrigin& origin);

private:
    struct Entry
    {
        std::string host;    // exact host, or the suffix after "*."
        bool wildcard = false;
        unsigned port = 0;
    };

    bool HostMatches(const Entry& entry, const std::string& host) const;

    std::vector<Entry> m_entries;
};
