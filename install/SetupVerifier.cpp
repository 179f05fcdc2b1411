// CSetupVerifier: the setup program's own folder, its hold, and the
// signature and publisher check. Runs on the transfer thread; Release runs on
// the install dialog's thread once the transfer has handed the program over.
#include "install/SetupVerifier.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "BuildConfig.h"

namespace
{
const char kFolderPrefix[] = "TavrineSetup-";
const size_t kPinDigits = 64;

struct CryptProvTraits
{
    using Type = HCRYPTPROV;
    static Type Invalid() { return 0; }
    static void Close(Type h) { CryptReleaseContext(h, 0); }
};
using CScopedCryptProv = CScopedValue<CryptProvTraits>;

struct LibraryTraits
{
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
using CScopedLibrary = CScopedValue<LibraryTraits>;

template <typename T>
T ProcOf(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The signature functions, taken from the system's own DLLs when a check
// runs. Linked by import instead, the 32-bit import libraries would also
// lend their DllRegisterServer and DllUnregisterServer to the control's
// export table in place of its own.
struct CTrustApi
{
    CScopedLibrary wintrust;
    CScopedLibrary crypt32;
    decltype(&WinVerifyTrust) pWinVerifyTrust = nullptr;
    decltype(&WTHelperProvDataFromStateData) pProvDataFromStateData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) pGetProvSignerFromChain = nullptr;
    decltype(&WTHelperGetProvCertFromChain) pGetProvCertFromChain = nullptr;
    decltype(&CryptHashPublicKeyInfo) pCryptHashPublicKeyInfo = nullptr;

    HRESULT Load()
    {
        char system[MAX_PATH] = "";
        UINT length = GetSystemDirectoryA(system, MAX_PATH);
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW), length == 0 || length >= MAX_PATH);
        // Full paths: never a DLL of the same name from the browser's folders.
        std::string folder = std::string(system) + "\\";
        wintrust.Reset(LoadLibraryA((folder + "wintrust.dll").c_str()));
        RETURN_LAST_ERROR_IF(!wintrust);
        crypt32.Reset(LoadLibraryA((folder + "crypt32.dll").c_str()));
        RETURN_LAST_ERROR_IF(!crypt32);
        pWinVerifyTrust = ProcOf<decltype(pWinVerifyTrust)>(wintrust.Get(), "WinVerifyTrust");
        pProvDataFromStateData =
            ProcOf<decltype(pProvDataFromStateData)>(wintrust.Get(), "WTHelperProvDataFromStateData");
        pGetProvSignerFromChain =
            ProcOf<decltype(pGetProvSignerFromChain)>(wintrust.Get(), "WTHelperGetProvSignerFromChain");
        pGetProvCertFromChain =
            ProcOf<decltype(pGetProvCertFromChain)>(wintrust.Get(), "WTHelperGetProvCertFromChain");
        pCryptHashPublicKeyInfo =
            ProcOf<decltype(pCryptHashPublicKeyInfo)>(crypt32.Get(), "CryptHashPublicKeyInfo");
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND),
                     !pWinVerifyTrust || !pProvDataFromStateData || !pGetProvSignerFromChain ||
                         !pGetProvCertFromChain || !pCryptHashPublicKeyInfo);
        return S_OK;
    }
};

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string HexOf(const BYTE* bytes, DWORD size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (DWORD i = 0; i < size; ++i)
    {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

// Plain files directly inside a folder left by an earlier download, then the
// folder. A folder that is a link to elsewhere is not entered.
void RemoveFolder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    CScopedFind find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (find)
    {
        do
        {
            if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(find.Get(), &found));
    }
    find.Reset();
    RemoveDirectoryA(folder.c_str());
}

void RemoveOldFolders(const std::string& tempDir)
{
    WIN32_FIND_DATAA found;
    CScopedFind find(FindFirstFileA((tempDir + kFolderPrefix + "*").c_str(), &found));
    if (!find)
        return;
    do
    {
        // One still holding a running setup program stays until a later download.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        // A folder that a download of another page still holds cannot be
        // opened for deletion; it is left alone, its files included.
        std::string folder = tempDir + found.cFileName;
        CScopedFile probe(CreateFileA(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
        if (!probe)
            continue;
        probe.Reset();
        RemoveFolder(folder);
    } while (FindNextFileA(find.Get(), &found));
}

// The pin of the certificate that signed the checked file: the SHA-256 of its
// SubjectPublicKeyInfo. A publisher that renews its certificate on the same
// key keeps its pin.
HRESULT SignerPin(const CTrustApi& api, HANDLE state, std::string& pin)
{
    CRYPT_PROVIDER_DATA* provider = api.pProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? api.pGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer ? api.pGetProvCertFromChain(signer, 0) : nullptr;
    RETURN_HR_IF(TRUST_E_NOSIGNATURE, !cert || !cert->pCert || !cert->pCert->pCertInfo);

    // SHA-256 needs the AES provider type (Windows XP SP3 and later).
    CScopedCryptProv prov;
    RETURN_LAST_ERROR_IF(!CryptAcquireContextA(prov.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    BYTE hash[32];
    DWORD size = sizeof(hash);
    RETURN_LAST_ERROR_IF(!api.pCryptHashPublicKeyInfo(prov.Get(), CALG_SHA_256, 0, X509_ASN_ENCODING,
                                                      &cert->pCert->pCertInfo->SubjectPublicKeyInfo, hash, &size));
    RETURN_HR_IF(E_UNEXPECTED, size != sizeof(hash));
    pin = HexOf(hash, size);
    return S_OK;
}
}

std::vector<std::string> ParsePublisherPins(const char* text)
{
    std::vector<std::string> pins;
    std::string entry;
    for (const char* p = text ? text : "";; ++p)
    {
        char c = *p;
        if (c == '\0' || c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n')
        {
            bool wellFormed = entry.size() == kPinDigits;
            for (char d : entry)
                wellFormed = wellFormed && IsHexDigit(d);
            if (wellFormed)
                pins.push_back(entry);
            entry.clear();
            if (c == '\0')
                break;
            continue;
        }
        entry += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return pins;
}

const char* CSetupVerifier::BuildPins()
{
    return TAVRINE_SETUP_PUBLISHER;
}

bool CSetupVerifier::IsEnabled()
{
    return BuildPins()[0] != '\0';
}

HRESULT CSetupVerifier::PrepareFolder(const std::string& tempDir, const std::string& fileName)
{
    Discard();
    RemoveOldFolders(tempDir);

    // A name nobody can guess in advance: the folder is made, never reused.
    GUID guid;
    RETURN_IF_FAILED(CoCreateGuid(&guid));
    std::string folder = tempDir + kFolderPrefix +
                         HexOf(reinterpret_cast<const BYTE*>(&guid), sizeof(guid)) + "\\";
    RETURN_LAST_ERROR_IF(!CreateDirectoryA(folder.c_str(), nullptr));
    // Without delete sharing the folder can be neither renamed nor removed, so
    // the program's path keeps naming the file that was checked.
    m_folder.Reset(CreateFileA(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!m_folder)
    {
        HRESULT hr = HResultFromLastError();
        RemoveDirectoryA(folder.c_str());
        return hr;
    }
    m_strFolder = folder;
    m_strPath = folder + fileName;
    return S_OK;
}

HRESULT CSetupVerifier::Verify(const std::vector<std::string>& pins)
{
    m_bVerified = false;
    RETURN_HR_IF(E_UNEXPECTED, m_strPath.empty());
    // Read sharing only: from here until the program has started nobody can
    // write, replace, rename or delete it, and the loader can still map it.
    m_file.Reset(CreateFileA(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    HRESULT hr = m_file ? CheckSignature(pins) : HResultFromLastError();
    if (FAILED(hr))
    {
        Discard();
        return hr;
    }
    m_bVerified = true;
    return S_OK;
}

HRESULT CSetupVerifier::CheckSignature(const std::vector<std::string>& pins)
{
    CTrustApi api;
    RETURN_IF_FAILED(api.Load());
    std::wstring widePath = NarrowToWide(m_strPath, CP_ACP);
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = widePath.c_str();
    file.hFile = m_file.Get();   // the check reads the held file, not the path again

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // A revoked publisher or intermediate certificate is refused; the root is
    // the platform's own trust decision.
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
    LONG status = api.pWinVerifyTrust(noUser, &action, &data);
    HRESULT hr = status == ERROR_SUCCESS ? S_OK : (FAILED(status) ? static_cast<HRESULT>(status) : TRUST_E_FAIL);
    if (SUCCEEDED(hr))
    {
        // Some platforms accept a chain to any root; whose key signed it is
        // decided here, not by the chain.
        std::string pin;
        hr = SignerPin(api, data.hWVTStateData, pin);
        if (SUCCEEDED(hr))
        {
            hr = E_SETUP_PUBLISHER_MISMATCH;
            for (const std::string& pinned : pins)
                if (pinned == pin)
                    hr = S_OK;
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.pWinVerifyTrust(noUser, &action, &data);
    return hr;
}

CSetupVerifier& CSetupVerifier::operator=(CSetupVerifier&& other) noexcept
{
    if (this == &other)
        return *this;
    m_folder = std::move(other.m_folder);
    m_file = std::move(other.m_file);
    m_strFolder.swap(other.m_strFolder);
    m_strPath.swap(other.m_strPath);
    m_bVerified = other.m_bVerified;
    other.m_strFolder.clear();
    other.m_strPath.clear();
    other.m_bVerified = false;
    return *this;
}

void CSetupVerifier::Release()
{
    m_bVerified = false;
    m_file.Reset();
    m_folder.Reset();
}

void CSetupVerifier::Discard()
{
    m_bVerified = false;
    m_file.Reset();
    m_folder.Reset();
    if (!m_strFolder.empty())
        RemoveFolder(m_strFolder.substr(0, m_strFolder.size() - 1));
    m_strFolder.clear();
    m_strPath.clear();
}
