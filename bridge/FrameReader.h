// CFrameReader: reads the browser's frames, a 32-bit little-endian length and
// that many bytes, from the host's standard input: the length first, then the
// bytes whole, or piece by piece through a scanner that keeps none of them.
// Runs on the reader thread.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

class CRequestIdScanner;

class CFrameReader
{
public:
    enum class Read
    {
        Frame,    // a length, or the bytes it announced
        End,      // the input ended between frames
        Broken,   // the input ended inside a frame, or could not be read
    };

    explicit CFrameReader(HANDLE input) : m_hInput(input) {}

    Read Header(uint32_t& length);
    // The frame's bytes, kept in payload.
    Read Body(uint32_t length, std::string& payload);
    // The frame's bytes, shown to the scanner and dropped.
    Read Skip(uint32_t length, CRequestIdScanner& scanner);

private:
    // Reads exactly size bytes into buffer; answers how many arrived before
    // the input ended.
    size_t ReadExactly(char* buffer, size_t size);

    HANDLE m_hInput;
    std::vector<char> m_piece;   // what Skip reads into
};
