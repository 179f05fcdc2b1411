// Path arithmetic of the file picker. Pure functions on narrow text.
#include "picker/PickerPath.h"

#include <vector>

namespace PickerPath
{
size_t LastBackslash(const std::string& path, UINT codePage)
{
    size_t found = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i)
    {
        unsigned char byte = static_cast<unsigned char>(path[i]);
        // Lead bytes are never below 0x80: plain ASCII needs no lookup.
        if (byte == '\\')
            found = i;
        else if (byte >= 0x80 && IsDBCSLeadByteEx(codePage, byte) && i + 1 < path.size())
            ++i;   // the trail byte may be 0x5C in some code pages
    }
    return found;
}

bool EndsWithBackslash(const std::string& path, UINT codePage)
{
    return !path.empty() && LastBackslash(path, codePage) == path.size() - 1;
}

std::string Join(const std::string& folder, const std::string& name, UINT codePage)
{
    std::string result = folder;
    if (!EndsWithBackslash(result, codePage))
        result += '\\';
    result += name;
    return result;
}

std::string Up(const std::string& folder, UINT codePage)
{
    std::string result = folder;
    if (EndsWithBackslash(result, codePage))
        result.pop_back();
    size_t slash = LastBackslash(result, codePage);
    if (slash == std::string::npos)
        return std::string();
    result.resize(slash + 1);
    return result;
}

std::string SearchPattern(const std::string& folder, UINT codePage)
{
    return Join(folder, "*.*", codePage);
}

static std::string WithoutTrailingBackslash(const std::string& path, UINT codePage)
{
    if (EndsWithBackslash(path, codePage))
        return path.substr(0, path.size() - 1);
    return path;
}

bool SamePlace(const std::string& a, const std::string& b, UINT codePage)
{
    return WithoutTrailingBackslash(a, codePage) == WithoutTrailingBackslash(b, codePage);
}

bool PatternFolder(const std::string& pattern, UINT codePage, std::string& folder)
{
    std::vector<char> buffer(MAX_PATH);
    DWORD length = GetFullPathNameA(pattern.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size())
    {
        buffer.resize(length + 1);
        length = GetFullPathNameA(pattern.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (length == 0 || length >= buffer.size())
        return false;
    std::string full(buffer.data(), length);
    size_t slash = LastBackslash(full, codePage);
    if (slash == std::string::npos)
        return false;
    folder = full.substr(0, slash);
    return true;
}
}
