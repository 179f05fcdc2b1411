// The id scanner: a small JSON tokenizer that tracks strings and nesting only,
// enough to tell the top-level "id" key from the same text inside a string or
// a nested value. Keys written with escapes are not taken. Reader thread.
#include "bridge/RequestIdScanner.h"

namespace
{
// 2^53 - 1: the largest integer below which every integer is a JavaScript number.
const uint64_t kMaxExactId = 9007199254740991ull;
const size_t kMaxNumberText = 24;
}

void CRequestIdScanner::Feed(const char* data, size_t size)
{
    size_t at = 0;
    while (at < size && !m_bDone && m_state != State::NotObject)
    {
        // Most of a large frame is the inside of one string: skip to its end.
        if (m_state == State::String && !m_bEscaped && !m_bKeyString)
        {
            while (at < size && data[at] != '"' && data[at] != '\\')
                ++at;
            if (at == size)
                return;
        }
        Step(data[at++]);
    }
}

void CRequestIdScanner::Step(char c)
{
    switch (m_state)
    {
    case State::Start:
        if (c == '{')
        {
            m_state = State::Body;
            m_depth = 1;
            m_bExpectKey = true;
        }
        else if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            m_state = State::NotObject;
        return;
    case State::String:
        if (m_bEscaped)
        {
            m_bEscaped = false;
            if (m_bKeyString)
                m_strKey = "\\";   // an escaped key is never taken for "id"
            return;
        }
        if (c == '\\')
        {
            m_bEscaped = true;
            return;
        }
        if (c == '"')
        {
            m_state = State::Body;
            if (m_bKeyString)
            {
                m_bIdKey = m_strKey == "id";
                m_bExpectKey = false;
            }
            m_bKeyString = false;
            return;
        }
        if (m_bKeyString && m_strKey.size() < 4)
            m_strKey += c;
        return;
    case State::Number:
        if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E')
        {
            if (m_strNumber.size() < kMaxNumberText)
                m_strNumber += c;
            else
                m_bDone = true;   // longer than any id that could be taken
            return;
        }
        EndNumber();
        return;
    case State::Body:
        break;
    case State::NotObject:
        return;
    }

    if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
        return;
    if (m_bIdValueNext)
    {
        m_bIdValueNext = false;
        if ((c >= '0' && c <= '9') || c == '-')
        {
            m_state = State::Number;
            m_strNumber.assign(1, c);
            return;
        }
        m_bDone = true;   // a string, null, an object: no id of a request
        return;
    }
    switch (c)
    {
    case '"':
        m_state = State::String;
        m_bKeyString = m_depth == 1 && m_bExpectKey;
        m_strKey.clear();
        return;
    case '{':
    case '[':
        ++m_depth;
        return;
    case '}':
    case ']':
        if (--m_depth == 0)
            m_bDone = true;
        return;
    case ',':
        if (m_depth == 1)
            m_bExpectKey = true;
        return;
    case ':':
        if (m_depth == 1 && m_bIdKey)
            m_bIdValueNext = true;
        m_bIdKey = false;
        return;
    default:
        return;
    }
}

void CRequestIdScanner::EndNumber()
{
    m_bDone = true;
    m_state = State::Body;
    const std::string& text = m_strNumber;
    size_t at = text[0] == '-' ? 1 : 0;
    // JSON integers only: digits, no leading zero, no fraction or exponent.
    if (at >= text.size() || (text[at] == '0' && text.size() > at + 1))
        return;
    uint64_t magnitude = 0;
    for (size_t i = at; i < text.size(); ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return;
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > kMaxExactId)
            return;
    }
    m_id = at ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    m_bFound = true;
}

bool CRequestIdScanner::Found(int64_t& id)
{
    if (m_state == State::Number && !m_bDone)
        EndNumber();
    id = m_id;
    return m_bFound;
}
