// A small conformance-test harness in the style of Wine's: ok() checks that
// report file and line, test_* functions grouped per program, and a non-zero
// exit code when anything failed. Tests run under Wine from ctest.
#pragma once

#include <windows.h>
#include <string>

void ok_(const char* file, int line, bool condition, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void skip_(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define ok(condition, ...) ok_(__FILE__, __LINE__, !!(condition), __VA_ARGS__)
#define skip(...) skip_(__FILE__, __LINE__, __VA_ARGS__)

struct TestEntry
{
    const char* name;
    void (*function)();
};

// Runs every test, or only those named on the command line; answers the exit code.
int RunTests(const TestEntry* tests, size_t count, int argc, char** argv);

#define TEST(function) { #function, function }
#define TEST_MAIN(...)                                                         \
    int main(int argc, char** argv)                                            \
    {                                                                          \
        static const TestEntry tests[] = {__VA_ARGS__};                        \
        return RunTests(tests, sizeof(tests) / sizeof(tests[0]), argc, argv);  \
    }

// Number of failed checks so far (lets a test stop early after a failure it cannot survive).
int FailureCount();

// Windows path of the control DLL under test (from TAVRINE_DLL, a Unix path).
std::string TestDllPath();
// Windows path for a Unix path of the build tree.
std::string WindowsPathOf(const std::string& unixPath);
// Records one row of the fault matrix (fault, expected outcome, observed outcome) and checks it:
// rows go to fault-matrix.tsv in the build directory, from which the run's report is made.
void fault_row_(const char* file, int line, const char* fault, const char* expected, const std::string& observed,
                bool passed);
#define fault_row(fault, expected, observed, passed) fault_row_(__FILE__, __LINE__, fault, expected, observed, passed)

// Value of an environment variable, "" when unset.
std::string EnvOr(const char* name, const char* fallback = "");

// The memory this process holds privately (the commit charge where the
// platform does not report private bytes), for the tests that check that
// repeated work gives its memory back.
SIZE_T PrivateBytes();
