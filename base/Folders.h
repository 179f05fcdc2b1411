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

// The user's temp folder as GetTempPathA gives it, with its trailing backslash;
// "" when the call fails, its answer does not fit a path buffer, or the folder
// does not exist. Files of the control are written there and must never land
// in whatever the host's current folder happens to be.
std::string TempFolder();

// Whether the path names an existing folder ("" does not).
bool IsExistingFolder(const std::string& path);
