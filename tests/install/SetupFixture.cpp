// A stand-in for the service's setup programs, served by the local update
// server as "setup.exe" and "TavrineSSUp.exe". Started with no arguments, it
// reads its script from the end of its own file, after a marker line, so the
// tests and the demonstration choose its behaviour through what they serve:
//
//   version=<hex>     bytes written as the installed version file (omitted: none)
//   result=<hex>      bytes written as the result file (may be empty)
//   mode=normal|nothing|hold
//                     nothing: writes no file at all
//                     hold: keeps the result file open, unshared, for delay ms first
//   delay=<ms>        waits this long before the result file (with hold: while holding it)
//   install=<path>[|<name>]
//                     copies that file into the install directory, under its own
//                     name or the one given (repeatable)
//   log=<path>        appends "<own file name> ran" to that file
//
// When what it installed includes the browser bridge, "TavrineBridge.exe", it
// registers the bridge with the browsers (--register), as the service's setup
// programs do.
// The package follows from its own name: "TavrineSSUp.exe" installs the Sp
// package ("spver.ini", "installsp_result"), any other name the main one.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace
{
const char kMarker[] = "\n@@tavrine-setup-script@@\n";

std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        data.append(buffer, read);
    CloseHandle(file);
    return data;
}

bool WriteWholeFile(const std::string& path, const std::string& data, DWORD holdMs)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // While held, the file exists but nobody else can open it.
    if (holdMs)
        Sleep(holdMs);
    DWORD written = 0;
    BOOL done = data.empty() || WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
    return done != FALSE;
}

void AppendLine(const std::string& path, const std::string& line)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string image = ReadWholeFile(self);
    size_t at = image.rfind(kMarker);
    std::string script = at == std::string::npos ? std::string() : image.substr(at + sizeof(kMarker) - 1);

    std::string mode = "normal", version, result = "0", log;
    bool hasVersion = false;
    DWORD delay = 0;
    std::vector<std::string> installs;
    size_t pos = 0;
    while (pos < script.size())
    {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos)
            end = script.size();
        std::string line = script.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "mode")
            mode = value;
        else if (key == "version")
            version = FromHex(value), hasVersion = true;
        else if (key == "result")
            result = FromHex(value);
        else if (key == "delay")
            delay = strtoul(value.c_str(), nullptr, 10);
        else if (key == "install")
            installs.push_back(value);
        else if (key == "log")
            log = value;
    }

    std::string name = BaseName(self);
    bool sp = lstrcmpiA(name.c_str(), "TavrineSSUp.exe") == 0;
    if (!log.empty())
        AppendLine(log, name + " ran");
    if (mode == "nothing")
        return 0;

    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    std::string installDir = std::string(folder[0] ? folder : "C:\\Program Files") + "\\Tavrine\\";
    CreateDirectoryA(installDir.c_str(), nullptr);
    for (const std::string& install : installs)
    {
        size_t bar = install.find('|');
        std::string source = install.substr(0, bar);
        std::string name = bar == std::string::npos ? BaseName(source) : install.substr(bar + 1);
        CopyFileA(source.c_str(), (installDir + name).c_str(), FALSE);
    }
    if (hasVersion)
        WriteWholeFile(installDir + (sp ? "spver.ini" : "ver.ini"), version, 0);
    std::string bridge = installDir + "TavrineBridge.exe";
    if (GetFileAttributesA(bridge.c_str()) != INVALID_FILE_ATTRIBUTES)
    {
        std::string commandLine = "\"" + bridge + "\" --register";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(bridge.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info))
        {
            WaitForSingleObject(info.hProcess, 60000);
            DWORD code = 1;
            GetExitCodeProcess(info.hProcess, &code);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
            if (!log.empty())
                AppendLine(log, "TavrineBridge.exe --register: " + std::to_string(code));
        }
    }

    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    std::string resultPath = std::string(temp) + (sp ? "installsp_result" : "install_result");
    if (mode == "hold")
        return WriteWholeFile(resultPath, result, delay) ? 0 : 1;
    if (delay)
        Sleep(delay);
    return WriteWholeFile(resultPath, result, 0) ? 0 : 1;
}
