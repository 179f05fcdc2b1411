// What the transfer tests share: the control object, stand-in companion
// windows, the list-file paths and a strict reader for their records.
// Test thread only.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "base/Shared.h"

struct ListRecord
{
    uint32_t kind;
    std::string text;   // without its NUL
};

// A COM apartment for one test.
class CComApartment
{
public:
    CComApartment() : m_hr(CoInitialize(nullptr)) {}
    ~CComApartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;

private:
    HRESULT m_hr;
};

// A hidden top-level window of a companion's class in the test process: the
// control takes it for a running companion, and the install check passes.
class CFakeCompanion
{
public:
    explicit CFakeCompanion(const char* windowClass);
    ~CFakeCompanion();
    CFakeCompanion(const CFakeCompanion&) = delete;
    CFakeCompanion& operator=(const CFakeCompanion&) = delete;
    HWND Window() const { return m_hwnd; }

    struct CopyData
    {
        WPARAM wParam;
        ULONG_PTR kind;
        DWORD length;
        std::string bytes;   // all cbData bytes
    };
    // Every WM_COPYDATA any stand-in received, oldest first.
    static std::vector<CopyData> s_received;

private:
    HWND m_hwnd = nullptr;
};

CIfacePtr<IVedADA> CreateControl();
// The object's identity: the address its IUnknown answers with.
uintptr_t IdentityOf(IUnknown* object);

std::string TempDir();
std::string UpListFile();
std::string DownListFile();

// Whether the file holds exactly these records, header fields and text bytes
// compared byte for byte (the reserved field only has to be there).
bool ListFileIs(const std::string& path, const std::vector<ListRecord>& expected, std::string& why);

// Text in a code page, for expected bytes.
std::string Narrow(const wchar_t* text, UINT codePage);
std::string HexOf(uint64_t value);
