// Manifests and browser keys of the host. Main thread.
#include "bridge/HostRegistration.h"

#include <nlohmann/json.hpp>

#include "base/Shared.h"

using nlohmann::json;

const char CHostRegistration::kHostName[] = "com.tavrine.bridge";

namespace
{
const wchar_t kChromeManifest[] = L"com.tavrine.bridge.json";
const wchar_t kFirefoxManifest[] = L"com.tavrine.bridge.firefox.json";
const char kDescription[] = "Tavrine file sharing: the page's bridge to the companion programs";

struct BrowserKey
{
    const wchar_t* path;
    bool firefox;
};
const BrowserKey kBrowserKeys[] = {
    {L"Software\\Google\\Chrome\\NativeMessagingHosts\\com.tavrine.bridge", false},
    {L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.tavrine.bridge", false},
    {L"Software\\Mozilla\\NativeMessagingHosts\\com.tavrine.bridge", true},
};

HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    CScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    RETURN_LAST_ERROR_IF(!file);
    DWORD written = 0;
    RETURN_LAST_ERROR_IF(!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    RETURN_HR_IF(E_FAIL, written != bytes.size());
    return S_OK;
}

json ManifestBase(const std::wstring& program)
{
    json manifest = json::object();
    manifest["name"] = CHostRegistration::kHostName;
    manifest["description"] = kDescription;
    manifest["path"] = WideToUtf8(program.c_str());
    manifest["type"] = "stdio";
    return manifest;
}
}

CHostRegistration::CHostRegistration(const std::wstring& programPath, const CExtensionList& extensions)
    : m_strProgram(programPath), m_extensions(extensions)
{
    size_t slash = programPath.find_last_of(L"\\/");
    m_strFolder = slash == std::wstring::npos ? std::wstring() : programPath.substr(0, slash + 1);
}

std::wstring CHostRegistration::ChromeManifestPath() const
{
    return m_strFolder + kChromeManifest;
}

std::wstring CHostRegistration::FirefoxManifestPath() const
{
    return m_strFolder + kFirefoxManifest;
}

std::string CHostRegistration::ChromeManifest() const
{
    json manifest = ManifestBase(m_strProgram);
    json origins = json::array();
    for (const std::string& id : m_extensions.ChromeIds())
        origins.push_back("chrome-extension://" + id + "/");
    manifest["allowed_origins"] = origins;
    return manifest.dump(2) + "\n";
}

std::string CHostRegistration::FirefoxManifest() const
{
    json manifest = ManifestBase(m_strProgram);
    manifest["allowed_extensions"] = m_extensions.FirefoxIds();
    return manifest.dump(2) + "\n";
}

HRESULT CHostRegistration::Register(HKEY root) const
{
    RETURN_IF_FAILED(WriteWholeFile(ChromeManifestPath(), ChromeManifest()));
    RETURN_IF_FAILED(WriteWholeFile(FirefoxManifestPath(), FirefoxManifest()));
    for (const BrowserKey& browser : kBrowserKeys)
    {
        CScopedKey key;
        RETURN_IF_WIN32_ERROR(RegCreateKeyExW(root, browser.path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                              nullptr, key.Put(), nullptr));
        std::wstring manifest = browser.firefox ? FirefoxManifestPath() : ChromeManifestPath();
        RETURN_IF_WIN32_ERROR(RegSetValueExW(key.Get(), nullptr, 0, REG_SZ,
                                             reinterpret_cast<const BYTE*>(manifest.c_str()),
                                             static_cast<DWORD>((manifest.size() + 1) * sizeof(wchar_t))));
    }
    return S_OK;
}

HRESULT CHostRegistration::Unregister(HKEY root) const
{
    HRESULT result = S_OK;
    for (const BrowserKey& browser : kBrowserKeys)
    {
        LONG error = RegDeleteKeyW(root, browser.path);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HRESULT_FROM_WIN32(error);
    }
    for (const std::wstring& path : {ChromeManifestPath(), FirefoxManifestPath()})
        if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HResultFromLastError();
    return result;
}
