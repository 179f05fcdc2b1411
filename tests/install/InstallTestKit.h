// What the install tests share: the local update server's content and modes,
// the files of an installation, the setup fixture's script, and a run of the
// install check observed from inside the test process (notices pressed and
// recorded by a watcher thread, the dialog's status texts and bar positions
// recorded by a hook on the test's thread).
#pragma once

#include <windows.h>
#include <string>
#include <vector>

// Loads the control DLL so that the install dialog finds its template there;
// every dialog test calls it first.
void UseControlResources();

// The Korean texts as code page 949 bytes, written out independently of the control's.
extern const char kNoticeDownloadFailed[];
extern const char kNoticeNoServerVersion[];
extern const char kStatusInstalling[];
extern const char kInstallCaption[];

// File names of one package, as the install check must use them.
struct PackageNames
{
    bool main;
    const char* versionUrl;
    const char* serverCopy;
    const char* localVersion;
    const char* setupUrl;
    const char* setupFile;
    const char* resultFile;
};
const PackageNames& Package(bool main);

// --- the update server (files under its root, written through Z:)
std::string ServerRoot();
void ServeFile(const std::string& urlPath, const std::string& body, const std::string& mode = "");
void RemoveServed(const std::string& urlPath);
void SetServerOffline(bool offline);
// Requests the server answered for a path since the last ResetWorld().
int RequestCount(const std::string& urlPath);

// Script of the setup fixture served at the package's setup URL.
struct SetupScript
{
    std::string mode = "normal";
    bool writeVersion = true;
    std::string version;          // the installed version text it writes
    std::string result = "1";     // the result file's content
    DWORD delayMs = 0;
    std::vector<std::string> installs;
};
void ServeSetup(bool main, const SetupScript& script, const std::string& mode = "");
// How often a setup fixture ran since the last ResetWorld().
int SetupRuns();

// --- files of an installation
std::string InstallDir();
std::string TempDir();
bool FileExists(const std::string& path);
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& data);
void RemoveFile(const std::string& path);
// Every file under the user's profile (links not followed) whose bytes are these.
std::vector<std::string> CopiesInProfile(const std::string& bytes);

// Clears the server's content and log, the installed version files and the
// temp-dir files of both packages, and brings the server online.
void ResetWorld();

// --- one run of the install check
struct CheckRun
{
    bool answer = false;
    DWORD elapsedMs = 0;
    std::vector<std::string> notices;      // texts of the "알림" boxes, in order
    bool dialogShown = false;              // the install dialog became visible
    std::vector<std::string> captions;     // captions set on the install dialog, in order
    std::vector<std::string> statusTexts;  // texts set on the status control, in order
    std::vector<int> barPositions;         // the bar's position after each PBM_SETPOS
    int dismissAttempts = 0;               // Enter/Esc/close requests sent while it showed
    bool stillOpenAfterDismiss = false;    // the dialog outlived those requests
};
// Runs the install check for a package on this thread. With tryDismiss, the
// watcher tries to close the visible dialog as a user would (Enter, Esc,
// Alt+F4, the close command) while it shows.
CheckRun RunCheck(bool main, bool tryDismiss = false);
// A short account of a run for the fault matrix: answer, messages, setup runs, time.
std::string DescribeRun(const CheckRun& run);
// The same observation around any call on this thread that may run the check
// (for example a method of the control); the call gives the answer.
CheckRun Observe(bool (*call)(void* context), void* context, bool tryDismiss = false);

// Whether some recorded status text starts with the prefix.
bool AnyTextStartsWith(const std::vector<std::string>& texts, const std::string& prefix);
// The size text StrFormatByteSizeA gives for a count.
std::string SizeText(ULONG bytes);

// A top-level window of the given class on this thread, for the companion checks.
HWND CreateCompanionWindow(const char* windowClass);
