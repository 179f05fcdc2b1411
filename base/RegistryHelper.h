// CRegistryHelper: writes a DWORD or a string value and reads a string value
// under a subkey of one root key. Holds no key between operations; any thread
// may use its own helper.
#pragma once

#include <windows.h>
#include <string>

#include "base/Shared.h"

// The value of one operation while it runs: its bytes live on a private heap
// created for that operation and destroyed with it, so nothing outlives it.
class RegValueBuffer
{
public:
    RegValueBuffer();
    ~RegValueBuffer();
    RegValueBuffer(const RegValueBuffer&) = delete;
    RegValueBuffer& operator=(const RegValueBuffer&) = delete;

    // Gives a zero-filled block of size bytes on the operation's heap; false
    // when the heap or the block cannot be had. Frees any earlier block.
    bool Allocate(DWORD size);
    void Free();

    BYTE* Data() const { return m_pData; }
    DWORD Size() const { return m_dwSize; }
    DWORD Type() const { return m_dwType; }
    void SetType(DWORD type) { m_dwType = type; }

private:
    CScopedHeap m_heap;
    BYTE* m_pData = nullptr;
    DWORD m_dwSize = 0;
    DWORD m_dwType = REG_NONE;
};

class CRegistryHelper
{
public:
    explicit CRegistryHelper(HKEY root);
    virtual ~CRegistryHelper();
    CRegistryHelper(const CRegistryHelper&) = delete;
    CRegistryHelper& operator=(const CRegistryHelper&) = delete;

    // Each creates the subkey (and any missing key above it) when needed and
    // answers whether the value was written. A null or empty name is the
    // key's default value.
    bool WriteDword(const char* subkey, const char* name, const DWORD* value);
    // A null text is written as the empty string.
    bool WriteString(const char* subkey, const char* name, const char* text);
    // Answers true and sets text for REG_SZ, REG_EXPAND_SZ (not expanded) and
    // REG_LINK values; otherwise answers false and leaves text alone. Never
    // creates the subkey.
    bool ReadString(const char* subkey, const char* name, std::string& text);

private:
    bool WriteValue(const char* subkey, const char* name, const RegValueBuffer& value);

    const HKEY m_hRoot;
};
