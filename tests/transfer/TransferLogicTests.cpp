// The transfer code that needs no window: the conversion of page text,
// job-text appends, what a call decides on text that was not held, job
// records, companion command lines and the download-mode choice.
#include <clocale>
#include <cstring>
#include <functional>
#include <mbctype.h>
#include <string>

#include "harness/TestHarness.h"
#include "transfer/CompanionCommandLine.h"
#include "transfer/Credentials.h"
#include "transfer/DownloadMode.h"
#include "transfer/JobRecord.h"
#include "transfer/JobText.h"
#include "transfer/PageCalls.h"

// Held exactly, byte for byte, or not at all: never a best fit (e to e, the
// won sign to a backslash) and never a default character. UTF-7 takes no
// conversion flags, so its check is the round trip alone.
static void test_text_held()
{
    struct Case
    {
        UINT codePage;
        const wchar_t* text;
        bool held;
        const char* bytes;
    };
    const Case cases[] = {
        {949, L"user 1", true, "user 1"},
        {949, L"C:\\Down\\\xD55C\xAE00.txt", true, "C:\\Down\\\xC7\xD1\xB1\xDB.txt"},   // 한글
        {949, L"\xFF33", true, "\xA3\xD3"},          // a fullwidth S is a character of 949
        {949, L"caf\x00E9", false, ""},                // e-acute would be e
        {949, L"\x00A5", false, ""},                   // the yen sign would be the fullwidth one
        {949, L"\xAC00\x20A9" L"1000.txt", false, ""}, // the won sign would be a backslash
        {949, L"\xD83D\xDE00", false, ""},             // an emoji would be ??
        {949, L"\x4E02.txt", false, ""},               // a Han character outside 949
        {949, L"a\x00A0" L"b", false, ""},            // no-break space
        {949, L"P\x00E4ssw\x00F6rd\x20AC\xD83D\xDE00", false, ""},
        {1252, L"caf\x00E9", true, "caf\xE9"},
        {1252, L"\xFF33", false, ""},                  // would be S
        {1252, L"\x20A9", false, ""},
        {CP_UTF8, L"P\x00E4ss\xD83D\xDE00", true, "P\xC3\xA4ss\xF0\x9F\x98\x80"},
        {CP_UTF8, L"a\xD800", false, ""},              // a lone surrogate would be U+FFFD
        {CP_UTF7, L"a+b caf\x00E9", true, "a+-b caf+AOk-"},
        {949, L"", true, ""},
        {949, nullptr, true, ""},
    };
    for (const Case& c : cases)
    {
        NarrowText got = WideToNarrowText(c.text, c.codePage);
        ok(got.held == c.held && got.text == c.bytes, "code page %u, %ls: held %d \"%s\", expected %d \"%s\"\n",
           c.codePage, c.text ? c.text : L"(null)", got.held, got.text.c_str(), c.held, c.bytes);
    }
    // A browser's UTF-8 reaches the same answer through UTF-16.
    NarrowText won = Utf8ToNarrow("\xEA\xB0\x80\xE2\x82\xA9" "1000", 949);
    ok(!won.held && won.text.empty(), "UTF-8 won sign: held %d \"%s\"\n", won.held, won.text.c_str());
    NarrowText korean = Utf8ToNarrow("\xED\x95\x9C\xEA\xB8\x80", 949);
    ok(korean.held && korean.text == "\xC7\xD1\xB1\xDB", "UTF-8 Korean: \"%s\"\n", korean.text.c_str());
    ok(!Utf8ToNarrow("\xC3\x28", 949).held, "bytes that are not UTF-8 are not held\n");
}

// Reports go the other way: the narrow text as the code page reads it, the
// plain ASCII ones byte by byte, where that is the same reading.
static void test_text_to_bstr()
{
    struct Case
    {
        UINT codePage;
        const char* bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {CP_ACP, "C:\\Down\\a.txt", L"C:\\Down\\a.txt"},
        {949, "C:\\Down\\\xC7\xD1\xB1\xDB.txt", L"C:\\Down\\\xD55C\xAE00.txt"},
        {1252, "caf\xE9", L"caf\x00E9"},
        {CP_UTF8, "P\xC3\xA4ss", L"P\x00E4ss"},
        {CP_UTF7, "a+AOk-b", L"a\x00E9" L"b"},   // ASCII bytes that UTF-7 does not read as themselves
        {949, "", L""},
    };
    for (const Case& c : cases)
    {
        CBstr got;
        got.Reset(NarrowToBstr(c.bytes, c.codePage));
        ok(got.Get() && got.Length() == wcslen(c.text) && wcscmp(got.Get(), c.text) == 0,
           "code page %u, \"%s\": %ls\n", c.codePage, c.bytes, got.Get() ? got.Get() : L"(null)");
    }
}

// Text that was not held: the call declines before it stores, checks or
// writes anything, and an item spoils its batch until the next Init.
static void test_calls_on_unheld_text()
{
    const NarrowText held = {"ok", true};
    const NarrowText unheld = {"", false};
    std::string installDir = "C:\\nowhere\\", upList = "C:\\nowhere\\up", downList = "C:\\nowhere\\down";
    PageJobPlaces places = {installDir, upList, downList, nullptr};
    int checks = 0;
    InstallCheck check = [&checks]() {
        ++checks;
        return false;
    };
    JobBatch batch;
    JobBatch spoiled;
    CPageCalls::AddUploadItem(spoiled, held);
    ok(!CPageCalls::AddUploadItem(spoiled, unheld) && spoiled.spoiled && spoiled.text == "ok",
       "an item not held spoils the batch and adds nothing: \"%s\"\n", spoiled.text.c_str());
    JobBatch spoiledPair;
    ok(!CPageCalls::AddDownloadPair(spoiledPair, held, unheld) && spoiledPair.spoiled && spoiledPair.text.empty(),
       "a path not held spoils the download batch\n");
    JobBatch spoiledIdx;
    ok(!CPageCalls::AddDownloadPair(spoiledIdx, unheld, held) && spoiledIdx.spoiled, "so does an index\n");
    CPageCalls::AddUploadItem(batch, held);

    std::string link = "earlier link";
    struct Row
    {
        const char* call;
        std::function<bool()> run;
    };
    const Row rows[] = {
        {"UpLoadEnd, user ID", [&] { return CPageCalls::EndUpload(unheld, held, batch, places, check); }},
        {"UpLoadEnd, password", [&] { return CPageCalls::EndUpload(held, unheld, batch, places, check); }},
        {"UpLoadEnd, spoiled batch", [&] { return CPageCalls::EndUpload(held, held, spoiled, places, check); }},
        {"DownLoadEnd, password",
         [&] { return CPageCalls::EndDownload(held, unheld, held, batch, places, check); }},
        {"DownLoadEnd, mode", [&] { return CPageCalls::EndDownload(held, held, unheld, batch, places, check); }},
        {"DownLoadEnd, spoiled batch",
         [&] { return CPageCalls::EndDownload(held, held, held, spoiledPair, places, check); }},
        {"LauncherExplorer, user ID", [&] { return CPageCalls::LaunchExplorer(unheld, held, places, check); }},
        {"LauncherWebLink, password",
         [&] { return CPageCalls::PassWebLink(held, unheld, held, link, places, check); }},
        {"LauncherWebLink, link", [&] { return CPageCalls::PassWebLink(held, held, unheld, link, places, check); }},
        {"AllowPopUp", [&] { return CPageCalls::AllowPopUp(unheld); }},
    };
    for (const Row& row : rows)
    {
        PageCredentials() = {"stored-id", "stored-pw"};
        checks = 0;
        bool went = row.run();
        ok(!went && checks == 0 && PageCredentials().strUserID == "stored-id" &&
               PageCredentials().strUserPW == "stored-pw" && link == "earlier link",
           "%s: went %d, checks %d, credentials %s/%s, link \"%s\"\n", row.call, went, checks,
           PageCredentials().strUserID.c_str(), PageCredentials().strUserPW.c_str(), link.c_str());
    }
    // Held text goes on as before: the check runs (and fails here).
    ok(!CPageCalls::EndUpload(held, held, batch, places, check) && checks == 1 &&
           PageCredentials().strUserID == "ok",
       "held text is stored and checked\n");
    CPageCalls::BeginBatch(spoiled);
    ok(!spoiled.spoiled && spoiled.text.empty(), "Init begins a batch that is not spoiled\n");
}

static void test_job_text()
{
    std::string up;
    CJobText::AppendItem(up, "a");
    CJobText::AppendItem(up, "b");
    ok(up == "a#>b", "got %s\n", up.c_str());
    CJobText::AppendItem(up, "");
    ok(up == "a#>b#>", "an empty item keeps its separator: %s\n", up.c_str());

    std::string first;
    CJobText::AppendItem(first, "");
    ok(first.empty(), "an empty item on an empty text adds nothing: %s\n", first.c_str());
    CJobText::AppendItem(first, "b");
    ok(first == "b", "no separator in front of the first real item: %s\n", first.c_str());

    std::string tricky;
    CJobText::AppendItem(tricky, "x#>y#<z");
    ok(tricky == "x#>y#<z", "items are stored unescaped: %s\n", tricky.c_str());

    std::string down;
    CJobText::AppendPair(down, "", "");
    ok(down == "#<", "got %s\n", down.c_str());
    CJobText::AppendPair(down, "", "");
    ok(down == "#<#>#<", "got %s\n", down.c_str());

    std::string pairs;
    CJobText::AppendPair(pairs, "12", "C:\\Down\\a.txt");
    CJobText::AppendPair(pairs, "15", "C:\\Down\\b c.txt");
    ok(pairs == "12#<C:\\Down\\a.txt#>15#<C:\\Down\\b c.txt", "got %s\n", pairs.c_str());
    std::string onlyIdx;
    CJobText::AppendPair(onlyIdx, "7", "");
    ok(onlyIdx == "7#<", "got %s\n", onlyIdx.c_str());
}

static void test_job_text_growth()
{
    // Appending must stay linear: count how often the buffer moves.
    std::string text;
    int moves = 0;
    const char* data = text.data();
    for (int i = 0; i < 200000; ++i)
    {
        CJobText::AppendItem(text, "12345");
        if (text.data() != data)
        {
            ++moves;
            data = text.data();
        }
    }
    ok(text.size() == 200000 * 5 + 199999 * 2, "size %u\n", static_cast<unsigned>(text.size()));
    ok(moves < 40, "the text was reallocated %d times\n", moves);
}

static uint32_t LittleEndianAt(const std::string& bytes, size_t at)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static void test_job_record()
{
    std::string record = CJobRecord::Build(CJobRecord::kUpload, "a#>b", 0x89ABCDEF);
    static const char expected[] = "\x02\0\0\0\x05\0\0\0\xEF\xCD\xAB\x89" "a#>b";
    ok(record.size() == 17, "size %u\n", static_cast<unsigned>(record.size()));
    ok(record == std::string(expected, sizeof(expected)), "the bytes differ\n");

    std::string empty = CJobRecord::Build(CJobRecord::kWebLink, "", 0);
    ok(empty.size() == 13 && LittleEndianAt(empty, 0) == 8 && LittleEndianAt(empty, 4) == 1 && empty[12] == '\0',
       "an empty text is one NUL byte\n");

    std::string korean = "\xC7\xD1\xB1\xDB#<C:\\\xC7\xD1.txt";   // 한글#<C:\한.txt in CP949
    std::string download = CJobRecord::Build(CJobRecord::kDownload, korean, 1);
    ok(LittleEndianAt(download, 0) == 7, "kind %u\n", LittleEndianAt(download, 0));
    ok(LittleEndianAt(download, 4) == korean.size() + 1, "length %u\n", LittleEndianAt(download, 4));
    ok(download.compare(12, std::string::npos, korean + '\0') == 0, "text bytes differ\n");
    ok(CJobRecord::kHeaderSize == 12, "header %u\n", static_cast<unsigned>(CJobRecord::kHeaderSize));
}

static void test_command_line()
{
    std::string path = "C:\\Documents and Settings\\user\\Local Settings\\Temp\\Tavrine_Upload_List";
    std::string encoded = CCompanionCommandLine::EncodeSpaces(path);
    ok(encoded == "C:\\Documents[[SPACE]]and[[SPACE]]Settings\\user\\Local[[SPACE]]Settings\\Temp\\Tavrine_Upload_List",
       "got %s\n", encoded.c_str());
    ok(CCompanionCommandLine::EncodeSpaces("C:\\Temp\\x") == "C:\\Temp\\x", "a path without spaces is unchanged\n");
    ok(CCompanionCommandLine::EncodeSpaces("  ") == "[[SPACE]][[SPACE]]", "every space is replaced\n");
    ok(CCompanionCommandLine::EncodeSpaces("a\tb") == "a\tb", "only 0x20 is replaced\n");

    std::string id = "user", pw = "p@ss%s", list = "C:\\x[[SPACE]]y";
    std::string parameters = CCompanionCommandLine::Format("bbs %s %s %s", {&id, &pw, &list});
    ok(parameters == "bbs user p@ss%s C:\\x[[SPACE]]y", "values are not formats themselves: %s\n", parameters.c_str());
    parameters = CCompanionCommandLine::Format("weblink %s %s %s", {&id, &pw, &list});
    ok(parameters == "weblink user p@ss%s C:\\x[[SPACE]]y", "got %s\n", parameters.c_str());
    parameters = CCompanionCommandLine::Format("%s %s", {&id, &pw});
    ok(parameters == "user p@ss%s", "got %s\n", parameters.c_str());
    std::string longId(5000, 'u');
    parameters = CCompanionCommandLine::Format("%s %s", {&longId, &pw});
    ok(parameters.size() == 5000 + 1 + pw.size(), "no length limit: %u\n", static_cast<unsigned>(parameters.size()));

    struct Case
    {
        const char* value;
        bool safe;
    };
    static const Case cases[] = {
        {"user", true}, {"\xC8\xAB\xB1\xE6\xB5\xBF", true}, {"a@b.c!#$%&'()*+,-./:;<=>?[\\]^_`{|}~", true},
        {"", false},    {"a b", false}, {"a\tb", false}, {"a\"b", false}, {"a\nb", false},
        {"a\rb", false}, {"\x01", false}, {"a\x7F", false}, {" ", false},
    };
    for (const Case& c : cases)
        ok(CCompanionCommandLine::IsSafeCredential(c.value) == c.safe, "\"%s\": expected %d\n", c.value, c.safe);
}

static void check_modes(const char* when)
{
    static const char* const plain[] = {"", "D", "N", "0", "R", "Rzzz", "A", "\x01", "RZ\xB0\xA1"};
    static const char* const speed[] = {"S", "Speed", "s", "T", "Sa", "\xB0\xA1", "\xC7\xD1\xB1\xDB", "z", "\xFF",
                                        "\xB0"};
    for (const char* mode : plain)
        ok(!CDownloadMode::SelectsSpeed(mode), "%s: \"%s\" should choose the download program\n", when, mode);
    for (const char* mode : speed)
        ok(CDownloadMode::SelectsSpeed(mode), "%s: \"%s\" should choose the speed program\n", when, mode);
    // Only the first byte decides, whatever follows it.
    for (int lead = 1; lead < 256; ++lead)
    {
        for (int next : {0, int('A'), 0xA1, 0xFE})
        {
            char mode[3] = {static_cast<char>(lead), static_cast<char>(next), 0};
            bool wanted = lead >= 'S';
            if (CDownloadMode::SelectsSpeed(mode) != wanted)
                ok(false, "%s: mode %02x %02x chose %s\n", when, lead, next, wanted ? "download" : "speed");
        }
    }
}

static void test_download_mode()
{
    trace("multibyte code page at start: %d\n", _getmbcp());
    check_modes("start-up locale");
    const char* locale = setlocale(LC_ALL, "Korean");
    ok(locale != nullptr, "setlocale(LC_ALL, \"Korean\") failed\n");
    trace("setlocale(LC_ALL, \"Korean\") = %s, multibyte code page %d\n", locale ? locale : "(null)", _getmbcp());
    check_modes("Korean locale");
    _setmbcp(_MB_CP_SBCS);
    check_modes("single-byte code page");
    setlocale(LC_ALL, "C");
    _setmbcp(_MB_CP_ANSI);
}

TEST_MAIN(TEST(test_text_held), TEST(test_text_to_bstr), TEST(test_calls_on_unheld_text), TEST(test_job_text), TEST(test_job_text_growth),
          TEST(test_job_record), TEST(test_command_line),
          TEST(test_download_mode))
