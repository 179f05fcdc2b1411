// The test harness: counts checks, prints failures with their place, and
// turns the result into the exit code that ctest reads.
#include "harness/TestHarness.h"

#include <psapi.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
int g_checks = 0;
int g_failures = 0;
int g_skips = 0;
const char* g_current = "";
}

void ok_(const char* file, int line, bool condition, const char* format, ...)
{
    ++g_checks;
    if (condition)
        return;
    ++g_failures;
    const char* base = strrchr(file, '/');
    std::printf("%s:%d: %s: Test failed: ", base ? base + 1 : file, line, g_current);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void skip_(const char* file, int line, const char* format, ...)
{
    ++g_skips;
    const char* base = strrchr(file, '/');
    std::printf("%s:%d: %s: Tests skipped: ", base ? base + 1 : file, line, g_current);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void trace(const char* format, ...)
{
    std::printf("%s: ", g_current);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

int FailureCount()
{
    return g_failures;
}

int RunTests(const TestEntry* tests, size_t count, int argc, char** argv)
{
    for (size_t i = 0; i < count; ++i)
    {
        bool wanted = argc < 2;
        for (int a = 1; a < argc && !wanted; ++a)
            wanted = std::strcmp(argv[a], tests[i].name) == 0;
        if (!wanted)
            continue;
        g_current = tests[i].name;
        int before = g_failures;
        DWORD start = GetTickCount();
        std::printf("--- %s\n", tests[i].name);
        std::fflush(stdout);
        tests[i].function();
        std::printf("--- %s: %s (%lu ms)\n", tests[i].name, g_failures == before ? "ok" : "FAILED",
                    static_cast<unsigned long>(GetTickCount() - start));
        std::fflush(stdout);
    }
    std::printf("%d checks, %d failures, %d skipped\n", g_checks, g_failures, g_skips);
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}

std::string EnvOr(const char* name, const char* fallback)
{
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (n == 0 || n >= sizeof(buffer))
        return fallback;
    return std::string(buffer, n);
}

std::string WindowsPathOf(const std::string& unixPath)
{
    if (unixPath.size() >= 2 && unixPath[1] == ':')
        return unixPath;   // already a Windows path
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string TestDllPath()
{
    return WindowsPathOf(EnvOr("TAVRINE_DLL"));
}

void fault_row_(const char* file, int line, const char* fault, const char* expected, const std::string& observed,
                bool passed)
{
    ok_(file, line, passed, "%s: expected %s, observed %s", fault, expected, observed.c_str());
    // A run split over several prefixes gives each part a file of its own (tools/run-tests.sh
    // joins them), so that the build's fault_matrix_begin of one part empties no other's rows.
    std::string path = EnvOr("TAVRINE_FAULT_ROWS");
    if (path.empty())
    {
        std::string build = EnvOr("TAVRINE_BUILD_DIR");
        if (build.empty())
            return;
        path = build + "/fault-matrix.tsv";
    }
    path = WindowsPathOf(path);
    FILE* out = std::fopen(path.c_str(), "ab");
    if (!out)
        return;
    std::fprintf(out, "%s\t%s\t%s\t%s\t%s\n", fault, expected, observed.c_str(), passed ? "pass" : "FAIL",
                 sizeof(void*) == 8 ? "x86_64" : "i686");
    std::fclose(out);
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}
