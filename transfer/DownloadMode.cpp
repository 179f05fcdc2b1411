// The download-mode choice. Pure string logic, any thread.
#include "transfer/DownloadMode.h"

bool CDownloadMode::SelectsSpeed(const std::string& mode)
{
    // The runtime's multibyte comparison with "S" compares unsigned, a
    // double-byte character as lead * 256 + trail. Every lead byte (0x81 and
    // up) sorts above 'S', and anything after a first byte 'S' only makes the
    // mode longer, so the first byte alone decides. Deciding it here needs no
    // runtime locale: the one the browser's modules share stays as it is.
    return !mode.empty() && static_cast<unsigned char>(mode[0]) >= 'S';
}
