// CSetupFolderSecurity: the permissions of the folder a checked setup program
// is saved in, for the user the control runs as. Safe on any thread.
#pragma once

#include <windows.h>

class CSetupFolderSecurity
{
public:
    enum class Stage
    {
        Filling,   // until the program is in place: the user may add files, never folders
        Sealed,    // from the check on: the user may only list and read
    };

    CSetupFolderSecurity() = default;
    ~CSetupFolderSecurity() { Reset(); }
    CSetupFolderSecurity(const CSetupFolderSecurity&) = delete;
    CSetupFolderSecurity& operator=(const CSetupFolderSecurity&) = delete;

    // A protected descriptor of the folder's own (nothing inherited from the
    // temporary folder): SYSTEM and Administrators with full control, the
    // user as the stage allows.
    HRESULT Build(Stage stage);
    PSECURITY_DESCRIPTOR Get() const { return m_pDescriptor; }

private:
    void Reset();

    PSECURITY_DESCRIPTOR m_pDescriptor = nullptr;   // from LocalAlloc
};
