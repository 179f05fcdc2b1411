// CFrameWriter: the one writer of the host's standard output. Each message
// goes out whole, as a 32-bit little-endian length and its bytes, never
// interleaved with another. Any thread.
#pragma once

#include <windows.h>
#include <string>

#include "base/Shared.h"

class CFrameWriter
{
public:
    CFrameWriter(HANDLE output, size_t limit) : m_hOutput(output), m_limit(limit) {}

    // False, and nothing written, for a message over the limit; false too
    // when the browser no longer reads.
    bool Write(const std::string& payload);
    bool Fits(const std::string& payload) const { return payload.size() <= m_limit; }

private:
    HANDLE m_hOutput;
    size_t m_limit;
    CCriticalSection m_section;
};
