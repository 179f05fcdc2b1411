// Runs the install check once, with the control DLL's dialog template and the
// build's own bounds, so that the install dialog can be watched or
// photographed against the local update server (tools/screenshot-install.sh).
//   install_show.exe <control DLL> [main|sp]      exit code 0 when the check answered true
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/Module.h"
#include "install/InstallCheck.h"

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: install_show <control DLL> [main|sp]\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll)
    {
        std::fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
        return 2;
    }
    Module::SetInstance(dll);
    bool main = argc < 3 || std::strcmp(argv[2], "sp") != 0;
    bool answer = RunInstallCheck(main);
    std::printf("install check (%s): %s\n", main ? "main" : "Sp", answer ? "true" : "false");
    std::fflush(stdout);
    return answer ? 0 : 1;
}
