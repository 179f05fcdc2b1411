// The explorer's single start. Any thread; one lock around the check and
// the start, so two pages' threads cannot both start one.
#include "transfer/ExplorerStart.h"

#include <windows.h>

#include "base/ProgramStart.h"
#include "base/Shared.h"

namespace
{
struct CLaunchState
{
    CRITICAL_SECTION section;
    CScopedHandle process;   // the explorer started last, until it is known to be settled
    CLaunchState() { InitializeCriticalSection(&section); }
    ~CLaunchState() { DeleteCriticalSection(&section); }
} g_launch;

class CLaunchLock
{
public:
    CLaunchLock() { EnterCriticalSection(&g_launch.section); }
    ~CLaunchLock() { LeaveCriticalSection(&g_launch.section); }
    CLaunchLock(const CLaunchLock&) = delete;
    CLaunchLock& operator=(const CLaunchLock&) = delete;
};
}

namespace ExplorerStart
{
bool Start(const char* windowClass, const std::string& program, const std::string& parameters)
{
    CLaunchLock lock;
    if (FindWindowA(windowClass, nullptr))
    {
        g_launch.process.Reset();   // it showed its window: nothing left to guard
        return false;
    }
    if (g_launch.process && WaitForSingleObject(g_launch.process.Get(), 0) == WAIT_TIMEOUT)
        return false;   // still starting (or hung before its window): one is enough
    g_launch.process.Reset();

    // The same start as ShellExecuteA gives, with the process handle kept.
    HANDLE process = nullptr;
    if (!ProgramStart::Start(nullptr, program, parameters, &process))
        return false;
    g_launch.process.Reset(process);
    return true;
}
}
