// TavrineBridge.exe: the native-messaging host through which browsers
// without ActiveX reach the companion programs, one process per page tab.
//   TavrineBridge.exe <caller> [...]           serve the browser that started it
//   TavrineBridge.exe --register [--machine]   write the manifests and browser keys
//   TavrineBridge.exe --unregister [--machine] remove them
// Exit codes: 0 done, 1 failed, 2 refused caller or bad usage, 3 no window
// could be made.
#include <windows.h>
#include <objbase.h>
#include <string>
#include <vector>

#include "base/Module.h"
#include "base/ProgramStart.h"
#include "base/Shared.h"
#include "bridge/BridgeHost.h"
#include "bridge/BridgeMessages.h"
#include "bridge/ExtensionList.h"
#include "bridge/FrameWriter.h"
#include "bridge/HostRegistration.h"

namespace
{
std::wstring ProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;)
    {
        DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size())
        {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

int Registration(bool install, bool machine)
{
    CHostRegistration registration(ProgramPath(), CExtensionList::ForBuild());
    HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HRESULT hr = install ? registration.Register(root) : registration.Unregister(root);
    if (FAILED(hr))
    {
        fprintf(stderr, "TavrineBridge: %s failed (0x%08lx)\n", install ? "--register" : "--unregister",
                static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}

// The browser's two pipes become this process's own, uninheritable handles, and its
// standard handles point to NUL: programs it starts (companions, the setup program)
// get their standard handles from these, and one that prints would otherwise write
// into the frames (seen under Wine with the reference companion). The inheritable
// originals are closed so that no child keeps the browser's pipes open.
bool TakePipe(DWORD which, HANDLE nul, HANDLE& own)
{
    HANDLE self = GetCurrentProcess(), original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(self, original, self, &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    SetStdHandle(which, nul);
    CloseHandle(original);
    return true;
}

int Serve(const std::vector<std::string>& args)
{
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    HANDLE input = nullptr, output = nullptr;
    if (nul == INVALID_HANDLE_VALUE || !TakePipe(STD_INPUT_HANDLE, nul, input) ||
        !TakePipe(STD_OUTPUT_HANDLE, nul, output))
    {
        // Without a channel of its own there is nothing to serve.
        fprintf(stderr, "TavrineBridge: the standard handles cannot be taken over\n");
        return 1;
    }
    if (!CExtensionList::ForBuild().AllowsCaller(args))
    {
        // Anything not on the list is told so and served nothing.
        CFrameWriter writer(output, kMaxMessageBytes);
        writer.Write(CBridgeMessages::Error(BridgeRequest(), "forbidden-caller",
                                            "this host serves only its own browser extensions"));
        return 2;
    }
    // The browser may end the job it started the host in with the host:
    // companions and the setup program must outlive it.
    ProgramStart::LeaveJobOnStart();
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code;
    {
        CBridgeHost host(input, output);
        code = host.Run();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return code;
}
}

int wmain(int argc, wchar_t** argv)
{
    try
    {
        // The dialogs' templates are this program's own resources.
        Module::SetInstance(GetModuleHandleW(nullptr));
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i)
            args.push_back(WideToUtf8(argv[i]));
        if (!args.empty() && (args[0] == "--register" || args[0] == "--unregister"))
        {
            bool machine = args.size() == 2 && args[1] == "--machine";
            if (args.size() > 2 || (args.size() == 2 && !machine))
            {
                fprintf(stderr, "usage: TavrineBridge.exe --register|--unregister [--machine]\n");
                return 2;
            }
            return Registration(args[0] == "--register", machine);
        }
        return Serve(args);
    }
    catch (...)
    {
        return 1;
    }
}
