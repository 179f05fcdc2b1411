// Shared pieces of the transfer tests. Test thread only.
#include "transfer/TransferTestSupport.h"

#include <cstdio>

#include "companion/CompanionFixture.h"

std::vector<CFakeCompanion::CopyData> CFakeCompanion::s_received;

namespace
{
LRESULT CALLBACK FakeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA)
    {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        CFakeCompanion::CopyData copy = {wParam, data->dwData, data->cbData,
                                         std::string(static_cast<const char*>(data->lpData), data->cbData)};
        CFakeCompanion::s_received.push_back(copy);
        return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

uint32_t LittleEndianAt(const std::string& bytes, size_t at)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
}

CFakeCompanion::CFakeCompanion(const char* windowClass)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = FakeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = windowClass;
    RegisterClassA(&wc);   // already there from an earlier test: fine
    m_hwnd = CreateWindowA(windowClass, "stand-in", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

CFakeCompanion::~CFakeCompanion()
{
    if (m_hwnd)
        DestroyWindow(m_hwnd);
}

CIfacePtr<IVedADA> CreateControl()
{
    CIfacePtr<IVedADA> control;
    HRESULT hr = CoCreateInstance(CLSID_VedADA, nullptr, CLSCTX_INPROC_SERVER, IID_IVedADA, control.PutVoid());
    if (FAILED(hr))
        std::printf("CoCreateInstance failed: %#lx\n", static_cast<unsigned long>(hr));
    return control;
}

uintptr_t IdentityOf(IUnknown* object)
{
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        return 0;
    identity->Release();
    return reinterpret_cast<uintptr_t>(identity);
}

std::string TempDir()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

std::string UpListFile()
{
    return TempDir() + "Tavrine_Upload_List";
}

std::string DownListFile()
{
    return TempDir() + "Tavrine_Download_List";
}

bool ListFileIs(const std::string& path, const std::vector<ListRecord>& expected, std::string& why)
{
    bool exists = false;
    std::string bytes = CompanionFixture::ReadFileBytes(path, &exists);
    if (!exists)
    {
        why = "the list file does not exist";
        return expected.empty();
    }
    std::string wanted;
    size_t at = 0;
    for (const ListRecord& record : expected)
    {
        uint32_t length = static_cast<uint32_t>(record.text.size() + 1);
        for (uint32_t field : {record.kind, length})
            for (int shift = 0; shift < 32; shift += 8)
                wanted.push_back(static_cast<char>((field >> shift) & 0xFF));
        // The reserved field is the control's own business: take it from the file.
        wanted.append(at + 12 <= bytes.size() ? bytes.substr(at + 8, 4) : std::string(4, '?'));
        wanted.append(record.text);
        wanted.push_back('\0');
        at = wanted.size();
    }
    if (bytes == wanted)
        return true;
    char buffer[200];
    size_t diff = 0;
    while (diff < bytes.size() && diff < wanted.size() && bytes[diff] == wanted[diff])
        ++diff;
    std::snprintf(buffer, sizeof(buffer), "file has %u bytes, expected %u; first difference at %u (kind there %u)",
                  static_cast<unsigned>(bytes.size()), static_cast<unsigned>(wanted.size()),
                  static_cast<unsigned>(diff), bytes.size() >= 4 ? LittleEndianAt(bytes, 0) : 0);
    why = buffer;
    return false;
}

std::string Narrow(const wchar_t* text, UINT codePage)
{
    int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, 0, text, -1, &out[0], needed, nullptr, nullptr);
    out.resize(static_cast<size_t>(needed) - 1);
    return out;
}

std::string HexOf(uint64_t value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}
