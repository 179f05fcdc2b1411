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
    DWORD length = GetTempPathA(sizeof(temp), temp);
    // 0 is a failure; a length that reaches the buffer size is the room the
    // answer would need, and the buffer holds nothing usable.
    if (length == 0 || length >= sizeof(temp))
        return std::string();
    std::string folder(temp, length);
    return IsExistingFolder(folder) ? folder : std::string();
}

bool IsExistingFolder(const std::string& path)
{
    if (path.empty())
        return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
