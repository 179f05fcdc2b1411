// Starting the companion explorer at most once at a time: the process this
// module started last is remembered until it shows its window or ends, so a
// page cannot start one process after another. Shared by every control
// object of the process; safe on any thread.
#pragma once

#include <string>

namespace ExplorerStart
{
// Starts the program with the parameters unless a window of the class
// exists or the explorer started last is still alive without one. Answers
// whether a process was started.
bool Start(const char* windowClass, const std::string& program, const std::string& parameters);
}
