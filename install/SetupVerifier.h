// CSetupVerifier: in a build that names the setup program's publisher, the
// downloaded setup program is saved in a folder of its own, checked for an
// Authenticode signature by that publisher, and held open, unchangeable, from
// before the check until it has been started. Prepared and checked on the
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
    // then makes a fresh folder there and holds it, so that it can be neither
    // renamed nor removed. Path() is then where the program must be saved.
    HRESULT PrepareFolder(const std::string& tempDir, const std::string& fileName);

    // Opens the saved program without write or delete sharing, then checks
    // its signature and that the signer's key is pinned. On failure the
    // program and its folder are deleted.
    HRESULT Verify(const std::vector<std::string>& pins);
    HRESULT Verify() { return Verify(ParsePublisherPins(BuildPins())); }

    const std::string& Path() const { return m_strPath; }
    // The verified program is held and ready to start.
    bool IsHeld() const { return m_bVerified && m_file.IsValid(); }
    // Lets go of the program and its folder once it has started; they stay on
    // disk until the next download clears them.
    void Release();
    // Deletes the program and its folder.
    void Discard();

private:
    static const char* BuildPins();
    HRESULT CheckSignature(const std::vector<std::string>& pins);

    std::string m_strFolder;   // with a trailing backslash
    std::string m_strPath;
    CScopedFile m_folder;      // the folder, held without delete sharing
    CScopedFile m_file;        // the program, held without write or delete sharing
    bool m_bVerified = false;
};
