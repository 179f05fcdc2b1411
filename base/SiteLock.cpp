// CSiteLock: parses the build's site list once and matches page URLs and
// pop-up site names against it. No state beyond the parsed list; any thread.
#include "base/SiteLock.h"

#include <windows.h>
#include <wininet.h>

#include "base/Shared.h"

namespace
{
const unsigned kHttpsPort = 443;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A DNS name in lower-case ASCII: labels of letters, digits and '-', no empty
// label (so no leading, doubled or trailing dot). Anything else cannot equal
// an entry, and refusing it early keeps look-alikes and escapes out.
bool NormaliseHost(const std::string& text, std::string& host)
{
    if (text.empty() || text.size() > 253)
        return false;
    host.clear();
    size_t label = 0;
    for (char c : text)
    {
        c = LowerAscii(c);
        if (c == '.')
        {
            if (label == 0)
                return false;
            label = 0;
        }
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')
        {
            if (++label > 63)
                return false;
        }
        else
        {
            return false;
        }
        host += c;
    }
    return label != 0;
}

// 1 to 65535 in plain decimal digits, no sign, no leading zero.
bool ParsePort(const std::string& text, unsigned& port)
{
    if (text.empty() || text.size() > 5 || text[0] == '0')
        return false;
    port = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    return port <= 65535;
}
}

CSiteLock::CSiteLock(const std::string& list)
{
    const std::string scheme = "https://";
    size_t start = 0;
    while (start <= list.size())
    {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string item = TrimBlanks(list.substr(start, comma - start));
        start = comma + 1;

        if (item.size() > 1 && item.back() == '/')
            item.pop_back();
        if (item.size() <= scheme.size())
            continue;
        bool isHttps = true;
        for (size_t i = 0; i < scheme.size(); ++i)
            isHttps = isHttps && LowerAscii(item[i]) == scheme[i];
        if (!isHttps)
            continue;
        std::string authority = item.substr(scheme.size());

        Entry entry;
        entry.port = kHttpsPort;
        size_t colon = authority.find(':');
        if (colon != std::string::npos)
        {
            if (!ParsePort(authority.substr(colon + 1), entry.port))
                continue;
            authority.erase(colon);
        }
        if (authority.compare(0, 2, "*.") == 0)
        {
            entry.wildcard = true;
            authority.erase(0, 2);
        }
        if (!NormaliseHost(authority, entry.host))
            continue;
        m_entries.push_back(entry);
    }
}

const CSiteLock& CSiteLock::ForBuild()
{
    static const CSiteLock lock(TAVRINE_ALLOWED_SITES);
    return lock;
}

bool CSiteLock::HostMatches(const Entry& entry, const std::string& host) const
{
    if (!entry.wildcard)
        return host == entry.host;
    // "*.suffix" covers hosts ending in ".suffix" with at least one label in
    // front, never the suffix itself and never a mere textual tail.
    return host.size() > entry.host.size() + 1 &&
           host.compare(host.size() - entry.host.size(), entry.host.size(), entry.host) == 0 &&
           host[host.size() - entry.host.size() - 1] == '.';
}

bool CSiteLock::AllowsUrl(const std::wstring& url) const
{
    SiteOrigin origin;
    if (!ParseHttpsOrigin(url, origin))
        return false;
    for (const Entry& entry : m_entries)
        if (entry.port == origin.port && HostMatches(entry, origin.host))
            return true;
    return false;
}

bool CSiteLock::AllowsPopUpSite(const std::string& site) const
{
    std::string host;
    if (!NormaliseHost(site, host))
        return false;
    for (const Entry& entry : m_entries)
        if (HostMatches(entry, host))
            return true;
    return false;
}

bool CSiteLock::ParseHttpsOrigin(const std::wstring& url, SiteOrigin& origin)
{
    // A browser's location never holds these; a URL that does may be read one
    // way here and another way by the browser.
    for (wchar_t c : url)
        if (c == L'\\' || c <= L' ' || c == 0x7f)
            return false;

    // Null pointers with non-zero lengths: the parser answers pointers into
    // the URL, which also shows where the host stands in it.
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTPS || !parts.lpszScheme || !parts.lpszHostName ||
        parts.dwHostNameLength == 0)
        return false;
    if (parts.dwUserNameLength != 0 || parts.dwPasswordLength != 0)
        return false;

    // The authority must be exactly "host" or "host:port" right after "https://".
    const wchar_t* text = url.c_str();
    size_t hostAt = static_cast<size_t>(parts.lpszHostName - text);
    if (parts.lpszScheme != text || parts.dwSchemeLength != 5 || hostAt != 8 || url.compare(5, 3, L"://") != 0)
        return false;
    size_t end = url.find_first_of(L"/?#", hostAt);
    if (end == std::wstring::npos)
        end = url.size();
    std::wstring authority = url.substr(hostAt, end - hostAt);
    std::wstring hostText = authority.substr(0, parts.dwHostNameLength);
    bool hasPort = authority.size() > hostText.size();
    if (hasPort && authority[hostText.size()] != L':')
        return false;
    std::wstring portText = hasPort ? authority.substr(hostText.size() + 1) : std::wstring();

    std::string narrowHost, narrowPort;
    for (wchar_t c : hostText)
    {
        if (c > 0x7f)
            return false;
        narrowHost += static_cast<char>(c);
    }
    for (wchar_t c : portText)
    {
        if (c > 0x7f)
            return false;
        narrowPort += static_cast<char>(c);
    }
    SiteOrigin parsed;
    if (!NormaliseHost(narrowHost, parsed.host))
        return false;
    parsed.port = kHttpsPort;
    if (hasPort && !ParsePort(narrowPort, parsed.port))
        return false;
    // The parser's own port must agree with the text (it wraps numbers past 65535).
    if (parts.nPort != parsed.port)
        return false;
    origin = parsed;
    return true;
}
