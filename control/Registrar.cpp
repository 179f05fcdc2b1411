// The registrar: walks a parsed script and writes or removes its keys.
#include "control/Registrar.h"

#include <shlwapi.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "base/Shared.h"

namespace
{
// Removes a key with everything below it; a missing key counts as removed.
// SHDeleteKey rather than RegDeleteTree, which XP does not have.
LONG DeleteTree(HKEY parent, const std::string& name)
{
    LONG lr = SHDeleteKeyA(parent, name.c_str());
    return lr == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lr;
}

LONG SetValue(HKEY key, const RgsNode& node, const char* valueName)
{
    if (node.valueType == 'd')
    {
        DWORD number = static_cast<DWORD>(std::strtoul(node.value.c_str(), nullptr, 0));
        return RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    }
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(node.value.c_str()),
                          static_cast<DWORD>(node.value.size() + 1));
}

HRESULT RegisterKey(HKEY parent, const RgsNode& node)
{
    if (node.isNamedValue)
    {
        RETURN_IF_WIN32_ERROR(SetValue(parent, node, node.name.c_str()));
        return S_OK;
    }
    if (node.marker == RgsNode::Marker::Delete)
    {
        RETURN_IF_WIN32_ERROR(DeleteTree(parent, node.name));
        return S_OK;
    }
    if (node.marker == RgsNode::Marker::ForceRemove)
        RETURN_IF_WIN32_ERROR(DeleteTree(parent, node.name));

    CScopedKey key;
    RETURN_IF_WIN32_ERROR(RegCreateKeyExA(parent, node.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr));
    if (node.hasValue)
        RETURN_IF_WIN32_ERROR(SetValue(key.Get(), node, nullptr));
    for (const RgsNode& child : node.children)
        RETURN_IF_FAILED(RegisterKey(key.Get(), child));
    return S_OK;
}

HRESULT UnregisterKey(HKEY parent, const RgsNode& node)
{
    if (node.isNamedValue)
    {
        LONG lr = RegDeleteValueA(parent, node.name.c_str());
        if (lr != ERROR_SUCCESS && lr != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(lr);
        return S_OK;
    }
    if (node.marker == RgsNode::Marker::ForceRemove || node.marker == RgsNode::Marker::Delete)
    {
        RETURN_IF_WIN32_ERROR(DeleteTree(parent, node.name));
        return S_OK;
    }

    CScopedKey key;
    LONG lr = RegOpenKeyExA(parent, node.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
    if (lr == ERROR_FILE_NOT_FOUND)
        return S_OK;
    RETURN_IF_WIN32_ERROR(lr);
    for (const RgsNode& child : node.children)
        RETURN_IF_FAILED(UnregisterKey(key.Get(), child));
    if (node.marker == RgsNode::Marker::NoRemove)
        return S_OK;

    // A key that still holds someone else's subkeys stays.
    DWORD subkeys = 0;
    RETURN_IF_WIN32_ERROR(RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr));
    key.Reset();
    if (subkeys == 0)
    {
        lr = RegDeleteKeyA(parent, node.name.c_str());
        if (lr != ERROR_SUCCESS && lr != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(lr);
    }
    return S_OK;
}

}

void CRegistrar::AddReplacement(const std::string& name, const std::string& value)
{
    m_script.AddReplacement(name, value);
}

void CRegistrar::RedirectRoot(HKEY predefined, HKEY replacement)
{
    m_redirects[predefined] = replacement;
}

HKEY CRegistrar::RootKey(const std::string& name) const
{
    static const struct
    {
        const char* shortName;
        const char* longName;
        HKEY key;
    } roots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", "HKEY_USERS", HKEY_USERS},
    };
    std::string upper = Upper(name);
    for (const auto& root : roots)
    {
        if (upper == root.shortName || upper == root.longName)
        {
            auto redirected = m_redirects.find(root.key);
            return redirected == m_redirects.end() ? root.key : redirected->second;
        }
    }
    return nullptr;
}

HRESULT CRegistrar::Apply(const std::string& text, bool registering)
{
    std::vector<RgsRoot> roots;
    std::string error;
    if (!m_script.Parse(text, roots, error))
        return DISP_E_EXCEPTION;
    for (const RgsRoot& root : roots)
    {
        HKEY key = RootKey(root.rootName);
        if (!key)
            return DISP_E_EXCEPTION;
        for (const RgsNode& node : root.keys)
            RETURN_IF_FAILED(registering ? RegisterKey(key, node) : UnregisterKey(key, node));
    }
    return S_OK;
}

HRESULT CRegistrar::RunScript(const std::string& text, bool registering)
{
    try
    {
        HRESULT hr = Apply(text, registering);
        if (FAILED(hr) && registering)
            Apply(text, false);   // best effort: take our own keys back out
        return hr;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistrar::RunResource(HMODULE module, UINT id, bool registering)
{
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    RETURN_LAST_ERROR_IF(!resource);
    HGLOBAL loaded = LoadResource(module, resource);
    RETURN_LAST_ERROR_IF(!loaded);
    const char* data = static_cast<const char*>(LockResource(loaded));
    DWORD size = SizeofResource(module, resource);
    RETURN_HR_IF(E_UNEXPECTED, !data || size == 0);
    std::string text;
    try
    {
        text.assign(data, size);
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
    return RunScript(text, registering);
}
