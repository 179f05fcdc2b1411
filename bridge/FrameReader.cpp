// Frame input: whole frames or nothing. A pipe hands over whatever part of a
// frame has arrived, so every read loops until its count is met. Reader thread.
#include "bridge/FrameReader.h"

#include "bridge/RequestIdScanner.h"

size_t CFrameReader::ReadExactly(char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size)
    {
        size_t left = size - done;
        DWORD want = static_cast<DWORD>(left > 0x100000 ? 0x100000 : left);
        DWORD got = 0;
        if (!ReadFile(m_hInput, buffer + done, want, &got, nullptr) || got == 0)
            break;   // end of input (a closed pipe reads as an error)
        done += got;
    }
    return done;
}

CFrameReader::Read CFrameReader::Header(uint32_t& length)
{
    unsigned char header[4];
    size_t got = ReadExactly(reinterpret_cast<char*>(header), sizeof(header));
    if (got == 0)
        return Read::End;
    if (got < sizeof(header))
        return Read::Broken;
    length = header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<uint32_t>(header[3]) << 24);
    return Read::Frame;
}

CFrameReader::Read CFrameReader::Body(uint32_t length, std::string& payload)
{
    payload.resize(length);
    if (length && ReadExactly(&payload[0], length) < length)
        return Read::Broken;
    return Read::Frame;
}

CFrameReader::Read CFrameReader::Skip(uint32_t length, CRequestIdScanner& scanner)
{
    // Large pieces: each read is a call into the system, which costs more
    // than scanning what it brings.
    if (m_piece.empty())
        m_piece.resize(256 * 1024);
    uint32_t left = length;
    while (left)
    {
        size_t want = left > m_piece.size() ? m_piece.size() : left;
        DWORD got = 0;
        if (!ReadFile(m_hInput, m_piece.data(), static_cast<DWORD>(want), &got, nullptr) || got == 0)
            return Read::Broken;
        scanner.Feed(m_piece.data(), got);
        left -= got;
    }
    return Read::Frame;
}
