// The transfer subsystem's entry: a job text handed to its companion program
// (started when its window is not open), and the explorer launcher. The
// control decides when; this decides how. Runs on the page's thread.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <string>

#include "transfer/CompanionTarget.h"
#include "transfer/Credentials.h"

struct HandOffJob
{
    const CompanionTarget& target;
    const std::string& text;          // the job text; nothing is sent when empty
    const std::string& listFile;      // the list file the record is appended to
    const std::string& installDir;    // where the companion programs are, with a trailing backslash
    const Credentials& credentials;   // put on the command line of a program that is started
    IUnknown* sender;                 // the control's identity; its address goes with a record sent by message
};

// Delivers the job to its companion program; answers whether the job reached
// it (or there was nothing to send).
bool HandOffToCompanion(const HandOffJob& job);

enum class ExplorerLaunch
{
    Started,            // asked the shell to start it (or one is already open)
    UnsafeCredential,   // a credential that is not one plain word; nothing started
};

// Starts the explorer companion with the credentials unless one is open already.
ExplorerLaunch LaunchExplorer(const std::string& installDir, const Credentials& credentials);
