// The install check's decisions: pure ones, and the temporary folder as the
// system reports it. Called on the dialog's and the page's thread (and the
// progress line on whichever thread formats it).
#include "install/InstallLogic.h"

#include <shlwapi.h>
#include <cstdio>

#include "BuildConfig.h"

namespace
{
InstallBounds g_bounds = {TAVRINE_TRANSFER_STALL_MS, TAVRINE_SETUP_TOTAL_MS, TAVRINE_RESULT_WAIT_MS};

const InstallPackage kMainPackage = {
    "/vude/ver.ini", "_ver.ini", "ver.ini", "/vude/setup.exe", "setup.exe", "install_result"};
const InstallPackage kSpPackage = {
    "/vude/spver.ini", "_spver.ini", "spver.ini", "/vude/TavrineSSUp.exe", "TavrineSSUp.exe", "installsp_result"};

// Room for one formatted size or the progress line, NUL included.
constexpr int kTextBuffer = 256;
// The largest percentage reported; well inside an int.
constexpr double kMaxPercent = 1000000000.0;
}

const InstallPackage& PackageFor(bool mainPackage)
{
    return mainPackage ? kMainPackage : kSpPackage;
}

std::string UpdateUrl(const char* urlPath)
{
    return std::string(TAVRINE_UPDATE_URL) + urlPath;
}

const InstallBounds& CurrentInstallBounds()
{
    return g_bounds;
}

void OverrideInstallBounds(const InstallBounds& bounds)
{
    g_bounds = bounds;
}

std::string VersionTextFromBytes(const std::string& bytes)
{
    std::string text = bytes.substr(0, kVersionTextBytes);
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

int ResultNumberFromBytes(const std::string& bytes)
{
    if (bytes.empty() || bytes[0] < '0' || bytes[0] > '9')
        return 0;
    return bytes[0] - '0';
}

ProgressDisplay BuildProgressDisplay(ULONG received, ULONG total)
{
    char receivedText[kTextBuffer] = "";
    char totalText[kTextBuffer] = "";
    char line[kTextBuffer] = "";
    StrFormatByteSizeA(received, receivedText, kTextBuffer);
    StrFormatByteSizeA(total, totalText, kTextBuffer);

    ProgressDisplay display;
    if (total != 0)
    {
        // snprintf cuts the line to the buffer, as the fixed display buffer does.
        std::snprintf(line, sizeof(line), "Downloaded.. %s of %s       ", receivedText, totalText);
        // Far more than announced would not fit an int; any share above 100
        // shows a full bar, so the share is capped before it is cut.
        double share = static_cast<double>(received) * 100.0 / static_cast<double>(total);
        display.percent = share < kMaxPercent ? static_cast<int>(share) : static_cast<int>(kMaxPercent);
    }
    else
    {
        std::snprintf(line, sizeof(line), "Downloaded.. %s", receivedText);
        display.percent = 0;
    }
    display.line = line;
    return display;
}
