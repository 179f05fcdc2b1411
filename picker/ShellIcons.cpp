// The picker's icon list. Asking the shell about a file by its path reads
// the file (and under some systems takes milliseconds), so the path is asked
// only where the icon may belong to the file itself.
#include "picker/ShellIcons.h"

#include <shellapi.h>
#include <cstring>

#include "base/Shared.h"

namespace
{
// Kinds whose files carry, or point to, an icon of their own.
const char* const kOwnIconKinds[] = {"exe", "lnk", "ico", "cur", "ani", "dll", "scr", "cpl", "url", "pif", "msi"};

std::string LowerExtension(const std::string& name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}
}

CShellIcons::~CShellIcons()
{
    if (m_hIcons)
        ImageList_Destroy(m_hIcons);
}

bool CShellIcons::Create(HINSTANCE instance, WORD bitmapId)
{
    // The shell's own small-icon list is only read: the shell keeps its small
    // and large lists at the same indices, and one image added to the small
    // list makes every icon it caches afterwards show the wrong picture.
    SHFILEINFOA info = {};
    m_hSystemIcons = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        "*.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON));
    int cx = 16, cy = 16;
    if (m_hSystemIcons)
        ImageList_GetIconSize(m_hSystemIcons, &cx, &cy);
    m_hIcons = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, 16, 64);
    if (!m_hIcons)
        return false;
    CScopedGdiObject bitmap(LoadImageA(instance, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, cx, cy, 0));
    if (bitmap)
        m_nParent = ImageList_AddMasked(m_hIcons, static_cast<HBITMAP>(bitmap.Get()), RGB(255, 0, 255));
    return true;
}

int CShellIcons::ShellIndexOfPath(const std::string& path) const
{
    // A failed lookup leaves the index 0.
    SHFILEINFOA info = {};
    SHGetFileInfoA(path.c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    return info.iIcon;
}

int CShellIcons::ShellIndexOfName(const std::string& name, DWORD attributes) const
{
    SHFILEINFOA info = {};
    SHGetFileInfoA(name.c_str(), attributes, &info, sizeof(info),
                   SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
    return info.iIcon;
}

int CShellIcons::Copy(int shellIndex)
{
    if (!m_hSystemIcons || !m_hIcons || shellIndex < 0 || shellIndex >= ImageList_GetImageCount(m_hSystemIcons))
        return -1;
    if (static_cast<size_t>(shellIndex) >= m_copies.size())
        m_copies.resize(shellIndex + 1, -1);
    int& copy = m_copies[shellIndex];
    if (copy < 0)
    {
        HICON icon = ImageList_GetIcon(m_hSystemIcons, shellIndex, ILD_TRANSPARENT);
        if (icon)
        {
            copy = ImageList_ReplaceIcon(m_hIcons, -1, icon);
            DestroyIcon(icon);
        }
    }
    return copy;
}

int CShellIcons::FolderIcon(const std::string& path, DWORD attributes)
{
    // Only a read-only or system folder can have an icon of its own (desktop.ini).
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))
        return Copy(ShellIndexOfPath(path));
    if (m_nPlainFolder == -2)
        m_nPlainFolder = ShellIndexOfPath(path);
    return Copy(m_nPlainFolder);
}

int CShellIcons::FileIcon(const std::string& path, const std::string& name)
{
    std::string extension = LowerExtension(name);
    for (const char* kind : kOwnIconKinds)
        if (extension == kind)
            return Copy(ShellIndexOfPath(path));
    auto known = m_byExtension.find(extension);
    if (known == m_byExtension.end())
    {
        // The first file of a kind decides: when its own icon is the kind's
        // icon, the other files of the kind share it.
        int own = ShellIndexOfPath(path);
        int shared = ShellIndexOfName(name, FILE_ATTRIBUTE_NORMAL);
        m_byExtension[extension] = own == shared ? shared : -1;
        return Copy(own);
    }
    return Copy(known->second >= 0 ? known->second : ShellIndexOfPath(path));
}
