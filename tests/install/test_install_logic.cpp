// The install check's pure decisions: package table, install directory,
// version texts, the result digit and the progress line. No window, no server.
#include "harness/TestHarness.h"
#include "base/Folders.h"
#include "install/InstallLogic.h"

#include <shlwapi.h>

#include <cstring>

#include "BuildConfig.h"

static void test_package_table()
{
    const InstallPackage& main = PackageFor(true);
    ok(!strcmp(main.versionUrlPath, "/vude/ver.ini"), "main version URL %s", main.versionUrlPath);
    ok(!strcmp(main.serverCopyName, "_ver.ini"), "main server copy %s", main.serverCopyName);
    ok(!strcmp(main.localVersionName, "ver.ini"), "main local version %s", main.localVersionName);
    ok(!strcmp(main.setupUrlPath, "/vude/setup.exe"), "main setup URL %s", main.setupUrlPath);
    ok(!strcmp(main.setupName, "setup.exe"), "main setup %s", main.setupName);
    ok(!strcmp(main.resultName, "install_result"), "main result %s", main.resultName);

    const InstallPackage& sp = PackageFor(false);
    ok(!strcmp(sp.versionUrlPath, "/vude/spver.ini"), "Sp version URL %s", sp.versionUrlPath);
    ok(!strcmp(sp.serverCopyName, "_spver.ini"), "Sp server copy %s", sp.serverCopyName);
    ok(!strcmp(sp.localVersionName, "spver.ini"), "Sp local version %s", sp.localVersionName);
    ok(!strcmp(sp.setupUrlPath, "/vude/TavrineSSUp.exe"), "Sp setup URL %s", sp.setupUrlPath);
    ok(!strcmp(sp.setupName, "TavrineSSUp.exe"), "Sp setup %s", sp.setupName);
    ok(!strcmp(sp.resultName, "installsp_result"), "Sp result %s", sp.resultName);

    std::string url = UpdateUrl("/vude/ver.ini");
    ok(url == std::string(TAVRINE_UPDATE_URL) + "/vude/ver.ini", "URL %s", url.c_str());
    ok(url.find("//vude") == std::string::npos && url.find('?') == std::string::npos, "URL %s", url.c_str());
}

static void test_install_dir()
{
    ok(InstallDirFromProgramFiles("") == "C:\\Program Files\\Tavrine\\", "empty: %s",
       InstallDirFromProgramFiles("").c_str());
    ok(InstallDirFromProgramFiles(nullptr) == "C:\\Program Files\\Tavrine\\", "null");
    ok(InstallDirFromProgramFiles("D:/Apps/x") == "D:\\Apps\\x\\Tavrine\\", "slashes: %s",
       InstallDirFromProgramFiles("D:/Apps/x").c_str());
    ok(InstallDirFromProgramFiles("C:\\Program Files (x86)") == "C:\\Program Files (x86)\\Tavrine\\", "x86");
}

static void test_version_text()
{
    ok(VersionTextFromBytes("") == "", "empty");
    ok(VersionTextFromBytes("[ver]\r\nv=5\r\n") == "[ver]\r\nv=5\r\n", "plain text kept whole");
    ok(VersionTextFromBytes(std::string("abc\0xyz", 7)) == "abc", "text ends at the first NUL");
    ok(VersionTextFromBytes(std::string("\0abc", 4)).empty(), "leading NUL");

    std::string head(100, 'v');
    std::string a = head + "tail one";
    std::string b = head + "other tail";
    ok(VersionTextFromBytes(a) == head, "only 100 bytes count: %zu", VersionTextFromBytes(a).size());
    ok(VersionTextFromBytes(a) == VersionTextFromBytes(b), "differences after byte 100 are ignored");
    std::string c = head;
    c[99] = 'w';
    ok(VersionTextFromBytes(c + "x") != VersionTextFromBytes(a), "byte 100 still counts");
    // Korean text compares as bytes.
    ok(VersionTextFromBytes("\xb9\xf6\xc0\xfc 1") != VersionTextFromBytes("\xb9\xf6\xc0\xfc 2"), "CP949 text");
}

static void test_result_number()
{
    static const struct
    {
        const char* bytes;
        size_t size;
        int number;
    } cases[] = {
        {"0", 1, 0}, {"1", 1, 1}, {"9", 1, 9}, {"-1", 2, 0}, {"x", 1, 0}, {"", 0, 0},
        {"17", 2, 1}, {"\0" "5", 2, 0}, {" 3", 2, 0},
    };
    for (const auto& c : cases)
    {
        int n = ResultNumberFromBytes(std::string(c.bytes, c.size));
        ok(n == c.number, "result \"%.*s\" gives %d, expected %d", static_cast<int>(c.size), c.bytes, n, c.number);
        // The dialog ends with 1 whatever the file holds: the poll sends number + 1.
        ok(n + 1 != 0, "never zero");
    }
}

static std::string SizeText(ULONG bytes)
{
    char text[256] = "";
    StrFormatByteSizeA(bytes, text, sizeof(text));
    return text;
}

static void test_progress_line()
{
    ProgressDisplay d = BuildProgressDisplay(51200, 102400);
    std::string expected = "Downloaded.. " + SizeText(51200) + " of " + SizeText(102400) + "       ";
    ok(d.line == expected, "line \"%s\", expected \"%s\"", d.line.c_str(), expected.c_str());
    ok(d.percent == 50, "percent %d", d.percent);
    // Korean size units under the Korean locale ("50.0 KB", "532 바이트").
    ok(SizeText(532) == "532 \xb9\xd9\xc0\xcc\xc6\xae", "532 bytes: %s", SizeText(532).c_str());

    d = BuildProgressDisplay(12345, 0);
    ok(d.line == "Downloaded.. " + SizeText(12345), "no total: \"%s\"", d.line.c_str());
    ok(d.percent == 0, "no total: percent %d", d.percent);

    d = BuildProgressDisplay(0, 0);
    ok(d.line == "Downloaded.. " + SizeText(0) && d.percent == 0, "nothing yet: \"%s\" %d", d.line.c_str(), d.percent);

    d = BuildProgressDisplay(3000, 2000);
    ok(d.percent == 150, "received above total: %d", d.percent);
    d = BuildProgressDisplay(1, 3);
    ok(d.percent == 33, "cut towards zero: %d", d.percent);
    d = BuildProgressDisplay(2, 3);
    ok(d.percent == 66, "cut towards zero: %d", d.percent);
    // Counts beyond 2 GB are unsigned: no overflow, no negative percentage.
    d = BuildProgressDisplay(0xC0000000u, 0xFFFFFFFFu);
    ok(d.percent == 75, "large counts: %d", d.percent);
    // Far more received than announced: still a full bar, never a negative position.
    d = BuildProgressDisplay(0xFFFFFFFFu, 1);
    ok(d.percent > 100, "4 GB received of 1 byte announced: %d", d.percent);
    d = BuildProgressDisplay(2000000000u, 3);
    ok(d.percent > 100, "2 GB received of 3 bytes announced: %d", d.percent);
    d = BuildProgressDisplay(0xFFFFFFFFu, 0xFFFFFFFFu);
    ok(d.percent == 100, "full at 4 GB: %d", d.percent);
    ok(d.line.size() <= 255, "line fits its buffer: %zu", d.line.size());
}

TEST_MAIN(TEST(test_package_table), TEST(test_install_dir), TEST(test_version_text), TEST(test_result_number),
          TEST(test_progress_line))
