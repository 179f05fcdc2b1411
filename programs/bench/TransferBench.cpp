// Throughput of the transfer methods, run by hand under Wine (see the README):
//   1. UpLoadInfo through IDispatch::Invoke, as a page's script calls it:
//      100,000 calls against 10,000 (the job text must grow in linear time,
//      ratio at most 12), and the cost of Invoke over a direct vtable call.
//   2. 1,000 hand-offs to a running upload companion: records per second, and
//      the list file must then hold exactly 1,000 well-formed records.
// Prints one "name=value" line per figure; exits non-zero when a bound fails.
#include <windows.h>

#include <cstdio>
#include <shellapi.h>

#include "companion/CompanionFixture.h"
#include "harness/TestHarness.h"
#include "transfer/TransferTestSupport.h"

using namespace CompanionFixture;

namespace
{
double Now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// CPU time of this thread in milliseconds: other programs on a shared machine
// stretch the wall clock, not this.
double ThreadCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

struct Timing
{
    double wallBestMs;   // fastest single batch by the clock
    double cpuMeanMs;    // thread CPU time per batch, averaged
};

// `count` UpLoadInfo calls on a fresh job text, `runs` times.
Timing TimeInfoCalls(IVedADA* control, int count, int runs, bool throughInvoke, DISPID dispid)
{
    CBstr item(L"1234567");
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = item.Get();
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    Timing timing = {1e300, 0};
    double cpu = 0;
    for (int run = 0; run < runs; ++run)
    {
        control->UpLoadInit();
        double cpuStart = ThreadCpuMs();
        double start = Now();
        for (int i = 0; i < count; ++i)
        {
            if (throughInvoke)
                control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
            else
                control->UpLoadInfo(item.Get());
        }
        double elapsed = Now() - start;
        cpu += ThreadCpuMs() - cpuStart;
        if (elapsed < timing.wallBestMs)
            timing.wallBestMs = elapsed;
    }
    timing.cpuMeanMs = cpu / runs;
    return timing;
}

// `count` calls through Invoke that go on from the present job text.
void TimeInfoBlock(IVedADA* control, int count, DISPID dispid)
{
    CBstr item(L"1234567");
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = item.Get();
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    for (int i = 0; i < count; ++i)
        control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

size_t CountWellFormed(const std::string& bytes, const std::string& text, bool& wellFormed)
{
    size_t count = 0;
    size_t at = 0;
    wellFormed = true;
    while (at + 12 <= bytes.size())
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
        uint32_t kind = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
        uint32_t length = p[4] | p[5] << 8 | p[6] << 16 | static_cast<uint32_t>(p[7]) << 24;
        if (kind != 2 || length != text.size() + 1 || at + 12 + length > bytes.size() ||
            bytes.compare(at + 12, length, text.c_str(), length) != 0)
        {
            wellFormed = false;
            return count;
        }
        ++count;
        at += 12 + length;
    }
    wellFormed = at == bytes.size();
    return count;
}
}

int main()
{
    CComApartment com;
    bool passed = true;
    CloseEverything();
    if (!Install())
    {
        std::printf("the companion program could not be installed\n");
        return 2;
    }
    std::string log = UseFreshLog("bench");
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return 2;

    {
        CFakeCompanion explorer("tavrine_class_explorer");   // the install check passes at once
        OLECHAR name[] = L"UpLoadInfo";
        LPOLESTR names[] = {name};
        DISPID dispid = 0;
        if (FAILED(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid)))
            return 2;
        Timing small = TimeInfoCalls(control.Get(), 10000, 30, true, dispid);
        Timing large = TimeInfoCalls(control.Get(), 100000, 3, true, dispid);
        Timing direct = TimeInfoCalls(control.Get(), 100000, 3, false, dispid);
        double ratio = large.cpuMeanMs / small.cpuMeanMs;
        std::printf("info_invoke_10000: cpu_ms=%.2f wall_best_ms=%.2f\n", small.cpuMeanMs, small.wallBestMs);
        std::printf("info_invoke_100000: cpu_ms=%.2f wall_best_ms=%.2f\n", large.cpuMeanMs, large.wallBestMs);
        std::printf("info_vtable_100000: cpu_ms=%.2f wall_best_ms=%.2f\n", direct.cpuMeanMs, direct.wallBestMs);
        std::printf("info_growth_ratio=%.2f (cpu; bound 12) wall_best_ratio=%.2f\n", ratio,
                    large.wallBestMs / small.wallBestMs);
        std::printf("info_invoke_per_call_us=%.3f info_vtable_per_call_us=%.3f\n", large.cpuMeanMs * 1000.0 / 100000,
                    direct.cpuMeanMs * 1000.0 / 100000);
        std::printf("info_invoke_over_vtable=%.2f (cpu) %.2f (wall)\n", large.cpuMeanMs / direct.cpuMeanMs,
                    large.wallBestMs / direct.wallBestMs);
        // Each tenth of a 100,000-call batch should cost the same.
        std::printf("info_invoke_per_10000_block_cpu_ms=");
        control->UpLoadInit();
        for (int block = 0; block < 10; ++block)
        {
            double t = ThreadCpuMs();
            TimeInfoBlock(control.Get(), 10000, dispid);
            std::printf("%s%.1f", block ? "," : "", ThreadCpuMs() - t);
        }
        std::printf("\n");
        passed = passed && ratio <= 12.0;
        control->UpLoadInit();
    }

    // A running companion with a fresh list file.
    std::string upList = UpListFile();
    DeleteFileA(upList.c_str());
    std::string program = InstallDir() + "TavrineUp.exe";
    std::string parameters = "bbs user pass " + upList;
    std::string encoded;
    for (char c : parameters.substr(14))
        encoded += c == ' ' ? std::string("[[SPACE]]") : std::string(1, c);
    parameters = "bbs user pass " + encoded;
    ShellExecuteA(nullptr, nullptr, program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
    DWORD waited = GetTickCount();
    while (!FindWindowA("tavrine_class_upload", nullptr) && GetTickCount() - waited < 30000)
        Sleep(50);
    if (!FindWindowA("tavrine_class_upload", nullptr))
    {
        std::printf("the upload companion did not start\n");
        return 2;
    }
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(L"1001").Get());
    control->UpLoadInfo(CBstr(L"1002").Get());
    const int handOffs = 1000;
    int declined = 0;
    double start = Now();
    for (int i = 0; i < handOffs; ++i)
        declined += control->UpLoadEnd(CBstr(L"user").Get(), CBstr(L"pass").Get()) != S_OK;
    double elapsed = Now() - start;
    std::printf("handoff_count=%d declined=%d elapsed_ms=%.1f\n", handOffs, declined, elapsed);
    std::printf("handoff_records_per_second=%.0f\n", handOffs * 1000.0 / elapsed);

    bool wellFormed = false;
    size_t records = CountWellFormed(ReadFileBytes(upList), "1001#>1002", wellFormed);
    std::printf("list_file_records=%u well_formed=%s\n", static_cast<unsigned>(records), wellFormed ? "yes" : "no");
    passed = passed && declined == 0 && records == handOffs && wellFormed;
    bool read = WaitForLines(log, {"TavrineUp.exe ", " record source="}, handOffs, 60000);
    std::printf("companion_records_read=%u\n",
                static_cast<unsigned>(FindLines(log, {"TavrineUp.exe ", " record source="}).size()));
    passed = passed && read;
    CloseEverything();
    DeleteFileA(upList.c_str());
    std::printf("result=%s\n", passed ? "pass" : "FAIL");
    return passed ? 0 : 1;
}
