// The registry-script interpreter against a scratch key: the control's own
// scripts, markers, quoting, replacements and the roll-back of a failed run.
#include <windows.h>
#include <shlwapi.h>
#include <fstream>
#include <sstream>
#include <string>

#include "control/Registrar.h"
#include "control/RgsScript.h"
#include "harness/TestHarness.h"

namespace
{
const char kScratch[] = "Software\\TavrineRgsTest";

struct CScratch
{
    HKEY root = nullptr;
    CScratch()
    {
        SHDeleteKeyA(HKEY_CURRENT_USER, kScratch);
        RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
    }
    ~CScratch()
    {
        RegCloseKey(root);
        SHDeleteKeyA(HKEY_CURRENT_USER, kScratch);
    }
};

std::string ReadSource(const char* relative)
{
    std::string path = WindowsPathOf(EnvOr("TAVRINE_SOURCE_DIR")) + "\\" + relative;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok(!text.str().empty(), "could not read %s\n", path.c_str());
    return text.str();
}

bool Exists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string Value(HKEY root, const std::string& path, const char* name)
{
    char buffer[512] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    LONG lr = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return lr == ERROR_SUCCESS && type == REG_SZ ? std::string(buffer) : "<missing>";
}

DWORD Subkeys(HKEY root)
{
    DWORD count = 0;
    RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    return count;
}

void Prepare(CRegistrar& registrar, HKEY scratch, const std::string& module)
{
    registrar.RedirectRoot(HKEY_CLASSES_ROOT, scratch);
    registrar.AddReplacement("Module", CRgsScript::QuoteForScript(module));
    registrar.AddReplacement("Module_Raw", module);
    registrar.AddReplacement("APPID", "{42A53189-BB2C-4BDC-93DC-0D2656DC578B}");
}
}

static void test_rgs_parser()
{
    CRgsScript script;
    script.AddReplacement("Name", "it''s");
    std::vector<RgsRoot> roots;
    std::string error;
    bool parsed = script.Parse("HKCR { NoRemove A { ForceRemove 'B c' = s '%NAME%' { val V = d 7 } "
                               "Delete D 'E' } }",
                               roots, error);
    ok(parsed, "parse failed: %s\n", error.c_str());
    if (parsed && roots.size() == 1 && roots[0].keys.size() == 1)
    {
        const RgsNode& a = roots[0].keys[0];
        ok(a.name == "A" && a.marker == RgsNode::Marker::NoRemove && a.children.size() == 3, "key A wrong\n");
        const RgsNode& b = a.children[0];
        ok(b.name == "B c" && b.marker == RgsNode::Marker::ForceRemove, "quoted key name wrong: %s\n", b.name.c_str());
        ok(b.hasValue && b.value == "it's", "replacement or quote doubling wrong: %s\n", b.value.c_str());
        ok(b.children.size() == 1 && b.children[0].isNamedValue && b.children[0].valueType == 'd' &&
               b.children[0].value == "7",
           "named number value wrong\n");
        ok(a.children[1].marker == RgsNode::Marker::Delete && a.children[2].name == "E", "siblings wrong\n");
    }
    else
    {
        ok(false, "unexpected tree shape\n");
    }

    static const char* broken[] = {"HKCR { A = s 'unterminated }", "HKCR { A { }", "HKCR A", "HKCR { = }",
                                   "HKCR { A = x 'y' }", "HKCR { A = s '%UNKNOWN%' }", "HKCR { val = s 'x' }"};
    for (const char* text : broken)
    {
        std::vector<RgsRoot> none;
        ok(!script.Parse(text, none, error), "malformed script accepted: %s\n", text);
    }
    ok(script.Parse("HKCR { 'a%%b' }", roots, error) && roots[0].keys[0].name == "a%b", "%%%% not a percent sign\n");
    ok(CRgsScript::QuoteForScript("C:\\it's\\x.dll") == "C:\\it''s\\x.dll", "quote doubling wrong\n");
}

static void test_control_scripts_round_trip()
{
    CScratch scratch;
    // A module path with a quote and Korean text must come back unchanged.
    const std::string module = "C:\\Program Files\\O'Brien \xc7\xd1\xb1\xdb\\TavrineControl.DLL";
    CRegistrar registrar;
    Prepare(registrar, scratch.root, module);
    std::string appidScript = ReadSource("resources/AppID.rgs");
    std::string classScript = ReadSource("resources/VedADA.rgs");

    HRESULT hr = registrar.RunScript(appidScript, true);
    ok(hr == S_OK, "AppID script returned %#lx\n", hr);
    hr = registrar.RunScript(classScript, true);
    ok(hr == S_OK, "class script returned %#lx\n", hr);

    const std::string clsid = "CLSID\\{DA21C137-7D1C-46B7-96AB-2251998EC23C}";
    ok(Value(scratch.root, clsid + "\\InprocServer32", nullptr) == module, "module path stored as %s\n",
       Value(scratch.root, clsid + "\\InprocServer32", nullptr).c_str());
    ok(Value(scratch.root, clsid + "\\InprocServer32", "ThreadingModel") == "Apartment", "threading model wrong\n");
    ok(Value(scratch.root, clsid, "AppID") == "{42A53189-BB2C-4BDC-93DC-0D2656DC578B}", "AppID value wrong\n");
    ok(Exists(scratch.root, clsid + "\\Programmable"), "Programmable missing\n");
    ok(Value(scratch.root, "AppID\\TavrineControl.DLL", "AppID") == "{42A53189-BB2C-4BDC-93DC-0D2656DC578B}",
       "AppID entry wrong\n");

    // ForceRemove clears the class key, NoRemove keeps CLSID itself.
    HKEY stray = nullptr;
    RegCreateKeyExA(scratch.root, (clsid + "\\Stray").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &stray, nullptr);
    RegCloseKey(stray);
    HKEY other = nullptr;
    RegCreateKeyExA(scratch.root, "CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr, 0, KEY_WRITE, nullptr,
                    &other, nullptr);
    RegCloseKey(other);
    ok(registrar.RunScript(classScript, true) == S_OK, "re-registration failed\n");
    ok(!Exists(scratch.root, clsid + "\\Stray"), "ForceRemove kept a stray subkey\n");

    ok(registrar.RunScript(classScript, false) == S_OK, "class unregistration failed\n");
    ok(registrar.RunScript(appidScript, false) == S_OK, "AppID unregistration failed\n");
    ok(!Exists(scratch.root, clsid) && !Exists(scratch.root, "Halvex.Tavrine") &&
           !Exists(scratch.root, "Halvex.Tavrine.1") && !Exists(scratch.root, "AppID\\TavrineControl.DLL"),
       "keys left after unregistration\n");
    ok(Exists(scratch.root, "CLSID") && Exists(scratch.root, "AppID"), "NoRemove keys deleted\n");
    ok(Exists(scratch.root, "CLSID\\{00000000-1111-2222-3333-444444444444}"), "someone else's class was removed\n");
}

static void test_failed_run_rolls_back()
{
    CScratch scratch;
    CRegistrar registrar;
    Prepare(registrar, scratch.root, "C:\\x.dll");
    // The second root is unknown: the first root's keys must not stay behind.
    HRESULT hr = registrar.RunScript("HKCR { Mine = s 'a' { Sub = s 'b' } NoRemove Shared { Child } } "
                                     "HKBOGUS { Other }",
                                     true);
    ok(FAILED(hr), "a script with an unknown root succeeded\n");
    ok(!Exists(scratch.root, "Mine") && !Exists(scratch.root, "Shared\\Child"), "keys of a failed run left behind\n");

    hr = registrar.RunScript("HKCR { Broken = s 'x' ", true);
    ok(FAILED(hr) && Subkeys(scratch.root) <= 1, "a malformed script wrote keys (%#lx)\n", hr);
}

TEST_MAIN(TEST(test_rgs_parser), TEST(test_control_scripts_round_trip), TEST(test_failed_run_rolls_back))
