// Which download program a DownLoadEnd mode asks for. The page's mode is
// compared with "S" by the runtime's multibyte comparison, as the page
// scripts of the service expect: anything that sorts before "S" (the empty
// mode, "D", "N", "0") means the plain download program, the rest ("S",
// "Speed", lower case, any double-byte character) the speed program.
// Pure string logic, any thread.
#pragma once

#include <string>

class CDownloadMode
{
public:
    static bool SelectsSpeed(const std::string& mode);
};
