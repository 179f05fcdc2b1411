// The download-mode choice. Pure string logic, any thread.
#include "transfer/DownloadMode.h"

#include <mbstring.h>

bool CDownloadMode::SelectsSpeed(const std::string& mode)
{
    // _mbscmp compares unsigned, a double-byte character as lead * 256 + trail,
    // so only the first byte decides unless it is 'S' itself: the result is the
    // same whether or not the Korean multibyte code page is in force.
    return _mbscmp(reinterpret_cast<const unsigned char*>(mode.c_str()),
                   reinterpret_cast<const unsigned char*>("S")) >= 0;
}
