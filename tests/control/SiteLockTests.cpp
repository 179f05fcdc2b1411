// The site list of a locked build: which page URLs and pop-up site names it
// serves, through the platform's URL parser as the control uses it. Pure
// matching; runs without the control registered.
#include <windows.h>
#include <string>

#include "base/SiteLock.h"
#include "harness/TestHarness.h"

namespace
{
const char kSites[] = "https://www.tavrine.example, https://*.tavrine.example,https://files.partner.test:8443";
}

static void test_page_urls()
{
    const CSiteLock lock(kSites);
    const struct
    {
        const wchar_t* url;
        bool allowed;
    } cases[] = {
        {L"https://www.tavrine.example/", true},
        {L"https://www.tavrine.example", true},
        {L"https://www.tavrine.example/share/list.html?id=3#top", true},
        {L"https://WWW.Tavrine.EXAMPLE/", true},              // host case does not matter
        {L"HTTPS://www.tavrine.example/", true},
        {L"https://www.tavrine.example:443/", true},         // the default port, named
        {L"https://a.b.tavrine.example/", true},             // any depth under "*."
        {L"https://tavrine.example/", false},                // "*." needs a label in front
        {L"http://www.tavrine.example/", false},
        {L"ftp://www.tavrine.example/", false},
        {L"https://evil-tavrine.example/", false},
        {L"https://eviltavrine.example/", false},
        {L"https://www.tavrine.example.evil.test/", false},
        {L"https://www.tavrine.example@evil.test/", false},
        {L"https://www.tavrine.example\\@evil.test/", false},
        {L"https://evil.test\\www.tavrine.example/", false},
        {L"https://user:pw@www.tavrine.example/", false},     // user information: never served
        {L"https://www.tavrine.example./", false},           // trailing dot: another origin to a browser
        {L"https://www..tavrine.example/", false},
        {L"https://www.tavrine.example%2eevil.test/", false},
        {L"https://www.tavrine.example:8443/", false},       // a port the entry does not name
        {L"https://www.tavrine.example:65979/", false},      // wraps to 443 in the platform's parser
        {L"https://www.tavrine.example:0443/", false},
        {L"https://www.tavrine.example:+443/", false},
        {L"https://www.tavrine.example:/", false},
        {L"https://files.partner.test:8443/x", true},        // the entry's own port
        {L"https://files.partner.test/", false},             // ... and no other
        {L"https://[::1]/", false},
        {L"https:www.tavrine.example", false},
        {L"https:///www.tavrine.example/", false},
        {L" https://www.tavrine.example/", false},
        {L"https://www.tavrine.example /", false},
        {L"https://www.t\x0430vrine.example/", false},       // a Cyrillic look-alike letter
        {L"file:///C:/pages/www.tavrine.example.html", false},
        {L"file://www.tavrine.example/share/page.html", false},
        {L"about:blank", false},
        {L"javascript:'https://www.tavrine.example/'", false},
        {L"", false},
    };
    for (const auto& c : cases)
        ok(lock.AllowsUrl(c.url) == c.allowed, "%ls: expected %s\n", c.url, c.allowed ? "allowed" : "refused");
}

static void test_popup_sites()
{
    const CSiteLock lock(kSites);
    const struct
    {
        const char* site;
        bool allowed;
    } cases[] = {
        {"www.tavrine.example", true},
        {"WWW.TAVRINE.EXAMPLE", true},
        {"files.tavrine.example", true},
        {"files.partner.test", true},           // the browser's list has no ports
        {"tavrine.example", false},
        {"evil.test", false},
        {"www.tavrine.example.evil.test", false},
        {"*.tavrine.example", false},           // a page allows a host, not a pattern
        {"https://www.tavrine.example", false},
        {"www.tavrine.example.", false},
        {"www.tavrine.example:443", false},
        {"", false},
        {"\xA3\xD7\xA3\xD7\xA3\xD7.tavrine.example", false},   // full-width letters as CP949 bytes
    };
    for (const auto& c : cases)
        ok(lock.AllowsPopUpSite(c.site) == c.allowed, "%s: expected %s\n", c.site, c.allowed ? "allowed" : "refused");
}

static void test_site_list()
{
    // Entries the control cannot read serve nobody; the readable ones still work.
    const CSiteLock mixed("http://plain.example, https://bad host.example,https://ok.example/ ,https://x.example:99999");
    ok(mixed.AllowsUrl(L"https://ok.example/"), "the readable entry was lost\n");
    ok(!mixed.AllowsUrl(L"http://plain.example/") && !mixed.AllowsUrl(L"https://plain.example/"),
       "an http entry serves a page\n");
    ok(!mixed.AllowsUrl(L"https://x.example/"), "an entry with a bad port serves its host\n");

    const CSiteLock none("");
    ok(none.IsEmpty(), "an empty list is not empty\n");
    ok(!none.AllowsUrl(L"https://www.tavrine.example/"), "an empty lock serves a page by itself\n");

    const CSiteLock garbage(" , ,https://");
    ok(garbage.IsEmpty(), "a list of nothing readable holds entries\n");
}

TEST_MAIN(TEST(test_page_urls), TEST(test_popup_sites), TEST(test_site_list))
