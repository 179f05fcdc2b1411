// Benchmark of the browser bridge against the in-process control, measured
// in the same run:
//  - a folder of 10,000 files picked and reported: from pressing the add
//    button to the last UpSelectComplete, delivered to a native sink of the
//    control, and read by a fake browser from TavrineBridge.exe's output;
//  - one call's round trip through the host (UpLoadInfo, page to host to
//    page): median and 99th percentile.
//   bridge_bench.exe <host> <work folder holding "Many"> [--rounds N] [--calls N]
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "FakeBrowser.h"
#include "PickerTestSupport.h"

using nlohmann::json;

namespace
{
const char kChromeCaller[] = "chrome-extension://" TAVRINE_TEST_CHROME_ID "/ --parent-window=0";
const size_t kItems = 10001;   // the folder and its 10,000 files

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

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

std::string Utf8(const std::wstring& text)
{
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(needed > 0 ? needed : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], needed, nullptr, nullptr);
    result.resize(strlen(result.c_str()));
    return result;
}

// The in-process control: add to the last event at its sink.
std::vector<double> ControlPicks(int rounds, size_t& events)
{
    std::vector<double> times;
    CTestControl control;
    double lastEvent = 0;
    control.sink.onSelect = [&](const SelectEvent&) { lastEvent = Now(); };
    RunPicker(control, [&](CPickerDriver& d) {
        for (int round = 0; round < rounds; ++round)
        {
            if (!d.Select({d.FindRow(L"Many")}))
                return;
            control.sink.TakeSelections();
            double start = Now();
            d.ClickAdd();
            times.push_back(lastEvent - start);
            events = control.sink.SelectionCount();
        }
    });
    return times;
}

// The host: add to the last event read from its output.
std::vector<double> BridgePicks(CFakeBrowser& browser, int rounds, size_t& events, size_t& largest)
{
    std::vector<double> times;
    browser.Send(json({{"id", 1}, {"op", "ShowUpFileDlg"}, {"args", json::array()}}));
    CPickerDriver driver;
    if (!driver.Attach(60000))
        return times;
    for (int round = 0; round < rounds; ++round)
    {
        if (!driver.Select({driver.FindRow(L"Many")}))
            break;
        events = 0;
        double start = Now();
        driver.ClickAdd();
        json message;
        double last = start;
        size_t size = 0;
        while (events < kItems && browser.Receive(message, 60000, &size))
        {
            if (message.value("type", "") != "event")
                continue;
            last = Now();
            ++events;
            largest = std::max(largest, size);
        }
        times.push_back(last - start);
    }
    driver.Close();
    driver.WaitClosed(20000);
    std::vector<json> rest;
    browser.Answers(1, rest, 60000);
    return times;
}
}

int wmain(int argc, wchar_t** argv)
{
    try
    {
        if (argc < 3)
        {
            std::printf("usage: bridge_bench.exe <host> <work folder> [--rounds N] [--calls N]\n");
            return 2;
        }
        std::string host = Utf8(argv[1]);
        std::wstring work = argv[2];
        int rounds = 3, calls = 1000;
        for (int i = 3; i + 1 < argc; i += 2)
        {
            if (lstrcmpW(argv[i], L"--rounds") == 0)
                rounds = std::max(1, _wtoi(argv[i + 1]));
            else if (lstrcmpW(argv[i], L"--calls") == 0)
                calls = std::max(10, _wtoi(argv[i + 1]));
        }
        // Both pickers open on the work folder, whose row "Many" is the folder picked.
        StoreSettings(work.c_str(), work.c_str());

        size_t controlEvents = 0;
        std::vector<double> control = ControlPicks(rounds, controlEvents);

        CFakeBrowser browser;
        json hello;
        if (!browser.Start(host, kChromeCaller) || !browser.Receive(hello, 60000))
        {
            std::printf("the host did not start\n");
            return 1;
        }
        size_t bridgeEvents = 0, largest = 0;
        std::vector<double> bridge = BridgePicks(browser, rounds, bridgeEvents, largest);

        std::vector<double> trips;
        for (int i = 0; i < calls; ++i)
        {
            double start = Now();
            std::vector<json> answers = browser.Call(100 + i, "UpLoadInfo", {"x"});
            if (answers.empty() || answers.back().value("type", "") != "result")
                break;
            trips.push_back(Now() - start);
        }
        browser.CloseInput();
        browser.WaitExit(10000);

        double controlMs = Percentile(control, 0.5), bridgeMs = Percentile(bridge, 0.5);
        std::printf("pick of a folder with 10,000 files, median of %d rounds:\n", rounds);
        std::printf("  control: %zu events in %.0f ms (%.0f events/s)\n", controlEvents, controlMs,
                    controlMs > 0 ? controlEvents * 1000.0 / controlMs : 0.0);
        std::printf("  bridge:  %zu events in %.0f ms (%.0f events/s), largest message %zu bytes\n", bridgeEvents,
                    bridgeMs, bridgeMs > 0 ? bridgeEvents * 1000.0 / bridgeMs : 0.0, largest);
        std::printf("  ratio bridge/control: %.2f (goal <= 3)\n", controlMs > 0 ? bridgeMs / controlMs : 0.0);
        std::printf("round trip of one call (UpLoadInfo), %zu calls: median %.3f ms, 99th percentile %.3f ms\n",
                    trips.size(), Percentile(trips, 0.5), Percentile(trips, 0.99));
        bool worked = controlEvents == kItems && bridgeEvents == kItems && largest <= 1024 * 1024 &&
                      trips.size() == static_cast<size_t>(calls);
        return worked ? 0 : 1;
    }
    catch (...)
    {
        return 1;
    }
}
