// Frame output through the writer's thread. Write and Flush run on any
// thread; the writer's thread only takes what is queued and writes it.
#include "bridge/FrameWriter.h"

#include <cstdint>

namespace
{
// Past this much unwritten output, Write waits for the browser to read.
const size_t kQueueBound = 8 * 1024 * 1024;
}

CFrameWriter::CFrameWriter(HANDLE output, size_t limit)
    : m_hOutput(output), m_limit(limit), m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hRoom(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    if (m_hWake && m_hRoom)
        m_hThread.Reset(CreateThread(nullptr, 0, s_Thread, this, 0, nullptr));
    if (!m_hThread)
        m_bFailed = true;
}

CFrameWriter::~CFrameWriter()
{
    if (!m_hThread)
        return;
    Flush(2000);
    {
        CLock lock(m_section);
        m_bStop = true;
    }
    SetEvent(m_hWake.Get());
    WaitForSingleObject(m_hThread.Get(), 1000);
}

bool CFrameWriter::Write(const std::string& payload)
{
    if (!Fits(payload))
        return false;
    uint32_t length = static_cast<uint32_t>(payload.size());
    char header[4];
    for (int i = 0; i < 4; ++i)
        header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    for (;;)
    {
        bool wake = false;
        {
            CLock lock(m_section);
            if (m_bFailed)
                return false;
            if (m_strQueued.size() < kQueueBound)
            {
                m_strQueued.reserve(m_strQueued.size() + sizeof(header) + payload.size());
                m_strQueued.append(header, sizeof(header));
                m_strQueued += payload;
                wake = m_bAsleep;
                m_bAsleep = false;
                if (wake)
                    SetEvent(m_hWake.Get());
                return true;
            }
        }
        // The browser reads slower than the host writes: wait for room.
        SetEvent(m_hWake.Get());
        WaitForSingleObject(m_hRoom.Get(), 100);
    }
}

bool CFrameWriter::Flush(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        {
            CLock lock(m_section);
            if (m_bFailed || (m_strQueued.empty() && !m_bWriting))
                return !m_bFailed;
        }
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(5);
    }
}

DWORD WINAPI CFrameWriter::s_Thread(void* self)
{
    try
    {
        static_cast<CFrameWriter*>(self)->WriteQueued();
    }
    catch (...)
    {
        // Out of memory: nothing more goes out; Write answers false from now on.
        CFrameWriter* writer = static_cast<CFrameWriter*>(self);
        CLock lock(writer->m_section);
        writer->m_bFailed = true;
        writer->m_strQueued.clear();
    }
    return 0;
}

void CFrameWriter::WriteQueued()
{
    std::string taken;
    for (;;)
    {
        {
            CLock lock(m_section);
            m_bWriting = false;
            taken.clear();
            taken.swap(m_strQueued);
            if (taken.empty())
            {
                if (m_bStop)
                    return;
                m_bAsleep = true;
            }
            else
            {
                m_bWriting = true;
            }
        }
        if (taken.empty())
        {
            WaitForSingleObject(m_hWake.Get(), INFINITE);
            continue;
        }
        size_t done = 0;
        while (done < taken.size())
        {
            DWORD written = 0;
            if (!WriteFile(m_hOutput, taken.data() + done, static_cast<DWORD>(taken.size() - done), &written,
                           nullptr) ||
                written == 0)
            {
                // The browser has gone: what is queued can never be read.
                CLock lock(m_section);
                m_bFailed = true;
                m_strQueued.clear();
                break;
            }
            done += written;
        }
        SetEvent(m_hRoom.Get());
    }
}
