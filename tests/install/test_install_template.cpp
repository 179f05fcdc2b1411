// The install dialog's template as the control DLL holds it: resource 203 of
// type RT_DIALOG in Korean, an extended template of exactly 184 bytes whose
// fields are read back one by one.
#include "harness/DialogTemplate.h"
#include "harness/TestHarness.h"
#include "resource.h"

static void test_install_template()
{
    HMODULE dll = LoadLibraryExA(TestDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ok(dll != nullptr, "cannot load %s: %lu", TestDllPath().c_str(), GetLastError());
    if (!dll)
        return;
    HRSRC res = FindResourceExA(dll, RT_DIALOG, MAKEINTRESOURCEA(IDD_INSTALL),
                                MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN));
    ok(res != nullptr, "no Korean RT_DIALOG 203: %lu", GetLastError());
    if (!res)
    {
        FreeLibrary(dll);
        return;
    }
    DWORD size = SizeofResource(dll, res);
    ok(size == 184, "template is %lu bytes", size);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(dll, res)));
    ok(data != nullptr, "template not loaded");
    if (!data)
    {
        FreeLibrary(dll);
        return;
    }

    CTemplateReader r(data, size);
    ok(r.Word() == 1, "dialog version");
    ok(r.Word() == 0xFFFF, "signature");
    ok(r.Dword() == 0, "help id");
    DWORD exStyle = r.Dword();
    ok(exStyle == WS_EX_APPWINDOW, "extended style %#lx", exStyle);
    DWORD style = r.Dword();
    ok(style == 0x90C008C8, "style %#lx", style);
    ok(style == (WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_CENTER | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS),
       "style flags %#lx", style);
    ok(!(style & WS_SYSMENU), "no close box");
    WORD count = r.Word();
    ok(count == 2, "%u controls", count);
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    ok(x == 0 && y == 0 && cx == 193 && cy == 42, "rect %d,%d %dx%d", x, y, cx, cy);
    ok(r.Word() == 0, "no menu");
    ok(r.Word() == 0, "default class");
    ok(r.Text() == L"\xC790\xB3D9\xC124\xCE58 / \xC5C5\xB370\xC774\xD2B8", "caption");
    WORD points = r.Word(), weight = r.Word();
    BYTE italic = r.Byte(), charset = r.Byte();
    ok(points == 8 && weight == 400 && italic == 0 && charset == 1, "font %u/%u/%u/%u", points, weight, italic,
       charset);
    ok(r.Text() == L"MS Shell Dlg", "face");

    DialogItem bar = ReadDialogItem(r);
    ok(bar.id == IDC_INSTALL_PROGRESS, "first control %lu", bar.id);
    ok(bar.helpId == 0 && bar.exStyle == 0, "bar help %lu ex %#lx", bar.helpId, bar.exStyle);
    ok(bar.style == 0x50000001, "bar style %#lx", bar.style);
    ok(bar.x == 6 && bar.y == 6 && bar.cx == 180 && bar.cy == 12, "bar rect %d,%d %dx%d", bar.x, bar.y, bar.cx,
       bar.cy);
    ok(bar.className == L"msctls_progress32", "bar class %ls", bar.className.c_str());
    ok(bar.text.empty() && bar.extra == 0, "bar text and data");

    DialogItem status = ReadDialogItem(r);
    ok(status.id == IDC_INSTALL_STATUS, "second control %lu", status.id);
    ok(status.helpId == 0 && status.exStyle == 0, "status help %lu ex %#lx", status.helpId, status.exStyle);
    ok(status.style == 0x50020000, "status style %#lx", status.style);
    ok(status.x == 6 && status.y == 25 && status.cx == 180 && status.cy == 8, "status rect %d,%d %dx%d", status.x,
       status.y, status.cx, status.cy);
    ok(status.className == L"#130", "status class %ls (0x82 is a static)", status.className.c_str());
    ok(status.text.empty() && status.extra == 0, "status text and data");

    ok(!r.Failed() && r.Position() == 184, "template ends at %lu (overrun %d)", r.Position(), r.Failed());
    FreeLibrary(dll);
}

TEST_MAIN(TEST(test_install_template))
