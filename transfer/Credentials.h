// The user ID and password the page gave last. They belong to the hand-off:
// shared by every control object in the process, kept in memory only and never
// written anywhere. Read and written on the page's thread.
#pragma once

#include <string>

struct Credentials
{
    std::string strUserID;
    std::string strUserPW;

    bool IsComplete() const { return !strUserID.empty() && !strUserPW.empty(); }
};

// The process's one set.
Credentials& PageCredentials();
