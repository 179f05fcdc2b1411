// Frame output: one locked WriteFile sequence per message. Any thread.
#include "bridge/FrameWriter.h"

#include <cstdint>

bool CFrameWriter::Write(const std::string& payload)
{
    if (!Fits(payload))
        return false;
    uint32_t length = static_cast<uint32_t>(payload.size());
    std::string frame;
    frame.reserve(payload.size() + 4);
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(static_cast<char>((length >> shift) & 0xFF));
    frame += payload;

    CLock lock(m_section);
    size_t done = 0;
    while (done < frame.size())
    {
        DWORD written = 0;
        if (!WriteFile(m_hOutput, frame.data() + done, static_cast<DWORD>(frame.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}
