// Support for the picker's dialog tests.
#include "PickerTestSupport.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "harness/TestHarness.h"

namespace
{
const wchar_t kSettingsKey[] = L"Software\\Tavrine";

struct DriverContext
{
    const std::function<void(CPickerDriver&)>* steps;
    DWORD hostThread;
    bool attached = false;
    bool closed = false;
};

BOOL CALLBACK CloseStray(HWND hwnd, LPARAM)
{
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (lstrcmpW(cls, L"#32770") == 0)
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

DWORD WINAPI DriverThread(void* parameter)
{
    auto* context = static_cast<DriverContext*>(parameter);
    try
    {
        CPickerDriver driver;
        context->attached = driver.Attach(30000);
        if (!context->attached)
        {
            // Whatever the host shows must not keep it waiting forever.
            EnumThreadWindows(context->hostThread, CloseStray, 0);
            return 1;
        }
        (*context->steps)(driver);
        if (IsWindow(driver.Dialog()))
            driver.Close();
        context->closed = driver.WaitClosed(20000);
        if (!context->closed)
            EnumThreadWindows(context->hostThread, CloseStray, 0);
    }
    catch (...)
    {
        EnumThreadWindows(context->hostThread, CloseStray, 0);
    }
    return 0;
}
}

CTestControl::CTestControl()
{
    CoInitialize(nullptr);
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA,
                                  reinterpret_cast<void**>(&m_pControl));
    ok(hr == S_OK, "CoCreateInstance: %#lx", hr);
    if (m_pControl)
    {
        hr = sink.Connect(m_pControl);
        ok(hr == S_OK, "connecting the sink: %#lx", hr);
    }
}

CTestControl::~CTestControl()
{
    sink.Disconnect();
    if (m_pControl)
        m_pControl->Release();
    CoUninitialize();
}

bool RunPicker(CTestControl& control, const std::function<void(CPickerDriver&)>& steps)
{
    if (!control)
        return false;
    DriverContext context;
    context.steps = &steps;
    context.hostThread = GetCurrentThreadId();
    HANDLE thread = CreateThread(nullptr, 0, DriverThread, &context, 0, nullptr);
    ok(thread != nullptr, "driver thread: %lu", GetLastError());
    if (!thread)
        return false;
    HRESULT hr = control.Get()->ShowUpFileDlg();
    ok(hr == S_OK, "ShowUpFileDlg: %#lx", hr);
    DWORD wait = WaitForSingleObject(thread, 60000);
    ok(wait == WAIT_OBJECT_0, "driver thread did not end: %lu", wait);
    CloseHandle(thread);
    ok(context.attached, "the picker was not found by its caption");
    ok(context.closed, "the picker did not close");
    return context.attached && context.closed;
}

std::wstring ReadSetting(const char* name)
{
    std::wstring wideName(name, name + strlen(name));
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<missing>";
    LONG result = RegQueryValueExW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return L"<missing>";
    if (type != REG_SZ)
        return L"<not REG_SZ>";
    return value;
}

void ClearSettings()
{
    SHDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

void StoreSettings(const wchar_t* drive, const wchar_t* path)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
    {
        ok(false, "cannot create the settings key");
        return;
    }
    RegSetValueExW(key, L"strWebDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(drive),
                   static_cast<DWORD>((wcslen(drive) + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"strWebPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::string Ansi(const std::wstring& text)
{
    int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(needed > 0 ? needed : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], needed, nullptr, nullptr);
    result.resize(strlen(result.c_str()));
    return result;
}

std::string Narrow(const std::wstring& text)
{
    // UTF-8, so the test log reads the same whatever the console's code page.
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(needed > 0 ? needed : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], needed, nullptr, nullptr);
    result.resize(strlen(result.c_str()));
    return result;
}

void CheckEvents(const char* what, const std::vector<SelectEvent>& got, const std::vector<SelectEvent>& want)
{
    ok(got.size() == want.size(), "%s: %u events, expected %u", what, static_cast<unsigned>(got.size()),
       static_cast<unsigned>(want.size()));
    for (size_t i = 0; i < got.size() || i < want.size(); ++i)
    {
        if (i < got.size() && i < want.size() && got[i] == want[i])
            continue;
        std::string g = i < got.size() ? Narrow(got[i].path) + " | " + Narrow(got[i].size) + " | " + Narrow(got[i].mode)
                                        : "(none)";
        std::string w = i < want.size()
                            ? Narrow(want[i].path) + " | " + Narrow(want[i].size) + " | " + Narrow(want[i].mode)
                            : "(none)";
        ok(false, "%s: event %u is [%s], expected [%s]", what, static_cast<unsigned>(i + 1), g.c_str(), w.c_str());
    }
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE))
        return L"<none>";
    return path;
}
