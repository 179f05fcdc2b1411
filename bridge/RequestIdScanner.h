// CRequestIdScanner: finds a request's "id" in a frame read piece by piece
// and dropped, never held whole: a frame too large for the limit, or one that
// finds the host's queue full, is still answered to its caller. Pure logic;
// the reader thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CRequestIdScanner
{
public:
    void Feed(const char* data, size_t size);
    // True when the frame's top-level object had an "id" that is an integer
    // a JavaScript number holds exactly, the rule of a request read whole.
    bool Found(int64_t& id);

private:
    void Step(char c);
    void EndNumber();

    enum class State
    {
        Start,     // before the top-level value
        Body,      // inside it, outside any string
        String,    // inside a string
        Number,    // inside the value of the top-level "id"
        NotObject, // the frame is no object: nothing to find
    };
    State m_state = State::Start;
    int m_depth = 0;
    bool m_bEscaped = false;
    bool m_bKeyString = false;   // the string is a key of the top-level object
    bool m_bExpectKey = false;   // at depth 1, the next string is a key
    bool m_bIdKey = false;       // the last top-level key was exactly "id"
    bool m_bIdValueNext = false; // its ':' has been read; the value comes next
    std::string m_strKey;        // the key so far, up to a few bytes
    std::string m_strNumber;     // the id's text, up to a few bytes
    bool m_bFound = false;
    bool m_bDone = false;        // the first "id" has been read, well formed or not
    int64_t m_id = 0;
};
