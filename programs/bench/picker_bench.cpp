// Benchmark of the picker's walk and listing, against the plain enumeration
// of the same folders measured in the same run, for each folder set given:
//  - the time from pressing the add button on the set's "tree" (about 10,000
//    files in 1,010 folders) to the last UpSelectComplete delivered to a
//    native sink that reads each event's strings, over a plain recursive
//    FindFirstFileA walk of that tree right before the press; the same
//    presses delivered to the tests' recording sink are printed beside;
//  - the time to list the set's "flat" folder of 5,000 files, over its raw
//    enumeration.
//   picker_bench.exe [--rounds <n>] <set folder>...
// Each set folder must hold "tree" and "flat" (tools/bench-picker.sh makes
// them on the Unix side); without one, a set is generated under %TEMP%.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "PickerTestSupport.h"
#include "resource.h"
#include "picker/FolderScan.h"

namespace
{
double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void MakeFile(const std::wstring& path, DWORD size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes(size, 'x');
    DWORD written = 0;
    WriteFile(file, bytes.data(), size, &written, nullptr);
    CloseHandle(file);
}

// 10 folders of 100 folders each; each of the 1,000 inner folders holds 10 files.
void MakeTrees(const std::wstring& work, const std::wstring& tree, const std::wstring& flat)
{
    std::wstring done = work + L"\\trees-complete";
    if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::printf("generating the trees under %s...\n", Narrow(work).c_str());
    std::fflush(stdout);
    CreateDirectoryW(work.c_str(), nullptr);
    CreateDirectoryW(tree.c_str(), nullptr);
    for (int a = 0; a < 10; ++a)
    {
        std::wstring outer = tree + L"\\d" + std::to_wstring(a);
        CreateDirectoryW(outer.c_str(), nullptr);
        for (int b = 0; b < 100; ++b)
        {
            std::wstring inner = outer + L"\\e" + std::to_wstring(b);
            CreateDirectoryW(inner.c_str(), nullptr);
            for (int c = 0; c < 10; ++c)
                MakeFile(inner + L"\\file" + std::to_wstring(c) + L".dat", static_cast<DWORD>(c * 100));
        }
    }
    CreateDirectoryW(flat.c_str(), nullptr);
    for (int i = 0; i < 5000; ++i)
        MakeFile(flat + L"\\item" + std::to_wstring(i) + L".txt", 0);
    MakeFile(done, 0);
}

// The baseline: one recursive FindFirstFileA walk that only counts.
void PlainWalk(const std::string& folder, size_t& folders, size_t& files)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (data.cFileName[0] == '.' && (!data.cFileName[1] || (data.cFileName[1] == '.' && !data.cFileName[2])))
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            ++folders;
            PlainWalk(folder + "\\" + data.cFileName, folders, files);
        }
        else
            ++files;
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

size_t RawEnumerate(const std::string& folder)
{
    size_t count = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
        ++count;
    while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The parent entry, then the 5,000 files, each with its size text, kind
// code, item data and an icon, named as the raw enumeration names them.
bool FlatRowsWhole(const std::vector<PickerRow>& rows, const std::vector<std::wstring>& names)
{
    if (rows.size() != 5001 || rows[0].kind != L"0" || names.size() != 5000)
        return false;
    for (size_t i = 1; i < rows.size(); ++i)
    {
        const PickerRow& row = rows[i];
        if (row.kind != L"2" || row.size.empty() || !row.hasItemData || row.image < 0 || row.name != names[i - 1])
            return false;
    }
    return true;
}

// The flat folder's file names in enumeration order.
std::vector<std::wstring> FlatNames(const std::wstring& flat)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((flat + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// A page's handler at its leanest, natively: it reads the three strings of
// each UpSelectComplete and notes when the last one came. The tests'
// recording sink keeps two copies of every event: its own cost, not the
// picker's, measured apart.
class CCountingSink : public CRecordingSink
{
public:
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (dispid != 2)
            return S_OK;
        size_t length = 0;
        bool strings = params && params->cArgs == 3;
        for (UINT i = 0; strings && i < 3; ++i)
        {
            const VARIANT& v = params->rgvarg[i];
            strings = v.vt == VT_BSTR && v.bstrVal;
            if (strings)
                length += SysStringLen(v.bstrVal);
        }
        if (strings && length > 0)
            ++selections;
        else
            ++malformed;
        last = Now();
        return S_OK;
    }
    size_t selections = 0;
    size_t malformed = 0;
    double last = 0;
};

struct Results
{
    std::vector<double> adds;
    std::vector<double> lists;
    std::vector<double> raws;
    std::vector<double> walks;
    std::vector<double> recordedAdds;   // the same presses delivered to the tests' recording sink
    std::vector<double> recordedWalks;
    size_t recordedEvents = 0;
    std::vector<double> bareScans;   // the walk below the tree with reports that do nothing
    std::vector<double> bareWalks;
    bool bareWhole = true;           // every bare walk reported every folder and file
    size_t events = 0;
    size_t expected = 0;
    bool worked = false;
};

// One set: the add rounds and the listing rounds in one picker, then the
// plain walks.
Results MeasureSet(const std::wstring& work, int rounds)
{
    Results results;
    const std::wstring tree = work + L"\\tree";
    const std::wstring flat = work + L"\\flat";
    const std::string treeAnsi = Ansi(tree), flatAnsi = Ansi(flat);
    size_t folders = 0, files = 0;
    PlainWalk(treeAnsi, folders, files);   // warms the caches as well
    results.expected = folders + files + 1;
    const std::vector<std::wstring> names = FlatNames(flat);

    // The picker's own walk without a window or a sink, against the plain walk
    // in the same rounds: what the enumeration costs apart from the reports.
    for (int round = 0; round < rounds; ++round)
    {
        size_t f = 0, n = 0, reports = 0;
        double start = Now();
        PlainWalk(treeAnsi, f, n);
        results.bareWalks.push_back(Now() - start);
        CFolderScan scan([&reports](const std::string&, const std::string&, const std::string&) { ++reports; },
                         GetACP());
        start = Now();
        scan.ScanFolder(treeAnsi, treeAnsi);
        results.bareScans.push_back(Now() - start);
        results.bareWhole = results.bareWhole && reports == folders + files;
    }

    // The picker opens on the set's folder; rows "flat" and "tree".
    StoreSettings(work.c_str(), work.c_str());
    CTestControl control;
    double lastEvent = 0;
    control.sink.onSelect = [&](const SelectEvent&) { lastEvent = Now(); };
    CCountingSink counter;
    RunPicker(control, [&](CPickerDriver& d) {
        if (d.FindRow(L"tree") < 0 || d.FindRow(L"flat") < 0)
            return;
        // The presses with the lean sink, then the same with the tests' recording one.
        control.sink.Disconnect();
        counter.Connect(control.Get());
        bool recording = false;
        for (int round = 0; round < 2 * rounds; ++round)
        {
            if (round == rounds)
            {
                counter.Disconnect();
                control.sink.Connect(control.Get());
                recording = true;
            }
            // The plain walk right before each press, as the raw enumeration
            // before each opening below.
            size_t f = 0, n = 0;
            double start = Now();
            PlainWalk(treeAnsi, f, n);
            (recording ? results.recordedWalks : results.walks).push_back(Now() - start);
            d.Select({d.FindRow(L"tree")});
            control.sink.TakeSelections();
            counter.selections = counter.malformed = 0;
            start = Now();
            d.ClickAdd();
            if (recording)
            {
                results.recordedAdds.push_back(lastEvent - start);
                results.recordedEvents = control.sink.SelectionCount();
            }
            else
            {
                results.adds.push_back(counter.last - start);
                results.events = counter.malformed ? 0 : counter.selections;
            }
        }
        control.sink.TakeSelections();
        HWND list = d.Control(IDC_ITEMLIST);
        results.worked = true;
        for (int round = 0; round < rounds; ++round)
        {
            // The raw enumeration right before each opening, so that both
            // see the machine in the same state.
            double start = Now();
            RawEnumerate(flatAnsi);
            results.raws.push_back(Now() - start);
            // The click that selects the row comes first; the double-click
            // is what opens the folder.
            d.Select({d.FindRow(L"flat")});
            start = Now();
            d.NotifyDoubleClick();
            results.lists.push_back(Now() - start);
            // Every row read back once; reading 5,001 rows from another
            // thread takes seconds, so the other rounds count them.
            if (round == rounds - 1)
                results.worked = results.worked && FlatRowsWhole(d.Rows(), names);
            else
                results.worked = results.worked && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 5001;
            d.Open(0);
        }
    });
    return results;
}

void PrintRounds(const char* what, const std::vector<double>& a, const std::vector<double>& b)
{
    std::printf("  %s rounds:", what);
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        std::printf(" %.1f/%.1f", a[i], b[i]);
    std::printf("\n");
}
}

int wmain(int argc, wchar_t** argv)
{
    try
    {
        int rounds = 5;
        std::vector<std::wstring> sets;
        for (int i = 1; i < argc; ++i)
        {
            if (lstrcmpW(argv[i], L"--rounds") == 0 && i + 1 < argc)
                rounds = std::max(1, _wtoi(argv[++i]));
            else
                sets.push_back(argv[i]);
        }
        if (sets.empty())
        {
            wchar_t temp[MAX_PATH] = {};
            GetTempPathW(MAX_PATH, temp);
            sets.push_back(std::wstring(temp) + L"picker-bench");
            MakeTrees(sets.back(), sets.back() + L"\\tree", sets.back() + L"\\flat");
        }
        bool all = true;
        for (std::wstring& work : sets)
        {
            if (!work.empty() && work.back() == L'\\')
                work.pop_back();
            // The length of the longest listed item's path, in the bytes the picker holds it in.
            const std::vector<std::wstring> names = FlatNames(work + L"\\flat");
            size_t itemBytes = 0;
            for (const std::wstring& name : names)
                itemBytes = std::max(itemBytes, Ansi(work + L"\\flat\\" + name).size());
            std::printf("SET %s: listed folder %u bytes, its items' paths up to %u bytes\n", Narrow(work).c_str(),
                        static_cast<unsigned>(Ansi(work + L"\\flat").size()), static_cast<unsigned>(itemBytes));
            std::fflush(stdout);
            Results r = MeasureSet(work, rounds);
            double walk = Median(r.walks), add = Median(r.adds), raw = Median(r.raws), list = Median(r.lists);
            std::printf("  add to last event: %u events, median %.1f ms; plain walk: median %.1f ms\n",
                        static_cast<unsigned>(r.events), add, walk);
            PrintRounds("add", r.adds, r.walks);
            double recordedAdd = Median(r.recordedAdds), recordedWalk = Median(r.recordedWalks);
            std::printf("  to the tests' recording sink: %u events, median %.1f ms; plain walk: median %.1f ms (%.2f)\n",
                        static_cast<unsigned>(r.recordedEvents), recordedAdd, recordedWalk,
                        recordedWalk > 0 ? recordedAdd / recordedWalk : 0.0);
            PrintRounds("recorded add", r.recordedAdds, r.recordedWalks);
            std::printf("  walk without window or sink: median %.1f ms%s; plain walk: median %.1f ms\n",
                        Median(r.bareScans), r.bareWhole ? "" : " (it missed items)", Median(r.bareWalks));
            PrintRounds("bare walk", r.bareScans, r.bareWalks);
            std::printf("  listing 5,000 files: median %.1f ms%s; raw enumeration: median %.1f ms\n", list,
                        r.worked ? "" : " (the list did not show the 5,000 rows in order)", raw);
            PrintRounds("listing", r.lists, r.raws);
            std::printf("RATIO %u scan/walk: %.2f\n", static_cast<unsigned>(itemBytes), walk > 0 ? add / walk : 0.0);
            std::printf("RATIO %u list/enumeration: %.2f\n", static_cast<unsigned>(itemBytes), raw > 0 ? list / raw : 0.0);
            std::fflush(stdout);
            all = all && r.worked && r.bareWhole && r.events == r.expected && r.recordedEvents == r.expected;
        }
        return all ? 0 : 1;
    }
    catch (...)
    {
        return 3;
    }
}
