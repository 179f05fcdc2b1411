// CFrameReader: reads the browser's frames, a 32-bit little-endian length and
// that many bytes, from the host's standard input. Runs on the reader thread.
#pragma once

#include <windows.h>
#include <string>

class CFrameReader
{
public:
    enum class Read
    {
        Frame,       // a whole frame, in payload
        Oversized,   // a whole frame over the limit, read and dropped
        End,         // the input ended between frames
        Broken,      // the input ended inside a frame, or could not be read
    };

    CFrameReader(HANDLE input, size_t limit) : m_hInput(input), m_limit(limit) {}

    Read Next(std::string& payload);

private:
    // Reads exactly size bytes (into buffer, or dropped when it is null);
    // answers how many arrived before the input ended.
    size_t ReadExactly(char* buffer, size_t size);

    HANDLE m_hInput;
    size_t m_limit;
};
