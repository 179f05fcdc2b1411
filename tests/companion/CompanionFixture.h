// Test-side helpers around the reference companion program: installing it
// under its four names where the control looks for the companions, reading
// its log, and closing the copies a test started. Used on the test's thread.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace CompanionFixture
{
// The control's install directory, computed the way the control does it.
std::string InstallDir();

// Copies the built companion under "TavrineUp.exe", "TavrineDown.exe",
// "TavrineSpeed.exe" and "Explorer.exe" into the install directory. A copy
// that is already there (possibly running) and as large as the build is kept.
bool Install();

// Points the companions this process starts (they inherit its environment)
// at a fresh log file and answers its path.
std::string UseFreshLog(const char* name);

// The log's lines, "" when it does not exist.
std::vector<std::string> ReadLog(const std::string& path);
// Lines containing every one of the given pieces.
std::vector<std::string> FindLines(const std::string& path, const std::vector<std::string>& pieces);
// Waits (bounded) until at least `count` lines contain all the pieces.
bool WaitForLines(const std::string& path, const std::vector<std::string>& pieces, size_t count = 1,
                  DWORD timeoutMs = 20000);

// Asks every companion window of the class that belongs to another process to
// close and waits (bounded) until none is left; answers whether they all went.
bool CloseAll(const char* windowClass);
bool CloseEverything();

// Whole file as bytes, "" when it does not exist; exists reports which.
std::string ReadFileBytes(const std::string& path, bool* exists = nullptr);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
}
