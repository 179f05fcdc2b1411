// The session-wide hand-off mutex. Page's thread.
#include "transfer/HandOffLock.h"

// "Local\": one per logon session, whatever the process's bitness or
// integrity; another user's pages never wait for this user's.
const char CHandOffLock::kName[] = "Local\\TavrineHandOff";

CHandOffLock::CHandOffLock(DWORD timeoutMs)
{
    m_hMutex.Reset(CreateMutexA(nullptr, FALSE, kName));
    if (!m_hMutex)
        return;
    DWORD wait = WaitForSingleObject(m_hMutex.Get(), timeoutMs);
    // Abandoned: the last holder's process ended mid hand-off. Whatever it
    // left (a list file half cleared, a program starting) the next hand-off
    // looks at afresh, as it would after a holder that finished.
    m_bHeld = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

CHandOffLock::~CHandOffLock()
{
    if (m_bHeld)
        ReleaseMutex(m_hMutex.Get());
}
