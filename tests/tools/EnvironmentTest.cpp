// Checks the Wine environment that tools/run-tests.sh prepares for every other test: the
// Korean locale, the template prefix's settings, the test display and port, and that the
// control registered in this prefix is the DLL of this build, in this process's bitness.
#include "harness/TestHarness.h"
#include "TavrineControl.h"

#include <cstdlib>
#include <objbase.h>
#include <shlwapi.h>

static void test_locale()
{
    // Korean text in the control is CP949; with another ANSI code page every string test lies.
    ok(GetACP() == 949, "GetACP() = %u, expected 949 (is LANG=ko_KR.UTF-8 set?)\n", GetACP());
    ok(GetThreadLocale() == 0x412, "thread locale %#lx, expected 0x412\n",
       static_cast<unsigned long>(GetThreadLocale()));
}

static void test_prefix_settings()
{
    DWORD value = 0xdeadbeef, size = sizeof(value);
    LONG lr = SHRegGetValueA(HKEY_CURRENT_USER, "Software\\Wine\\WineDbg", "ShowCrashDialog",
                           SRRF_RT_REG_DWORD, nullptr, &value, &size);
    ok(lr == ERROR_SUCCESS && value == 0, "ShowCrashDialog: error %ld, value %#lx; a crash would hang the run\n",
       lr, static_cast<unsigned long>(value));

    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    BOOL got = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    ok(got, "SPI_GETNONCLIENTMETRICS failed (%lu)\n", GetLastError());
    ok(metrics.lfMessageFont.lfCharSet == HANGUL_CHARSET && lstrcmpiW(metrics.lfMessageFont.lfFaceName, L"MS Shell Dlg") != 0,
       "message font charset %u: message boxes would show no Hangul\n", metrics.lfMessageFont.lfCharSet);
}

static void test_run_environment()
{
    std::string arch = EnvOr("TAVRINE_ARCH");
    ok(arch == (sizeof(void*) == 4 ? "i686" : "x86_64"), "TAVRINE_ARCH is \"%s\" in a %u-bit test\n",
       arch.c_str(), static_cast<unsigned>(sizeof(void*) * 8));
    int port = std::atoi(EnvOr("TAVRINE_TEST_PORT").c_str());
    ok(port >= 20000 && port <= 29999, "TAVRINE_TEST_PORT = %d\n", port);
    // The X server of the run: dialogs need a real screen of the size run-tests.sh asks for.
    ok(GetSystemMetrics(SM_CXSCREEN) == 1280 && GetSystemMetrics(SM_CYSCREEN) == 1024,
       "screen %dx%d, expected 1280x1024\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

static void test_registered_control()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    CLSID clsid = {};
    HRESULT hr = CLSIDFromProgID(L"Halvex.Tavrine", &clsid);
    ok(hr == S_OK && IsEqualCLSID(clsid, CLSID_VedADA), "CLSIDFromProgID: %#lx\n", hr);

    // The server path must be this build's DLL, registered in this process's registry view.
    char server[MAX_PATH] = "";
    DWORD size = sizeof(server);
    LONG lr = SHRegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{DA21C137-7D1C-46B7-96AB-2251998EC23C}\\InprocServer32",
                           nullptr, SRRF_RT_REG_SZ, nullptr, server, &size);
    ok(lr == ERROR_SUCCESS, "InprocServer32: error %ld\n", lr);
    std::string expected = TestDllPath();
    ok(lstrcmpiA(server, expected.c_str()) == 0, "InprocServer32 is \"%s\", expected \"%s\"\n", server,
       expected.c_str());

    IDispatch* control = nullptr;
    hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&control));
    ok(hr == S_OK && control, "CoCreateInstance: %#lx\n", hr);
    if (control)
        control->Release();
    CoUninitialize();
}

TEST_MAIN(TEST(test_locale), TEST(test_prefix_settings), TEST(test_run_environment),
          TEST(test_registered_control))
