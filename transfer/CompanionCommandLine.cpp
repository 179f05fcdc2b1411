// Command-line pieces for the companion programs. Pure string logic, any thread.
#include "transfer/CompanionCommandLine.h"

const char CCompanionCommandLine::kSpaceToken[] = "[[SPACE]]";

std::string CCompanionCommandLine::EncodeSpaces(const std::string& path)
{
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path)
    {
        if (c == ' ')
            encoded.append(kSpaceToken);
        else
            encoded.push_back(c);
    }
    return encoded;
}

std::string CCompanionCommandLine::Format(const char* format, std::initializer_list<const std::string*> values)
{
    std::string result;
    auto next = values.begin();
    for (const char* p = format; *p; ++p)
    {
        if (p[0] == '%' && p[1] == 's')
        {
            if (next != values.end())
                result.append(**next++);
            ++p;
        }
        else if (p[0] == '%' && p[1] == '%')
        {
            result.push_back('%');
            ++p;
        }
        else
        {
            result.push_back(*p);
        }
    }
    return result;
}

bool CCompanionCommandLine::IsSafeCredential(const std::string& value)
{
    if (value.empty())
        return false;
    for (char c : value)
    {
        unsigned char b = static_cast<unsigned char>(c);
        // Bytes of a double-byte character are all 0x40 or above in the Korean
        // code page, so a byte-wise test never rejects a Hangul credential.
        if (b < 0x20 || b == 0x7F || b == ' ' || b == '"')
            return false;
    }
    return true;
}
