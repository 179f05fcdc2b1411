// Frame input: whole frames or nothing. A pipe hands over whatever part of a
// frame has arrived, so every read loops until its count is met. Reader thread.
#include "bridge/FrameReader.h"

#include <cstdint>

size_t CFrameReader::ReadExactly(char* buffer, size_t size)
{
    char scratch[4096];
    size_t done = 0;
    while (done < size)
    {
        size_t left = size - done;
        DWORD want = static_cast<DWORD>(buffer ? (left > 0x100000 ? 0x100000 : left)
                                               : (left > sizeof(scratch) ? sizeof(scratch) : left));
        DWORD got = 0;
        if (!ReadFile(m_hInput, buffer ? buffer + done : scratch, want, &got, nullptr) || got == 0)
            break;   // end of input (a closed pipe reads as an error)
        done += got;
    }
    return done;
}

CFrameReader::Read CFrameReader::Next(std::string& payload)
{
    payload.clear();
    unsigned char header[4];
    size_t got = ReadExactly(reinterpret_cast<char*>(header), sizeof(header));
    if (got == 0)
        return Read::End;
    if (got < sizeof(header))
        return Read::Broken;
    uint32_t length = header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<uint32_t>(header[3]) << 24);
    if (length > m_limit)
        return ReadExactly(nullptr, length) == length ? Read::Oversized : Read::Broken;
    payload.resize(length);
    if (length && ReadExactly(&payload[0], length) < length)
        return Read::Broken;
    return Read::Frame;
}
