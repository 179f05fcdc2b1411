// Works an open file picker, in this or any other process, with the same
// messages the tests send. Steps run in the order given:
//   --wait <ms>            how long to look for the picker (default 30000)
//   --location <text>      choose the first location whose text contains it, e.g. "(T:)"
//   --open <a\b>           open these folders in turn
//   --select <n1|n2|...>   select exactly these rows
//   --add                  press the add button (returns after the last report)
//   --list                 print the folder and its rows
//   --pause <ms>           wait, e.g. while a screenshot is taken
//   --close                close the picker and wait until it is gone
// Prints what it does as UTF-8 lines; exits 0 when every step worked. When a
// step fails it closes the picker, so its host is never left waiting.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "PickerDriver.h"
#include "PickerTestSupport.h"

namespace
{
void PrintRows(CPickerDriver& driver)
{
    std::vector<std::wstring> locations = driver.Locations();
    int current = driver.CurrentLocation();
    for (size_t i = 0; i < locations.size(); ++i)
        std::printf("location%s\t%s\n", static_cast<int>(i) == current ? "*" : "", Narrow(locations[i]).c_str());
    std::printf("folder\t%s\n", Narrow(driver.FolderPath()).c_str());
    for (const PickerRow& row : driver.Rows())
        std::printf("row\t%s\t%s\t%s\n", Narrow(row.name).c_str(), Narrow(row.size).c_str(), Narrow(row.kind).c_str());
}
}

int wmain(int argc, wchar_t** argv)
{
    try
    {
        DWORD wait = 30000;
        int i = 1;
        if (argc > 2 && lstrcmpW(argv[1], L"--wait") == 0)
        {
            wait = wcstoul(argv[2], nullptr, 10);
            i = 3;
        }
        CPickerDriver driver;
        if (!driver.Attach(wait))
        {
            std::printf("picker_driver: no picker appeared within %lu ms\n", wait);
            return 1;
        }
        std::printf("picker_driver: found the picker\n");
        for (; i < argc; ++i)
        {
            std::wstring step = argv[i];
            std::wstring value = i + 1 < argc ? argv[i + 1] : L"";
            bool worked = true;
            if (step == L"--location")
            {
                int index = driver.FindLocation(value);
                worked = index >= 0 && driver.ChooseLocation(index);
                ++i;
            }
            else if (step == L"--open")
            {
                worked = driver.OpenPath(value);
                ++i;
            }
            else if (step == L"--select")
            {
                std::vector<int> rows;
                size_t start = 0;
                while (start <= value.size())
                {
                    size_t end = value.find(L'|', start);
                    if (end == std::wstring::npos)
                        end = value.size();
                    int row = driver.FindRow(value.substr(start, end - start));
                    worked = worked && row >= 0;
                    rows.push_back(row);
                    start = end + 1;
                }
                worked = worked && driver.Select(rows);
                if (!worked)
                {
                    std::printf("picker_driver: rows");
                    for (int row : rows)
                        std::printf(" %d", row);
                    std::printf(", %d selected\n", driver.SelectedCount());
                    PrintRows(driver);
                }
                ++i;
            }
            else if (step == L"--add")
                driver.ClickAdd();
            else if (step == L"--list")
                PrintRows(driver);
            else if (step == L"--pause")
            {
                Sleep(wcstoul(value.c_str(), nullptr, 10));
                ++i;
            }
            else if (step == L"--close")
            {
                driver.Close();
                worked = driver.WaitClosed(20000);
            }
            else
                worked = false;
            std::printf("picker_driver: %s %s: %s\n", Narrow(step).c_str(),
                        step == L"--add" || step == L"--list" || step == L"--close" ? "" : Narrow(value).c_str(),
                        worked ? "done" : "FAILED");
            std::fflush(stdout);
            if (!worked)
            {
                // Never leave the host waiting on a picker nobody will close.
                driver.Close();
                driver.WaitClosed(20000);
                return 1;
            }
        }
        return 0;
    }
    catch (...)
    {
        return 3;
    }
}
