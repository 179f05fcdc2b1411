// The install and temp folder rule shared by the control and the install
// dialog. Safe on any thread.
#include "base/Folders.h"

#include <windows.h>
#include <shlobj.h>

std::string InstallDirFromProgramFiles(const char* programFiles)
{
    std::string folder = (programFiles && *programFiles) ? programFiles : "C:\\Program Files";
    for (char& c : folder)
        if (c == '/')
            c = '\\';
    return folder + "\\Tavrine\\";
}

std::string InstallFolder()
{
    char folder[MAX_PATH] = {};
    // The answer is not checked: an empty buffer falls back to the usual folder.
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return InstallDirFromProgramFiles(folder);
}

std::string TempFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}
