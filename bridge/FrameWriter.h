// CFrameWriter: the one writer of the host's standard output. Messages are
// queued whole, each as a 32-bit little-endian length and its bytes, and a
// thread of the writer's own writes whatever has gathered in one piece: a
// picker reporting thousands of items then costs a few writes, not one
// each, and the dialog's thread never waits on a slow reader for long.
#pragma once

#include <windows.h>
#include <string>

#include "base/Shared.h"

class CFrameWriter
{
public:
    CFrameWriter(HANDLE output, size_t limit);
    // Writes out what is queued (bounded), then stops the thread.
    ~CFrameWriter();
    CFrameWriter(const CFrameWriter&) = delete;
    CFrameWriter& operator=(const CFrameWriter&) = delete;

    // Queues one message. False, and nothing queued, for a message over the
    // limit, or once the browser no longer reads. Waits while much is queued.
    bool Write(const std::string& payload);
    bool Fits(const std::string& payload) const { return payload.size() <= m_limit; }
    // Waits (bounded) until everything queued has been written.
    bool Flush(DWORD timeoutMs);

private:
    static DWORD WINAPI s_Thread(void* self);
    void WriteQueued();

    HANDLE m_hOutput;
    size_t m_limit;
    CCriticalSection m_section;
    std::string m_strQueued;     // whole frames, in order
    bool m_bFailed = false;
    bool m_bStop = false;
    bool m_bWriting = false;     // the thread holds taken output not yet written
    bool m_bAsleep = false;      // the thread waits for m_hWake
    // Events are set only when a thread waits for them: each is a call into
    // the system, which would otherwise cost more than the message itself.
    CScopedHandle m_hWake;       // auto-reset: something was queued, or stop
    CScopedHandle m_hRoom;       // auto-reset: a write finished
    CScopedHandle m_hThread;
};
