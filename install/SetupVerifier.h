// CSetupVerifier: in a build that names the setup program's publisher, the
// downloaded setup program is saved in a folder of its own that nothing else
// may be added to, checked for an Authenticode signature by that publisher
// whose chain is known not to be revoked, and held open, unchangeable, from
// before the check until its process exists. Prepared and checked on the
// transfer thread, then handed to the install dialog's thread for the start.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "base/Shared.h"

// The publisher pins of a build: each the SHA-256 of the signing certificate's
// SubjectPublicKeyInfo (DER), as 64 hex digits; entries are separated by
// commas, semicolons or blanks. Answers them in lower case; malformed entries
// are left out, so they never match.
std::vector<std::string> ParsePublisherPins(const char* text);

// The signing key's pin is not one of the build's.
constexpr HRESULT E_SETUP_PUBLISHER_MISMATCH = TRUST_E_SUBJECT_NOT_TRUSTED;
// The file carries bytes the signature does not cover: inside its certificate
// table past the signature, or after the table.
constexpr HRESULT E_SETUP_UNSIGNED_BYTES = TRUST_E_SUBJECT_FORM_UNKNOWN;
// Something besides the program turned up in its folder before the start.
constexpr HRESULT E_SETUP_FOLDER_CHANGED = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);

// What the signer's chain says about revocation, certificate by certificate
// from the signer's own to the root, as the signature check built it.
struct ChainCertificateStatus
{
    DWORD errorStatus = 0;           // CERT_TRUST_* error bits of this certificate
    bool revocationChecked = false;  // the platform looked its revocation up
    FILETIME revokedAt = {};         // when a revoked one was revoked; zero when unknown
};
struct SignerChainStatus
{
    std::vector<ChainCertificateStatus> certificates;
    bool timestamped = false;
    FILETIME signedAt = {};          // the time stamp's time, when there is one
};

// S_OK unless a certificate of the chain other than the root is revoked
// (before the signature's time stamp, where it has one), or its revocation
// could not be learnt, whatever the user's trust settings accept.
HRESULT RevocationVerdict(const SignerChainStatus& chain);

// For tests: sees, and may change, the chain's status before the verdict on
// it, since the test platform does not look revocation up.
using ChainStatusHook = void (*)(SignerChainStatus& chain);
void OverrideChainStatusHook(ChainStatusHook hook);

// Starts a setup program through the shell, which asks for elevation when the
// program's manifest wants it. S_OK once its process exists; S_FALSE when the
// shell started something but gave no process to show for it.
HRESULT StartSetupProgram(HWND owner, const std::string& path);

class CSetupVerifier
{
public:
    CSetupVerifier() = default;
    ~CSetupVerifier() = default;
    CSetupVerifier(const CSetupVerifier&) = delete;
    CSetupVerifier& operator=(const CSetupVerifier&) = delete;
    // Hands the program over; the source is left empty, so that discarding
    // it afterwards deletes nothing.
    CSetupVerifier(CSetupVerifier&& other) noexcept { *this = std::move(other); }
    CSetupVerifier& operator=(CSetupVerifier&& other) noexcept;

    // Whether this build pins a publisher; otherwise the setup program is run
    // as it is saved, without a check.
    static bool IsEnabled();

    // Removes what earlier downloads left in their folders under tempDir,
    // then makes a fresh folder there with permissions of its own and holds
    // it, so that it can be neither renamed nor removed. Path() is then where
    // the program must be saved.
    HRESULT PrepareFolder(const std::string& tempDir, const std::string& fileName);

    // Closes the folder to new files, opens the saved program without write
    // or delete sharing, then checks that the signature covers the whole
    // file, that it is valid, that the signer's key is pinned and that no
    // certificate of its chain is revoked. On failure the program and its
    // folder are deleted.
    HRESULT Verify(const std::vector<std::string>& pins);
    HRESULT Verify() { return Verify(ParsePublisherPins(BuildPins())); }

    const std::string& Path() const { return m_strPath; }
    // The verified program is held and ready to start.
    bool IsHeld() const { return m_bVerified && m_file.IsValid(); }
    // Starts the held program, provided its folder holds nothing else, and
    // lets go of it once its process exists. On failure the program and its
    // folder are deleted.
    HRESULT Start(HWND owner);
    // Lets go of the program and its folder; they stay on disk until the
    // next download clears them.
    void Release();
    // Deletes the program and its folder.
    void Discard();

private:
    static const char* BuildPins();
    HRESULT Seal();
    HRESULT CheckSignature(const std::vector<std::string>& pins);
    HRESULT CheckFolderContents() const;

    std::string m_strFolder;   // with a trailing backslash
    std::string m_strPath;
    CScopedFile m_folder;      // the folder, held without delete sharing
    CScopedFile m_file;        // the program, held without write or delete sharing
    bool m_bVerified = false;
};
