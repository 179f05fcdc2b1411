// The fixed companion targets of a hand-off: which program, window class,
// command line and record kind one job goes to.
#pragma once

#include <windows.h>

struct CompanionTarget
{
    const char* program;          // file name in the install directory
    const char* windowClass;      // class of the program's top-level window
    const char* parameterFormat;  // "bbs %s %s %s" or "weblink %s %s %s"
    DWORD recordKind;             // 2 upload, 7 download, 8 web link
};

extern const CompanionTarget g_uploadTarget;
extern const CompanionTarget g_downloadTarget;
extern const CompanionTarget g_speedDownloadTarget;
extern const CompanionTarget g_webLinkTarget;
