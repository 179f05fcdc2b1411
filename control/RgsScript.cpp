// Registry script parser: expands %NAME% replacements, then reads the nested
// key structure into a tree that the registrar applies.
#include "control/RgsScript.h"

#include <cctype>

#include "base/Shared.h"

namespace
{
bool EqualsNoCase(const std::string& a, const char* b)
{
    return Upper(a) == Upper(b);
}

class CTokenizer
{
public:
    explicit CTokenizer(const std::string& text) : m_text(text) {}

    // A token: "{", "}", "=", a quoted string (quoted set), or a bare word. Empty at the end.
    bool Next(std::string& token, bool& quoted, std::string& error)
    {
        SkipSpace();
        token.clear();
        quoted = false;
        if (m_pos >= m_text.size())
            return true;
        char c = m_text[m_pos];
        // Braces and '=' stand alone between blanks; "{GUID}" is one word, a key name.
        if ((c == '{' || c == '}' || c == '=') && IsBreak(m_pos + 1))
        {
            token.assign(1, c);
            ++m_pos;
            return true;
        }
        if (c == '\'')
        {
            quoted = true;
            ++m_pos;
            for (;;)
            {
                if (m_pos >= m_text.size())
                {
                    error = "unterminated string";
                    return false;
                }
                char d = m_text[m_pos++];
                if (d == '\'')
                {
                    if (m_pos < m_text.size() && m_text[m_pos] == '\'')
                    {
                        token += '\'';
                        ++m_pos;
                        continue;
                    }
                    return true;
                }
                token += d;
            }
        }
        while (m_pos < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            token += m_text[m_pos++];
        return true;
    }

    bool Peek(std::string& token, bool& quoted, std::string& error)
    {
        size_t saved = m_pos;
        bool good = Next(token, quoted, error);
        m_pos = saved;
        return good;
    }

    bool AtEnd()
    {
        SkipSpace();
        return m_pos >= m_text.size();
    }

private:
    bool IsBreak(size_t pos) const
    {
        return pos >= m_text.size() || std::isspace(static_cast<unsigned char>(m_text[pos]));
    }

    void SkipSpace()
    {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

bool ParseValue(CTokenizer& tokens, RgsNode& node, std::string& error)
{
    std::string type, data;
    bool quoted = false;
    if (!tokens.Next(type, quoted, error))
        return false;
    if (quoted || (type != "s" && type != "d"))
    {
        error = "unknown value type '" + type + "'";
        return false;
    }
    if (!tokens.Next(data, quoted, error))
        return false;
    if (type == "s" && !quoted)
    {
        error = "string value must be quoted";
        return false;
    }
    node.hasValue = true;
    node.valueType = type[0];
    node.value = data;
    return true;
}

bool ParseKeys(CTokenizer& tokens, std::vector<RgsNode>& keys, std::string& error, int depth);

bool ParseKey(CTokenizer& tokens, const std::string& first, bool firstQuoted, RgsNode& node, std::string& error,
              int depth)
{
    std::string token = first;
    bool quoted = firstQuoted;
    if (!quoted && EqualsNoCase(token, "val"))
    {
        node.isNamedValue = true;
        if (!tokens.Next(token, quoted, error))
            return false;
        node.name = token;
        std::string eq;
        if (!tokens.Next(eq, quoted, error))
            return false;
        if (eq != "=" || quoted)
        {
            error = "expected '=' after value name " + node.name;
            return false;
        }
        return ParseValue(tokens, node, error);
    }
    if (!quoted && EqualsNoCase(token, "NoRemove"))
        node.marker = RgsNode::Marker::NoRemove;
    else if (!quoted && EqualsNoCase(token, "ForceRemove"))
        node.marker = RgsNode::Marker::ForceRemove;
    else if (!quoted && EqualsNoCase(token, "Delete"))
        node.marker = RgsNode::Marker::Delete;
    if (node.marker != RgsNode::Marker::None && !tokens.Next(token, quoted, error))
        return false;
    if (token.empty() || (!quoted && (token == "{" || token == "}" || token == "=")))
    {
        error = "expected a key name";
        return false;
    }
    node.name = token;

    std::string next;
    if (!tokens.Peek(next, quoted, error))
        return false;
    if (!quoted && next == "=")
    {
        tokens.Next(next, quoted, error);
        if (!ParseValue(tokens, node, error))
            return false;
        if (!tokens.Peek(next, quoted, error))
            return false;
    }
    if (!quoted && next == "{")
    {
        tokens.Next(next, quoted, error);
        if (!ParseKeys(tokens, node.children, error, depth + 1))
            return false;
    }
    return true;
}

// Reads keys up to and including the closing brace.
bool ParseKeys(CTokenizer& tokens, std::vector<RgsNode>& keys, std::string& error, int depth)
{
    if (depth > 64)
    {
        error = "keys nested too deeply";
        return false;
    }
    for (;;)
    {
        std::string token;
        bool quoted = false;
        if (!tokens.Next(token, quoted, error))
            return false;
        if (token.empty() && !quoted)
        {
            error = "missing '}'";
            return false;
        }
        if (!quoted && token == "}")
            return true;
        RgsNode node;
        if (!ParseKey(tokens, token, quoted, node, error, depth))
            return false;
        keys.push_back(std::move(node));
    }
}
}

void CRgsScript::AddReplacement(const std::string& name, const std::string& value)
{
    m_replacements[Upper(name)] = value;
}

std::string CRgsScript::QuoteForScript(const std::string& value)
{
    std::string quoted;
    for (char c : value)
    {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return quoted;
}

bool CRgsScript::Expand(const std::string& text, std::string& expanded, std::string& error) const
{
    expanded.clear();
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '%')
        {
            expanded += text[i];
            continue;
        }
        size_t end = text.find('%', i + 1);
        if (end == std::string::npos)
        {
            error = "unterminated replacement";
            return false;
        }
        std::string name = text.substr(i + 1, end - i - 1);
        if (name.empty())
        {
            expanded += '%';
        }
        else
        {
            auto found = m_replacements.find(Upper(name));
            if (found == m_replacements.end())
            {
                error = "unknown replacement %" + name + "%";
                return false;
            }
            expanded += found->second;
        }
        i = end;
    }
    return true;
}

bool CRgsScript::Parse(const std::string& text, std::vector<RgsRoot>& roots, std::string& error) const
{
    roots.clear();
    std::string expanded;
    if (!Expand(text, expanded, error))
        return false;
    CTokenizer tokens(expanded);
    while (!tokens.AtEnd())
    {
        RgsRoot root;
        bool quoted = false;
        std::string brace;
        if (!tokens.Next(root.rootName, quoted, error) || !tokens.Next(brace, quoted, error))
            return false;
        if (brace != "{" || quoted)
        {
            error = "expected '{' after " + root.rootName;
            return false;
        }
        if (!ParseKeys(tokens, root.keys, error, 0))
            return false;
        roots.push_back(std::move(root));
    }
    return true;
}
