// The registry helper behind AllowPopUp and the file picker's remembered
// paths. Runs on the caller's thread; each operation owns its key and heap.
#include "base/RegistryHelper.h"

#include <cstring>

RegValueBuffer::RegValueBuffer() : m_heap(HeapCreate(0, 0, 0)) {}

RegValueBuffer::~RegValueBuffer()
{
    Free();
}

bool RegValueBuffer::Allocate(DWORD size)
{
    Free();
    if (!m_heap)
        return false;
    // A zero-byte value still gets a block, so the data pointer is never null
    // for a successful allocation.
    m_pData = static_cast<BYTE*>(HeapAlloc(m_heap.Get(), HEAP_ZERO_MEMORY, size ? size : 1));
    if (!m_pData)
        return false;
    m_dwSize = size;
    return true;
}

void RegValueBuffer::Free()
{
    if (m_pData)
        HeapFree(m_heap.Get(), 0, m_pData);
    m_pData = nullptr;
    m_dwSize = 0;
}

CRegistryHelper::CRegistryHelper(HKEY root) : m_hRoot(root) {}

CRegistryHelper::~CRegistryHelper() = default;

bool CRegistryHelper::WriteValue(const char* subkey, const char* name, const RegValueBuffer& value)
{
    CScopedKey key;
    if (RegCreateKeyExA(m_hRoot, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), name, 0, value.Type(), value.Data(), value.Size()) == ERROR_SUCCESS;
}

bool CRegistryHelper::WriteDword(const char* subkey, const char* name, const DWORD* value)
{
    if (!value)
        return false;
    RegValueBuffer buffer;
    if (!buffer.Allocate(sizeof(DWORD)))
        return false;
    memcpy(buffer.Data(), value, sizeof(DWORD));
    buffer.SetType(REG_DWORD);
    return WriteValue(subkey, name, buffer);
}

bool CRegistryHelper::WriteString(const char* subkey, const char* name, const char* text)
{
    if (!text)
        text = "";
    size_t length = strlen(text);
    if (length >= MAXDWORD)
        return false;
    RegValueBuffer buffer;
    if (!buffer.Allocate(static_cast<DWORD>(length + 1)))
        return false;
    memcpy(buffer.Data(), text, length + 1);
    buffer.SetType(REG_SZ);
    return WriteValue(subkey, name, buffer);
}

bool CRegistryHelper::ReadString(const char* subkey, const char* name, std::string& text)
{
    CScopedKey key;
    if (RegOpenKeyExA(m_hRoot, subkey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;

    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;

    RegValueBuffer buffer;
    if (!buffer.Allocate(size))
        return false;
    // The value may have grown between the two queries; then the second one
    // fails with ERROR_MORE_DATA and the read answers false.
    DWORD read = size;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, buffer.Data(), &read) != ERROR_SUCCESS)
        return false;
    key.Reset();
    buffer.SetType(type);

    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_LINK)
        return false;
    // The text ends at the first NUL, or with the data when there is none.
    const char* data = reinterpret_cast<const char*>(buffer.Data());
    size_t length = read <= size ? read : size;
    const void* nul = memchr(data, '\0', length);
    if (nul)
        length = static_cast<const char*>(nul) - data;
    text.assign(data, length);
    return true;
}
