// CSetupFolderSecurity: the descriptors are written as security descriptor
// strings around the SID of the process's user.
#include "install/SetupFolderSecurity.h"

#include <sddl.h>

#include <string>

#include "base/Shared.h"

namespace
{
struct LocalTraits
{
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};
using CScopedLocal = CScopedValue<LocalTraits>;

HRESULT CurrentUserSid(std::string& sid)
{
    CScopedHandle token;
    RETURN_LAST_ERROR_IF(!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    RETURN_HR_IF(HResultFromLastError(), size == 0);
    std::string buffer(size, '\0');
    RETURN_LAST_ERROR_IF(!GetTokenInformation(token.Get(), TokenUser, &buffer[0], size, &size));
    char* text = nullptr;
    RETURN_LAST_ERROR_IF(
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &text));
    CScopedLocal owner(text);
    sid = text;
    return S_OK;
}
}

HRESULT CSetupFolderSecurity::Build(Stage stage)
{
    Reset();
    std::string user;
    RETURN_IF_FAILED(CurrentUserSid(user));
    // 0x1200a9: list, traverse, read data, attributes and permissions. While
    // filling, also add files (0x2); whatever is created inside gives the user
    // full control of itself, so that it can be deleted again later.
    // S-1-3-4 (owner rights) takes from the owner, who is the user, the right
    // to change these permissions that owners otherwise keep (Vista and later;
    // older Windows ignore it).
    std::string text = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (stage == Stage::Filling)
        text += "(A;;0x1200ab;;;" + user + ")(A;OIIO;FA;;;" + user + ")";
    else
        text += "(A;;0x1200a9;;;" + user + ")(A;;0x1200a9;;;S-1-3-4)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    RETURN_LAST_ERROR_IF(
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    m_pDescriptor = descriptor;
    return S_OK;
}

void CSetupFolderSecurity::Reset()
{
    if (m_pDescriptor)
        LocalFree(m_pDescriptor);
    m_pDescriptor = nullptr;
}
