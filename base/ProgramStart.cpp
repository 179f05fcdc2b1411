// Program starts through the shell, or directly when the process must leave
// its job. Any thread.
#include "base/ProgramStart.h"

#include <shellapi.h>

namespace
{
LONG g_lLeaveJob = 0;

bool StartOutsideJob(const std::string& program, const std::string& parameters, HANDLE* process)
{
    // The command line the shell would give: the quoted program, then the
    // parameters exactly as they are (the companions read them from there).
    std::string commandLine = "\"" + program + "\"";
    if (!parameters.empty())
        commandLine += " " + parameters;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info = {};
    // Handles are not inherited: the browser's pipes stay the host's alone,
    // so the browser sees the end of the host's output when the host ends.
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_BREAKAWAY_FROM_JOB, nullptr,
                        nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    if (process)
        *process = info.hProcess;
    else
        CloseHandle(info.hProcess);
    return true;
}
}

namespace ProgramStart
{
void LeaveJobOnStart()
{
    InterlockedExchange(&g_lLeaveJob, 1);
}

bool Start(HWND owner, const std::string& program, const std::string& parameters, HANDLE* process)
{
    if (process)
        *process = nullptr;
    // A job that forbids leaving it refuses the start (access denied), and a
    // program that needs elevation cannot be created directly: both go
    // through the shell as before, inside the job.
    if (InterlockedCompareExchange(&g_lLeaveJob, 0, 0) && StartOutsideJob(program, parameters, process))
        return true;
    if (!process)
    {
        HINSTANCE started = ShellExecuteA(owner, nullptr, program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(started) > 32;   // 32 and below are failures
    }
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        return false;
    if (process)
        *process = info.hProcess;
    return true;
}
}
