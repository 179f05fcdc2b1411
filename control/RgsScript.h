// Parser of the control's registry scripts (resources 101 and 103): a small
// language of nested keys with default values, named values and the markers
// NoRemove, ForceRemove and Delete. Pure text processing, any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct RgsNode
{
    enum class Marker { None, NoRemove, ForceRemove, Delete };

    std::string name;
    Marker marker = Marker::None;
    bool isNamedValue = false;   // "val Name = s '...'" rather than a key
    bool hasValue = false;       // a key's default value, or a named value's data
    char valueType = 's';        // 's' string, 'd' number
    std::string value;
    std::vector<RgsNode> children;
};

struct RgsRoot
{
    std::string rootName;        // as written: HKCR, HKEY_CLASSES_ROOT, ...
    std::vector<RgsNode> keys;
};

class CRgsScript
{
public:
    // Replacements for %NAME% (names match without regard to case); "%%" stands for "%".
    void AddReplacement(const std::string& name, const std::string& value);

    // Answers false and an error text when the script is malformed or names an unknown replacement.
    bool Parse(const std::string& text, std::vector<RgsRoot>& roots, std::string& error) const;

    // Quotes a replacement value for use inside '...' in a script: single quotes doubled.
    static std::string QuoteForScript(const std::string& value);

private:
    bool Expand(const std::string& text, std::string& expanded, std::string& error) const;
    std::map<std::string, std::string> m_replacements;   // keys upper-cased
};
