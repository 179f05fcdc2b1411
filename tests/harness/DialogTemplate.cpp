// The dialog template reader of the tests.
#include "harness/DialogTemplate.h"

std::wstring CTemplateReader::NameOrOrdinal()
{
    Align(2);
    if (m_dwPos + 2 <= m_dwSize && *reinterpret_cast<const WORD*>(m_pData + m_dwPos) == 0xFFFF)
    {
        Word();
        return L"#" + std::to_wstring(Word());
    }
    return Text();
}

std::wstring CTemplateReader::Text()
{
    Align(2);
    std::wstring text;
    for (WORD c; (c = Word()) != 0 && !m_bFailed;)
        text += static_cast<wchar_t>(c);
    return text;
}

DialogItem ReadDialogItem(CTemplateReader& r)
{
    DialogItem item = {};
    r.Align(4);
    item.helpId = r.Dword();
    item.exStyle = r.Dword();
    item.style = r.Dword();
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = r.Dword();
    item.className = r.NameOrOrdinal();
    item.text = r.NameOrOrdinal();
    item.extra = r.Word();
    r.Skip(item.extra);
    return item;
}
