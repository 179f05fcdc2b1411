// Test-side helpers for the reference companion program. Test thread only.
#include "companion/CompanionFixture.h"

#include <shlobj.h>

#include "harness/TestHarness.h"

namespace CompanionFixture
{
namespace
{
const char* const kNames[] = {"TavrineUp.exe", "TavrineDown.exe", "TavrineSpeed.exe", "Explorer.exe"};
const char* const kClasses[] = {"tavrine_class_upload", "tavrine_class_down", "tavrine_class_explorer"};

std::string BuiltCompanion()
{
    return WindowsPathOf(EnvOr("TAVRINE_BUILD_DIR") + "/companion/TavrineCompanion.exe");
}

LONGLONG SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}
}

std::string InstallDir()
{
    char folder[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    if (!folder[0])
        lstrcpynA(folder, "C:\\Program Files", MAX_PATH);
    std::string dir = folder;
    for (char& c : dir)
        if (c == '/')
            c = '\\';
    return dir + "\\Tavrine\\";
}

bool Install()
{
    std::string source = BuiltCompanion();
    LONGLONG size = SizeOf(source);
    if (size < 0)
    {
        trace("companion build %s not found\n", source.c_str());
        return false;
    }
    std::string dir = InstallDir();
    CreateDirectoryA(dir.c_str(), nullptr);
    bool all = true;
    for (const char* name : kNames)
    {
        std::string target = dir + name;
        if (CopyFileA(source.c_str(), target.c_str(), FALSE))
            continue;
        // A running copy cannot be replaced; the same build is fine.
        if (SizeOf(target) != size)
        {
            trace("cannot install %s: error %lu\n", target.c_str(), GetLastError());
            all = false;
        }
    }
    return all;
}

std::string UseFreshLog(const char* name)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "companion-" + name + "-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("TAVRINE_COMPANION_LOG", path.c_str());
    return path;
}

std::string ReadFileBytes(const std::string& path, bool* exists)
{
    if (exists)
        *exists = false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    if (exists)
        *exists = true;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return wrote && written == bytes.size();
}

std::vector<std::string> ReadLog(const std::string& path)
{
    std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size())
    {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            break;   // a line still being written
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> FindLines(const std::string& path, const std::vector<std::string>& pieces)
{
    std::vector<std::string> found;
    for (const std::string& line : ReadLog(path))
    {
        bool all = true;
        for (const std::string& piece : pieces)
            all = all && line.find(piece) != std::string::npos;
        if (all)
            found.push_back(line);
    }
    return found;
}

bool WaitForLines(const std::string& path, const std::vector<std::string>& pieces, size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        if (FindLines(path, pieces).size() >= count)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

bool CloseAll(const char* windowClass)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        HWND window = nullptr;
        HWND foreign = nullptr;
        while ((window = FindWindowExA(nullptr, window, windowClass, nullptr)) != nullptr)
        {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != GetCurrentProcessId())
            {
                foreign = window;
                break;
            }
        }
        if (!foreign)
            return true;
        if (GetTickCount() - start >= 15000)
            return false;
        DWORD pid = 0;
        GetWindowThreadProcessId(foreign, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        PostMessageA(foreign, WM_CLOSE, 0, 0);
        if (process)
        {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
        else
        {
            Sleep(100);
        }
    }
}

bool CloseEverything()
{
    bool all = true;
    for (const char* windowClass : kClasses)
        all = CloseAll(windowClass) && all;
    return all;
}
}
