// The install check behind CVedADA::EnsureInstalled and EnsureSpInstalled.
// Runs on the page's thread and returns only when the check is complete.
#pragma once

// True when a companion program's window is open, or when the install dialog
// found the package current or installed it (end code 1).
bool RunInstallCheck(bool mainPackage);
