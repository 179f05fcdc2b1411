// CShellIcons: the picker's own small-icon list. It holds the parent-entry
// picture and a copy of each shell icon the rows use, and finds the shell
// icon of an entry without asking the shell about every single file. Used
// on the picker's thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <map>
#include <string>
#include <vector>

class CShellIcons
{
public:
    CShellIcons() = default;
    ~CShellIcons();
    CShellIcons(const CShellIcons&) = delete;
    CShellIcons& operator=(const CShellIcons&) = delete;

    // Makes the list, sized like the shell's small icons, with the bitmap
    // (magenta is transparent) as its first picture.
    bool Create(HINSTANCE instance, WORD bitmapId);
    HIMAGELIST List() const { return m_hIcons; }
    int ParentIndex() const { return m_nParent; }

    // Index in this list of the entry's shell icon, or -1.
    int FolderIcon(const std::string& path, DWORD attributes);
    int FileIcon(const std::string& path, const std::string& name);

private:
    int ShellIndexOfPath(const std::string& path) const;
    int ShellIndexOfName(const std::string& name, DWORD attributes) const;
    int Copy(int shellIndex);

    HIMAGELIST m_hSystemIcons = nullptr;   // the shell's; never changed
    HIMAGELIST m_hIcons = nullptr;         // owned
    int m_nParent = -1;
    std::vector<int> m_copies;             // shell index -> index here, -1 until copied
    int m_nPlainFolder = -2;               // shell index of a plain folder, -2 until known
    // Per lower-case extension: the shell index every such file shares, or
    // -1 when files of the kind carry icons of their own.
    std::map<std::string, int> m_byExtension;
};
