// Where the control's files live: the install folder of the companion programs
// and the temp folder of the list files and downloads. One rule for the
// control and the install dialog. Safe on any thread.
#pragma once

#include <string>

// "<Program Files>\Tavrine\" from what the shell gave; an empty folder means
// "C:\Program Files", and forward slashes become backslashes.
std::string InstallDirFromProgramFiles(const char* programFiles);

// The install folder of this system, by the rule above, with a trailing backslash.
std::string InstallFolder();

// The user's temp folder as the platform gives it (with a trailing backslash),
// or "" when it cannot be had.
std::string TempFolder();
