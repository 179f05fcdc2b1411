// The build's extension list and the caller check. Any thread.
#include "bridge/ExtensionList.h"

#include <algorithm>

#include "BuildConfig.h"
#include "base/Shared.h"

namespace
{
bool Contains(const std::vector<std::string>& list, const std::string& id)
{
    return std::find(list.begin(), list.end(), id) != list.end();
}

const char kChromeScheme[] = "chrome-extension://";
}

CExtensionList::CExtensionList(const std::string& ids)
{
    size_t start = 0;
    while (start <= ids.size())
    {
        size_t comma = ids.find(',', start);
        if (comma == std::string::npos)
            comma = ids.size();
        std::string id = TrimBlanks(ids.substr(start, comma - start));
        if (!id.empty())
            (IsChromeId(id) ? m_chrome : m_firefox).push_back(id);
        start = comma + 1;
    }
}

const CExtensionList& CExtensionList::ForBuild()
{
    static const CExtensionList list(TAVRINE_EXTENSION_IDS);
    return list;
}

bool CExtensionList::IsChromeId(const std::string& id)
{
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

bool CExtensionList::AllowsCaller(const std::vector<std::string>& args) const
{
    if (args.empty())
        return false;
    const std::string& first = args[0];
    const size_t schemeLength = sizeof(kChromeScheme) - 1;
    if (first.compare(0, schemeLength, kChromeScheme) == 0)
    {
        // Exactly the origin: the ID and one closing slash (or none).
        std::string id = first.substr(schemeLength);
        if (!id.empty() && id.back() == '/')
            id.pop_back();
        return IsChromeId(id) && Contains(m_chrome, id);
    }
    return args.size() >= 2 && !args[1].empty() && Contains(m_firefox, args[1]);
}
