// Path arithmetic of the file picker: joining a name to a folder, going up
// one level and forming search patterns. Paths are narrow text in an ANSI
// code page, so every backslash search steps over double-byte characters.
// Pure functions, safe on any thread.
#pragma once

#include <windows.h>
#include <string>

namespace PickerPath
{
// The picker's fixed path field holds at most this many bytes plus a NUL.
constexpr size_t kMaxPathBytes = MAX_PATH - 1;

// Index of the last backslash that is a character of its own in codePage
// (never the trail byte of a double-byte character), or npos.
size_t LastBackslash(const std::string& path, UINT codePage);

// Whether the last character of path is a backslash.
bool EndsWithBackslash(const std::string& path, UINT codePage);

// folder, a backslash unless it already ends with one, then name.
std::string Join(const std::string& folder, const std::string& name, UINT codePage);

// One level up: drop one trailing backslash, then cut just after the last
// backslash (which stays); "" when there is none. C:\A\B gives C:\A\ and
// C:\A\ gives C:\.
std::string Up(const std::string& folder, UINT codePage);

// The enumeration pattern of a folder: Join(folder, "*.*").
std::string SearchPattern(const std::string& folder, UINT codePage);

// Whether two folders are the same place, ignoring one trailing backslash on
// either side (C:\Desk and C:\Desk\ are; C:\ and C: are too).
bool SamePlace(const std::string& a, const std::string& b, UINT codePage);

// The absolute, normalised folder part of a search pattern (GetFullPathNameA
// cut at its last backslash, without it), e.g. C:\Data\*.* gives C:\Data and
// C:\*.* gives C:. False when the pattern cannot be resolved.
bool PatternFolder(const std::string& pattern, UINT codePage, std::string& folder);
}
