// How the control's parts start another program (a companion, the explorer,
// a setup program): as the shell's default verb starts it. A host that a
// browser runs inside a job object, which the browser ends with the host,
// asks that programs leave that job, so they outlive the host. Any thread.
#pragma once

#include <windows.h>
#include <string>

namespace ProgramStart
{
// From now on, programs are started outside this process's job where the
// job allows it (CREATE_BREAKAWAY_FROM_JOB), and inside it where it does not.
void LeaveJobOnStart();

// Starts the program with its parameters (owner: the window of any prompt
// the shell shows). Answers whether it started; with process set, its
// handle (or null when the shell gave none).
bool Start(HWND owner, const std::string& program, const std::string& parameters, HANDLE* process = nullptr);
}
