// The install check, the install subsystem's entry: called by the control's
// transfer and launcher methods on the page's thread, it returns only when the
// check is complete.
#pragma once

// True when a companion program's window is open, or when the install dialog
// found the package current or installed it.
bool RunInstallCheck(bool mainPackage);

// The main package and the Sp package.
inline bool EnsureInstalled() { return RunInstallCheck(true); }
inline bool EnsureSpInstalled() { return RunInstallCheck(false); }
