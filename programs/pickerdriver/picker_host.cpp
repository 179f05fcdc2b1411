// A minimal page host for the picker: creates the control, connects a native
// sink, calls ShowUpFileDlg and prints every UpSelectComplete it receives as
// one UTF-8 line "UpSelectComplete<TAB>strPath<TAB>strSize<TAB>strMode".
//   picker_host.exe [--root <location path> --folder <folder>]
// With --root/--folder the remembered location is set first, so the picker
// opens on that folder.
#include <windows.h>
#include <cstdio>
#include <string>

#include "PickerTestSupport.h"

int wmain(int argc, wchar_t** argv)
{
    try
    {
        const wchar_t* root = nullptr;
        const wchar_t* folder = nullptr;
        for (int i = 1; i + 1 < argc; i += 2)
        {
            if (lstrcmpW(argv[i], L"--root") == 0)
                root = argv[i + 1];
            else if (lstrcmpW(argv[i], L"--folder") == 0)
                folder = argv[i + 1];
        }
        if (root)
            StoreSettings(root, folder ? folder : root);

        CTestControl control;
        if (!control)
            return 2;
        control.sink.onSelect = [](const SelectEvent& e) {
            std::printf("UpSelectComplete\t%s\t%s\t%s\n", Narrow(e.path).c_str(), Narrow(e.size).c_str(),
                        Narrow(e.mode).c_str());
            std::fflush(stdout);
        };
        std::printf("picker_host: calling ShowUpFileDlg\n");
        std::fflush(stdout);
        HRESULT hr = control.Get()->ShowUpFileDlg();
        std::printf("picker_host: ShowUpFileDlg returned %#lx after %u events\n", hr,
                    static_cast<unsigned>(control.sink.SelectionCount()));
        std::fflush(stdout);
        return hr == S_OK ? 0 : 1;
    }
    catch (...)
    {
        return 3;
    }
}
