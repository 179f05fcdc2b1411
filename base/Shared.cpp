// Text conversions at the scripting boundary. Called on the page's thread.
#include "base/Shared.h"

#include <cctype>
#include <climits>
#include <cwchar>
#include <vector>

UINT ThreadAnsiCodePage()
{
    // Every supported Windows (XP on) converts with the thread's code page by this name.
    return CP_THREAD_ACP;
}

std::string WideToNarrow(const wchar_t* text, UINT codePage)
{
    if (!text)
        return std::string();
    int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1)
        return std::string();
    std::string result(static_cast<size_t>(needed), '\0');
    int written = WideCharToMultiByte(codePage, 0, text, -1, &result[0], needed, nullptr, nullptr);
    if (written <= 0)
        return std::string();
    result.resize(static_cast<size_t>(written) - 1);   // drop the terminating NUL
    return result;
}

std::wstring NarrowToWide(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    int needed = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring result(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0], needed);
    return result;
}

bool Utf8ToWide(const std::string& text, std::wstring& wide)
{
    wide.clear();
    if (text.empty())
        return true;
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (needed <= 0)
        return false;
    wide.assign(static_cast<size_t>(needed), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0],
                               needed) == needed;
}

NarrowText Utf8ToNarrow(const std::string& text, UINT codePage)
{
    std::wstring wide;
    if (!Utf8ToWide(text, wide))
        return {std::string(), false};
    return WideToNarrowText(wide.c_str(), codePage);
}

NarrowText WideToNarrowText(const wchar_t* text, UINT codePage)
{
    NarrowText result;
    if (!text || !*text)
        return result;
    size_t length = wcslen(text);
    result.held = false;
    if (length > static_cast<size_t>(INT_MAX / 4))
        return result;
    int count = static_cast<int>(length);
    // No best fit, and the platform tells when it put in a default character.
    // Some code pages (UTF-7, UTF-8, the ISO-2022 and GB 18030 families) take
    // neither the flag nor the question: those convert without, and the
    // round trip below is the whole check.
    BOOL usedDefault = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL* askUsed = &usedDefault;
    int needed = WideCharToMultiByte(codePage, flags, text, count, nullptr, 0, nullptr, askUsed);
    if (needed <= 0)
    {
        flags = 0;
        askUsed = nullptr;
        needed = WideCharToMultiByte(codePage, flags, text, count, nullptr, 0, nullptr, nullptr);
    }
    if (needed <= 0 || usedDefault)
        return result;
    std::string narrow(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(codePage, flags, text, count, &narrow[0], needed, nullptr, askUsed) != needed ||
        usedDefault)
        return result;
    // Held only when the bytes read back as the very characters given: this
    // also catches a mapping onto another character that the platform does
    // not count as a default (a best fit where the flag is not honoured).
    int back = MultiByteToWideChar(codePage, 0, narrow.data(), needed, nullptr, 0);
    if (back != count)
        return result;
    std::wstring wide(static_cast<size_t>(back), L'\0');
    if (MultiByteToWideChar(codePage, 0, narrow.data(), needed, &wide[0], back) != back ||
        wide.compare(0, wide.size(), text, length) != 0)
        return result;
    result.text = std::move(narrow);
    result.held = true;
    return result;
}

namespace
{
// The system's own ANSI and OEM code pages, and UTF-8, read bytes below 0x80
// as those very characters (code pages such as UTF-7 or ISO-2022 do not).
bool ReadsAsciiAsItself(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_OEMCP || codePage == CP_UTF8 ||
           codePage == GetACP() || codePage == GetOEMCP();
}
}

BSTR NarrowToBstr(const std::string& text, UINT codePage)
{
    // The picker reports thousands of paths and sizes per press, nearly all
    // plain ASCII: those are widened byte by byte into the string itself.
    const size_t size = text.size();
    if (size > static_cast<size_t>(INT_MAX / 2))
        return SysAllocStringLen(nullptr, 0);
    size_t ascii = 0;
    while (ascii < size && static_cast<unsigned char>(text[ascii]) < 0x80)
        ++ascii;
    if (ascii == size && ReadsAsciiAsItself(codePage))
    {
        BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
        if (result)
            for (size_t i = 0; i < size; ++i)
                result[i] = static_cast<wchar_t>(text[i]);
        return result;
    }
    int needed = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(size), nullptr, 0);
    if (needed <= 0)
        return SysAllocStringLen(nullptr, 0);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(needed));
    if (result && MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(size), result, needed) != needed)
    {
        SysFreeString(result);
        return SysAllocStringLen(nullptr, 0);
    }
    return result;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimBlanks(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}
