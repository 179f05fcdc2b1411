// The install check's decisions without windows: the package table, the
// install and temporary directory rules (shared with the control), the
// version-text comparison, the result-file digit and the progress line. Safe
// on any thread.
#pragma once

#include <windows.h>
#include <string>

// File names and URL paths of one package; the two packages differ only here.
struct InstallPackage
{
    const char* versionUrlPath;    // on the update server
    const char* serverCopyName;    // in the temp dir
    const char* localVersionName;  // in the install dir
    const char* setupUrlPath;      // on the update server
    const char* setupName;         // in the temp dir
    const char* resultName;        // in the temp dir, written by the setup program
};

const InstallPackage& PackageFor(bool mainPackage);

// The update server's base address followed by a path of the package table.
std::string UpdateUrl(const char* urlPath);

// "<Program Files>\Tavrine\" from what the shell gave; an empty folder means
// "C:\Program Files", and forward slashes become backslashes.
std::string InstallDirFromProgramFiles(const char* programFiles);

// The user's temporary folder as GetTempPathA gives it, with its trailing
// backslash; "" when the call fails, its answer does not fit a path buffer,
// or the folder does not exist. Files of the control are written there and
// must never land in whatever the host's current folder happens to be.
std::string UsableTempDir();

// Whether the path names an existing folder ("" does not).
bool IsExistingFolder(const std::string& path);

// Only this many leading bytes of a version file take part in the comparison.
constexpr size_t kVersionTextBytes = 100;

// The text of a version file: its first bytes up to the first NUL.
std::string VersionTextFromBytes(const std::string& bytes);

// The number the result file reports: its first byte as a decimal digit;
// anything else, or no byte at all, counts as 0.
int ResultNumberFromBytes(const std::string& bytes);

// The progress display for one notification of a transfer.
struct ProgressDisplay
{
    std::string line;   // at most 255 bytes
    int percent;        // may exceed 100 when more arrives than announced
};
ProgressDisplay BuildProgressDisplay(ULONG received, ULONG total);

// Whether an HTTP status stands for a delivered body.
inline bool IsHttpSuccess(DWORD status) { return status >= 200 && status <= 299; }
