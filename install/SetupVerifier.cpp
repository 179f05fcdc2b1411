// CSetupVerifier: the setup program's own folder, its hold, and the
// signature, publisher and revocation check. Runs on the transfer thread;
// Start runs on the install dialog's thread once the transfer has handed the
// program over.
#include "install/SetupVerifier.h"

#include <shellapi.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "BuildConfig.h"
#include "base/ProgramStart.h"
#include "install/SetupFolderSecurity.h"

namespace
{
const char kFolderPrefix[] = "TavrineSetup-";
const size_t kPinDigits = 64;
// Far above any real signature; a larger table is not read.
const DWORD kMaxCertificateTable = 1 << 20;
const int kMaxFolderDepth = 8;

ChainStatusHook g_chainStatusHook = nullptr;

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

// Everything inside a folder of a download, then the folder. Links are
// removed themselves, never followed; read-only files are deleted too.
void RemoveFolder(const std::string& folder, int depth = 0)
{
    WIN32_FIND_DATAA found;
    CScopedFind find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (find)
    {
        do
        {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(path.c_str());
            else if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || depth >= kMaxFolderDepth)
                RemoveDirectoryA(path.c_str());
            else
                RemoveFolder(path, depth + 1);
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
HRESULT SignerPin(const CTrustApi& api, CRYPT_PROVIDER_SGNR* signer, std::string& pin)
{
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

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &read, nullptr) &&
           read == size;
}

DWORD LittleEndian(const BYTE* p, int bytes)
{
    DWORD value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

// A signature covers the file except its checksum, the certificate table's
// directory entry and the table itself, so anything appended inside the table
// past the signature, or after the table, could be changed without breaking
// it. The table must end the file and hold exactly one signature, followed by
// at most the zero bytes that align it.
HRESULT CheckCertificateTable(HANDLE file)
{
    LARGE_INTEGER size;
    RETURN_LAST_ERROR_IF(!GetFileSizeEx(file, &size));
    BYTE dos[64];
    RETURN_HR_IF(TRUST_E_SUBJECT_FORM_UNKNOWN, !ReadAt(file, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z');
    DWORD pe = LittleEndian(dos + 0x3C, 4);
    BYTE headers[24 + 112 + 8 * 5];
    RETURN_HR_IF(TRUST_E_SUBJECT_FORM_UNKNOWN, !ReadAt(file, pe, headers, sizeof(headers)) ||
                                                   LittleEndian(headers, 4) != 0x00004550);
    DWORD magic = LittleEndian(headers + 24, 2);
    RETURN_HR_IF(TRUST_E_SUBJECT_FORM_UNKNOWN, magic != 0x10B && magic != 0x20B);
    const BYTE* count = headers + 24 + (magic == 0x10B ? 92 : 108);
    const BYTE* security = count + 4 + 8 * IMAGE_DIRECTORY_ENTRY_SECURITY;
    DWORD tableAt = LittleEndian(security, 4);
    DWORD tableSize = LittleEndian(security + 4, 4);
    RETURN_HR_IF(TRUST_E_NOSIGNATURE, LittleEndian(count, 4) <= IMAGE_DIRECTORY_ENTRY_SECURITY || tableSize == 0);
    RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, tableSize < 8 || tableSize > kMaxCertificateTable ||
                                             static_cast<LONGLONG>(tableAt) + tableSize != size.QuadPart);

    std::string table(tableSize, '\0');
    RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, !ReadAt(file, tableAt, &table[0], tableSize));
    const BYTE* entry = reinterpret_cast<const BYTE*>(table.data());
    DWORD length = LittleEndian(entry, 4);
    RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, length < 8 + 2 || length > tableSize ||
                                             LittleEndian(entry + 4, 2) != WIN_CERT_REVISION_2_0 ||
                                             LittleEndian(entry + 6, 2) != WIN_CERT_TYPE_PKCS_SIGNED_DATA);
    // The signature is one DER SEQUENCE; its own length says where it ends.
    const BYTE* der = entry + 8;
    RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, der[0] != 0x30);
    DWORD derSize = 0;
    DWORD header = 2;
    if (der[1] < 0x80)
        derSize = der[1];
    else
    {
        int bytes = der[1] & 0x7F;
        RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, bytes < 1 || bytes > 3 || length < 8 + 2 + static_cast<DWORD>(bytes));
        for (int i = 0; i < bytes; ++i)
            derSize = (derSize << 8) | der[2 + i];
        header += bytes;
    }
    DWORD end = 8 + header + derSize;
    RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, end > length || tableSize - end >= 8);
    for (DWORD i = end; i < tableSize; ++i)
        RETURN_HR_IF(E_SETUP_UNSIGNED_BYTES, entry[i] != 0);
    return S_OK;
}

// The chain that the signature check built for the first signer, and the
// time of its time stamp.
HRESULT ReadSignerChain(const CRYPT_PROVIDER_SGNR* signer, SignerChainStatus& status)
{
    status = SignerChainStatus();
    RETURN_HR_IF(CRYPT_E_NO_REVOCATION_CHECK, !WVT_ISINSTRUCT(CRYPT_PROVIDER_SGNR, signer->cbStruct, pChainContext) ||
                                                  !signer->pChainContext || signer->pChainContext->cChain == 0);
    const CERT_SIMPLE_CHAIN* chain = signer->pChainContext->rgpChain[0];
    for (DWORD i = 0; chain && i < chain->cElement; ++i)
    {
        const CERT_CHAIN_ELEMENT* element = chain->rgpElement[i];
        ChainCertificateStatus certificate;
        certificate.errorStatus = element->TrustStatus.dwErrorStatus;
        const CERT_REVOCATION_INFO* info = element->pRevocationInfo;
        certificate.revocationChecked = info != nullptr;
        if (info && WVT_ISINSTRUCT(CERT_REVOCATION_INFO, info->cbSize, pCrlInfo) && info->pCrlInfo &&
            info->pCrlInfo->pCrlEntry)
            certificate.revokedAt = info->pCrlInfo->pCrlEntry->RevocationDate;
        status.certificates.push_back(certificate);
    }
    RETURN_HR_IF(CRYPT_E_NO_REVOCATION_CHECK, status.certificates.empty());
    // Counter-signed: the time stamp's time is what the signature was checked as of.
    status.timestamped = signer->csCounterSigners > 0;
    status.signedAt = signer->sftVerifyAsOf;
    return S_OK;
}
}

HRESULT RevocationVerdict(const SignerChainStatus& chain)
{
    // The root is the platform's own trust decision and has no issuer to ask.
    for (size_t i = 0; i + 1 < chain.certificates.size(); ++i)
    {
        const ChainCertificateStatus& certificate = chain.certificates[i];
        if (certificate.errorStatus & CERT_TRUST_IS_REVOKED)
        {
            // A signature time-stamped before the revocation stays valid.
            bool known = certificate.revokedAt.dwLowDateTime != 0 || certificate.revokedAt.dwHighDateTime != 0;
            if (!chain.timestamped || !known || CompareFileTime(&certificate.revokedAt, &chain.signedAt) <= 0)
                return CERT_E_REVOKED;
            continue;
        }
        if (certificate.errorStatus & CERT_TRUST_IS_OFFLINE_REVOCATION)
            return CRYPT_E_REVOCATION_OFFLINE;
        // Also what is left when the user's settings switched the look-up off.
        if ((certificate.errorStatus & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) || !certificate.revocationChecked)
            return CRYPT_E_NO_REVOCATION_CHECK;
    }
    return S_OK;
}

void OverrideChainStatusHook(ChainStatusHook hook)
{
    g_chainStatusHook = hook;
}

HRESULT StartSetupProgram(HWND owner, const std::string& path)
{
    // No error box of the shell's own: the dialog reports a failed start.
    // With a prompt for elevation, the call returns once it has been answered.
    // A host that asked to leave its job starts the program outside it.
    HANDLE started = nullptr;
    RETURN_LAST_ERROR_IF(!ProgramStart::Start(owner, path, std::string(), &started));
    CScopedHandle process(started);
    return process ? S_OK : S_FALSE;
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
    // Permissions of its own, not the temporary folder's: until the program is
    // in place the user may add files to it but no folders (Seal then closes it).
    CSetupFolderSecurity security;
    RETURN_IF_FAILED(security.Build(CSetupFolderSecurity::Stage::Filling));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security.Get(), FALSE};
    RETURN_LAST_ERROR_IF(!CreateDirectoryA(folder.c_str(), &attributes));
    // Without delete sharing the folder can be neither renamed nor removed, so
    // the program's path keeps naming the file that was checked. The handle
    // also closes the folder to new files later: its owner may change its
    // permissions, until they take that right away too.
    m_folder.Reset(CreateFileA(folder.c_str(), GENERIC_READ | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
    HRESULT hr = Seal();
    // Read sharing only: from here until the program has started nobody can
    // write, replace, rename or delete it, and the loader can still map it.
    if (SUCCEEDED(hr))
    {
        m_file.Reset(CreateFileA(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        hr = m_file ? CheckCertificateTable(m_file.Get()) : HResultFromLastError();
    }
    if (SUCCEEDED(hr))
        hr = CheckSignature(pins);
    if (FAILED(hr))
    {
        Discard();
        return hr;
    }
    m_bVerified = true;
    return S_OK;
}

HRESULT CSetupVerifier::Seal()
{
    CSetupFolderSecurity security;
    RETURN_IF_FAILED(security.Build(CSetupFolderSecurity::Stage::Sealed));
    if (SetKernelObjectSecurity(m_folder.Get(), DACL_SECURITY_INFORMATION, security.Get()))
        return S_OK;
    // A volume that keeps no permissions (FAT) cannot close the folder; the
    // look at its contents before the start still refuses anything added.
    DWORD error = GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ? S_OK : HRESULT_FROM_WIN32(error);
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
    LARGE_INTEGER start = {};
    RETURN_LAST_ERROR_IF(!SetFilePointerEx(m_file.Get(), start, nullptr, FILE_BEGIN));

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
    // Some platforms accept a chain to any root; whose key signed it is
    // decided here, not by the chain.
    CRYPT_PROVIDER_DATA* provider = SUCCEEDED(hr) ? api.pProvDataFromStateData(data.hWVTStateData) : nullptr;
    CRYPT_PROVIDER_SGNR* signer = provider ? api.pGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    std::string pin;
    if (SUCCEEDED(hr))
        hr = SignerPin(api, signer, pin);
    if (SUCCEEDED(hr))
    {
        hr = E_SETUP_PUBLISHER_MISMATCH;
        for (const std::string& pinned : pins)
            if (pinned == pin)
                hr = S_OK;
    }
    // The user's trust settings may accept a revocation server that does not
    // answer, or skip the look-up: the chain itself says what was learnt.
    SignerChainStatus chain;
    if (SUCCEEDED(hr))
        hr = ReadSignerChain(signer, chain);
    if (SUCCEEDED(hr) && g_chainStatusHook)
        g_chainStatusHook(chain);
    if (SUCCEEDED(hr))
        hr = RevocationVerdict(chain);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.pWinVerifyTrust(noUser, &action, &data);
    return hr;
}

HRESULT CSetupVerifier::CheckFolderContents() const
{
    // Whatever a process of the user could still add (before the folder was
    // closed, or through a handle opened before) would be loaded from here by
    // the program: the folder must hold the program and nothing else.
    const std::string name = m_strPath.substr(m_strFolder.size());
    WIN32_FIND_DATAA found;
    CScopedFind find(FindFirstFileA((m_strFolder + "*").c_str(), &found));
    RETURN_LAST_ERROR_IF(!find);
    int programs = 0;
    do
    {
        std::string entry = found.cFileName;
        if (entry == "." || entry == "..")
            continue;
        bool isProgram = lstrcmpiA(entry.c_str(), name.c_str()) == 0 &&
                         !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        RETURN_HR_IF(E_SETUP_FOLDER_CHANGED, !isProgram);
        ++programs;
    } while (FindNextFileA(find.Get(), &found));
    RETURN_HR_IF(E_SETUP_FOLDER_CHANGED, programs != 1);
    return S_OK;
}

HRESULT CSetupVerifier::Start(HWND owner)
{
    RETURN_HR_IF(E_UNEXPECTED, !IsHeld());
    HRESULT hr = CheckFolderContents();
    // The hold lasts until the process exists: with it, the program that
    // starts is the one that was checked.
    if (SUCCEEDED(hr))
        hr = StartSetupProgram(owner, m_strPath);
    if (hr != S_OK)
    {
        Discard();
        return FAILED(hr) ? hr : E_FAIL;
    }
    Release();
    return S_OK;
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
