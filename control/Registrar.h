// Applies the control's registry scripts: registering writes the keys and
// values, unregistering removes what registration added, honouring the
// NoRemove and ForceRemove markers. Runs on the thread that (un)registers.
#pragma once

#include <windows.h>
#include <map>
#include <string>

#include "control/RgsScript.h"

class CRegistrar
{
public:
    void AddReplacement(const std::string& name, const std::string& value);
    // Sends a script root (such as "HKCR") to another key, for a scratch tree.
    void RedirectRoot(HKEY predefined, HKEY replacement);

    // A script that fails while registering is run once more unregistering,
    // so it leaves none of its own keys behind; the first failure is returned.
    HRESULT RunScript(const std::string& text, bool registering);
    HRESULT RunResource(HMODULE module, UINT id, bool registering);

private:
    HRESULT Apply(const std::string& text, bool registering);
    HKEY RootKey(const std::string& name) const;

    CRgsScript m_script;
    std::map<HKEY, HKEY> m_redirects;
};
