// CHandOffLock: the one hand-off at a time of the user's session. A hand-off
// looks for its companion's window, clears the list file, starts the program,
// waits for its window and appends the record; two pages (two tabs, two
// browsers, the control and the browser bridge) doing that at the same moment
// would both start a program and each program would read both jobs. A named
// mutex in the session's namespace makes the second wait for the first, then
// find its program and append to its list. Page's thread.
#pragma once

#include <windows.h>

#include "base/Shared.h"

class CHandOffLock
{
public:
    // The mutex every build of the control and the bridge shares.
    static const char kName[];

    // Waits up to timeoutMs for the session's hand-off; one whose holder
    // ended without releasing it counts as taken.
    explicit CHandOffLock(DWORD timeoutMs);
    ~CHandOffLock();
    CHandOffLock(const CHandOffLock&) = delete;
    CHandOffLock& operator=(const CHandOffLock&) = delete;

    // False when the mutex could not be made or was not had in time.
    bool IsHeld() const noexcept { return m_bHeld; }

private:
    CScopedHandle m_hMutex;
    bool m_bHeld = false;
};
