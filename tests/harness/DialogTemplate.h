// Reads an extended dialog template (DLGTEMPLATEEX and its items) field by
// field, the way the dialog manager does, for the tests that check the
// templates the control DLL holds. Test code only; any thread.
#pragma once

#include <windows.h>
#include <cstring>
#include <string>

class CTemplateReader
{
public:
    CTemplateReader(const BYTE* data, DWORD size) : m_pData(data), m_dwSize(size) {}
    // A read past the end gives 0 and marks the reader failed.
    bool Failed() const { return m_bFailed; }
    DWORD Position() const { return m_dwPos; }
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    // A name or an ordinal (0xFFFF then the number, returned as "#n").
    std::wstring NameOrOrdinal();
    // A NUL-terminated UTF-16 string.
    std::wstring Text();
    void Align(DWORD to) { m_dwPos = (m_dwPos + to - 1) & ~(to - 1); }
    void Skip(DWORD bytes) { m_dwPos += bytes; }

private:
    template <typename T>
    T Take()
    {
        T value{};
        if (m_dwPos + sizeof(T) > m_dwSize)
        {
            m_bFailed = true;
            return value;
        }
        memcpy(&value, m_pData + m_dwPos, sizeof(T));
        m_dwPos += sizeof(T);
        return value;
    }

    const BYTE* m_pData;
    DWORD m_dwSize;
    DWORD m_dwPos = 0;
    bool m_bFailed = false;
};

// One DLGITEMTEMPLATEEX. A predefined class comes as its ordinal ("#130" is a static).
struct DialogItem
{
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring className;
    std::wstring text;
    WORD extra;   // bytes of creation data, skipped
};

DialogItem ReadDialogItem(CTemplateReader& r);
