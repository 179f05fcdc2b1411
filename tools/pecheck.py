#!/usr/bin/env python3
"""Reads a PE file (DLL or EXE) with the standard library only, and checks the shipped control.

As a module:
    from pecheck import PEFile
    pe = PEFile(path)
    pe.machine                       # 'i386' or 'amd64'
    pe.exports()                     # (dll name, [(ordinal, name), ...])
    pe.imports()                     # ['KERNEL32.dll', ...], delay-loaded ones included
    pe.imported_functions()          # {'KERNEL32.dll': ['CloseHandle', '#17', ...], ...}
    pe.os_version, pe.subsystem_version, pe.dll_characteristics
    pe.resources()                   # [(type, name, lang), ...]; ids as ints, names as str
    pe.resource_bytes(type, name, lang=0x412)   # raw bytes of one resource
    pe.version_info()                # VersionInfo: fixed fields, strings, translations

As a program, checks the control DLL: machine, the four exports and their ordinals, the
export name, imports limited to system DLLs (the C++ runtime must be linked in) and to
functions present on the oldest Windows the build supports, the header's OS and subsystem
versions, ASLR and DEP flags with relocations kept and no writable code, and the registry,
type library and version resources. With --host, checks the browser bridge
TavrineBridge.exe the same way (a program, no exports), with its application manifest
(asInvoker, Common Controls 6, DPI awareness, the supported Windows versions), its version
resource and its lock marker instead of the control's resources.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET

RT_BITMAP = 2
RT_DIALOG = 5
RT_VERSION = 16
RT_MANIFEST = 24

MACHINES = {0x14C: "i386", 0x8664: "amd64"}


class PEError(Exception):
    pass


class VersionInfo:
    def __init__(self):
        self.fixed = {}
        self.strings = {}      # block name ('041203b5') -> {key: value}
        self.translations = []  # [(lang, codepage), ...]


class PEFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise PEError("no MZ header")
        pe = self._u32(0x3C)
        if d[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        machine, nsections, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", d, pe + 4)
        self.machine = MACHINES.get(machine, "0x%04x" % machine)
        opt = pe + 24
        magic = self._u16(opt)
        if magic == 0x10B:
            ndirs_at, dirs_at = opt + 92, opt + 96
        elif magic == 0x20B:
            ndirs_at, dirs_at = opt + 108, opt + 112
        else:
            raise PEError("unknown optional header magic 0x%x" % magic)
        self.is64 = magic == 0x20B
        # The version fields sit at the same place in both optional header kinds.
        self.os_version = struct.unpack_from("<HH", d, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", d, opt + 48)
        self.dll_characteristics = self._u16(opt + 70)
        ndirs = self._u32(ndirs_at)
        self.dirs = [struct.unpack_from("<II", d, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        sec = opt + optsize
        self.section_flags = {}
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, sec + 40 * i)
            name = name.rstrip(b"\0").decode("latin-1")
            self.sections.append((name, va, max(vsize, rawsize), rawptr, rawsize))
            self.section_flags[name] = self._u32(sec + 40 * i + 36)

    # --- low level ---------------------------------------------------------------
    def _u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def _u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for _, va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise PEError("RVA 0x%x lies in uninitialised data" % rva)
                return rawptr + rva - va
        raise PEError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva):
        off = self.offset(rva)
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("latin-1")

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    # --- exports and imports -----------------------------------------------------
    def exports(self):
        rva, size = self.directory(0)
        if not rva:
            return None, []
        off = self.offset(rva)
        (_, _, _, _, name_rva, base, nfuncs, nnames,
         funcs_rva, names_rva, ords_rva) = struct.unpack_from("<IIHHIIIIIII", self.data, off)
        result = []
        for i in range(nnames):
            name = self.cstring(self._u32(self.offset(names_rva) + 4 * i))
            index = self._u16(self.offset(ords_rva) + 2 * i)
            result.append((base + index, name))
        self.export_function_count = nfuncs
        return self.cstring(name_rva), sorted(result)

    def _import_descriptors(self):
        """(DLL name, name-thunk RVA) of every import descriptor, delay-loaded ones included."""
        rva, _ = self.directory(1)
        if rva:
            off = self.offset(rva)
            while True:
                desc = struct.unpack_from("<IIIII", self.data, off)
                if not any(desc):
                    break
                yield self.cstring(desc[3]), desc[0] or desc[4]
                off += 20
        rva, _ = self.directory(13)      # delay-load imports
        if rva:
            off = self.offset(rva)
            while True:
                desc = struct.unpack_from("<IIIIIIII", self.data, off)
                if not any(desc):
                    break
                yield self.cstring(desc[1]), desc[4]
                off += 32

    def imports(self):
        return [dll for dll, _ in self._import_descriptors()]

    def imported_functions(self):
        """Functions by DLL, names as imported, ordinals as '#n'; delay-loaded ones included."""
        result = {}
        width, top = (8, 1 << 63) if self.is64 else (4, 1 << 31)
        for dll, thunk_rva in self._import_descriptors():
            names = result.setdefault(dll, [])
            off = self.offset(thunk_rva)
            while True:
                value = int.from_bytes(self.data[off:off + width], "little")
                if not value:
                    break
                if value & top:
                    names.append("#%d" % (value & 0xFFFF))
                else:
                    names.append(self.cstring((value & 0x7FFFFFFF) + 2))   # past the hint
                off += width
        return result

    # --- resources ---------------------------------------------------------------
    def _res_entries(self, base, dir_off):
        named, ids = struct.unpack_from("<HH", self.data, dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, dir_off + 16 + 8 * i)
            if name & 0x80000000:
                soff = base + (name & 0x7FFFFFFF)
                length = self._u16(soff)
                key = self.data[soff + 2:soff + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    def _res_tree(self):
        rva, _ = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)
        tree = {}
        for rtype, t in self._res_entries(base, base):
            for rname, n in self._res_entries(base, base + (t & 0x7FFFFFFF)):
                for lang, leaf in self._res_entries(base, base + (n & 0x7FFFFFFF)):
                    if leaf & 0x80000000:
                        raise PEError("resource tree deeper than three levels")
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    tree[(rtype, rname, lang)] = (data_rva, size)
        return tree

    def resources(self):
        return sorted(self._res_tree(), key=repr)

    def resource_bytes(self, rtype, name, lang=0x412):
        """Raw bytes of one resource, or None. Type and name: int ids or str names."""
        def norm(x):
            return x.upper() if isinstance(x, str) else x
        for (t, n, l), (rva, size) in self._res_tree().items():
            if norm(t) == norm(rtype) and norm(n) == norm(name) and l == lang:
                off = self.offset(rva)
                return self.data[off:off + size]
        return None

    def version_info(self, lang=0x412):
        raw = self.resource_bytes(RT_VERSION, 1, lang)
        if raw is None:
            return None
        return parse_version_info(raw)


# --- VS_VERSIONINFO -------------------------------------------------------------
def _align4(n):
    return (n + 3) & ~3


def _node(raw, off):
    """One version-info node: (length, value length, type, key, value offset, end)."""
    length, vlen, vtype = struct.unpack_from("<HHH", raw, off)
    p = off + 6
    end_key = p
    while raw[end_key:end_key + 2] != b"\0\0":
        end_key += 2
    key = raw[p:end_key].decode("utf-16-le")
    value_off = _align4(end_key + 2)
    return length, vlen, vtype, key, value_off, off + length


def parse_version_info(raw):
    info = VersionInfo()
    length, vlen, _, key, voff, end = _node(raw, 0)
    if key != "VS_VERSION_INFO":
        raise PEError("version resource starts with %r" % key)
    if vlen:
        fields = struct.unpack_from("<13I", raw, voff)
        names = ["signature", "struc_version", "file_ms", "file_ls", "product_ms", "product_ls",
                 "flags_mask", "flags", "os", "type", "subtype", "date_ms", "date_ls"]
        info.fixed = dict(zip(names, fields))
    child = _align4(voff + vlen)
    while child < end:
        clen, _, _, ckey, cvoff, cend = _node(raw, child)
        if clen == 0:
            break
        if ckey == "StringFileInfo":
            table = cvoff
            while table < cend:
                tlen, _, _, tkey, tvoff, tend = _node(raw, table)
                strings = info.strings.setdefault(tkey, {})
                s = tvoff
                while s < tend:
                    slen, svlen, _, skey, svoff, send = _node(raw, s)
                    if slen == 0:
                        break
                    # Value length counts UTF-16 characters, the terminator included.
                    value = raw[svoff:svoff + 2 * svlen].decode("utf-16-le").rstrip("\0")
                    strings[skey] = value
                    s = _align4(send)
                table = _align4(tend)
        elif ckey == "VarFileInfo":
            var = cvoff
            while var < cend:
                vl, vvlen, _, vkey, vvoff, vend = _node(raw, var)
                if vl == 0:
                    break
                if vkey == "Translation":
                    for i in range(vvlen // 4):
                        info.translations.append(struct.unpack_from("<HH", raw, vvoff + 4 * i))
                var = _align4(vend)
        child = _align4(cend)
    return info


# --- the control's checks -------------------------------------------------------
EXPECTED_EXPORTS = [(1, "DllCanUnloadNow"), (2, "DllGetClassObject"),
                    (3, "DllRegisterServer"), (4, "DllUnregisterServer")]

# System DLLs present on every supported Windows; anything else (the MinGW C++ runtime, the
# thread library, a UCRT forwarder) would have to be shipped beside the control.
ALLOWED_IMPORTS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "urlmon.dll", "wininet.dll",
    "version.dll", "msvcrt.dll",
}


# The oldest Windows that has each function the control imports, as (major, minor):
# 5.0 Windows 2000, 5.1 XP, 5.2 Server 2003 and XP x64, 6.0 Vista. Keys are lower-case DLL
# names. A function missing here fails the check, so that a new import is looked up (and,
# if it is newer than the build's minimum, replaced or loaded at run time) before it ships.
def _table(**by_version):
    return {name: tuple(int(p) for p in version[1:].split("_"))
            for version, names in by_version.items() for name in names.split()}


IMPORT_MINIMUM = {
    "advapi32.dll": _table(
        v5_0="ConvertSidToStringSidA ConvertStringSecurityDescriptorToSecurityDescriptorA CryptAcquireContextA "
             "CryptReleaseContext GetTokenInformation OpenProcessToken SetKernelObjectSecurity RegCloseKey RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegEnumKeyExA RegOpenKeyExA "
             "RegQueryInfoKeyA RegQueryValueExA RegSetValueExA RegCreateKeyExW RegDeleteKeyW RegSetValueExW",
        v6_0="RegDeleteTreeA RegDeleteTreeW RegGetValueA"),
    "comctl32.dll": _table(
        v5_0="ImageList_AddMasked ImageList_Create ImageList_Destroy ImageList_GetIcon ImageList_GetIconSize "
             "ImageList_GetImageCount ImageList_ReplaceIcon InitCommonControlsEx"),
    "gdi32.dll": _table(v5_0="DeleteObject"),
    "kernel32.dll": _table(
        v5_0="AreFileApisANSI CloseHandle CompareFileTime DuplicateHandle GetCurrentThread GetModuleFileNameW GetStartupInfoW GetStdHandle SetStdHandle CreateDirectoryA CreateEventA CreateFileA CreateMutexA CreateFileW CreateProcessA CreateSemaphoreA CreateSemaphoreW CreateThread "
             "DeleteCriticalSection DeleteFileA DeleteFileW DisableThreadLibraryCalls EnterCriticalSection ExitProcess "
             "FindClose FindFirstFileA FindFirstFileW FindNextFileA FindNextFileW FindResourceA FreeLibrary FreeLibraryAndExitThread GetACP GetOEMCP "
             "GetCurrentProcess GetCurrentProcessId GetCurrentThreadId GetDriveTypeA GetFileAttributesA "
             "GetFileAttributesExA GetFileInformationByHandle GetFileSizeEx GetFullPathNameA GetLastError GetLocaleInfoA "
             "GetLogicalDrives GetModuleFileNameA GetModuleHandleA GetModuleHandleW GetProcAddress "
             "GetStartupInfoA GetSystemDirectoryA GetSystemTimeAsFileTime GetTempFileNameA GetTempPathA GetThreadLocale "
             "GetTickCount GetUserDefaultLCID GetVersionExA HeapAlloc HeapCreate HeapDestroy HeapFree "
             "InitializeCriticalSection InterlockedCompareExchange InterlockedDecrement InterlockedExchange "
             "InterlockedIncrement IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA LoadLibraryW "
             "LoadResource LocalFree LockResource lstrcmpiA lstrcpynA MoveFileExA MultiByteToWideChar QueryPerformanceCounter RaiseException "
             "ReadFile ReleaseMutex ReleaseSemaphore RemoveDirectoryA SetEndOfFile SetEvent SetFileAttributesA SetFilePointerEx "
             "SetLastError SetUnhandledExceptionFilter SizeofResource Sleep TerminateProcess TlsAlloc TlsFree "
             "TlsGetValue TlsSetValue UnhandledExceptionFilter VirtualProtect VirtualQuery WaitForSingleObject "
             "WideCharToMultiByte WriteFile",
        v5_1="GetModuleHandleExA GetModuleHandleExW",
        # Exported by the 64-bit kernel32 from its first release (XP x64 / Server 2003).
        v5_2="RtlAddFunctionTable RtlCaptureContext __C_specific_handler RtlLookupFunctionEntry RtlUnwindEx RtlVirtualUnwind",
        v6_0="GetTickCount64 InitializeCriticalSectionEx CreateSymbolicLinkA GetFinalPathNameByHandleA"),
    "msvcrt.dll": _table(
        v5_0="__mb_cur_max _amsg_exit _close _errno _initterm _iob _lock _mbscmp _onexit _read _snprintf _unlock "
             "__p__commode __p__fmode __p__wcmdln __set_app_type __setusermatherr __wgetmainargs __winitenv _cexit "
             "_commode _fmode _wcmdln exit fprintf "
             "islower isupper "
             "__dllonexit abort atoi calloc fputc fputs free fwrite isspace localeconv malloc memchr memcmp "
             "memcpy memmove memset realloc setlocale signal strchr strcmp strerror strlen strncmp strtoul toupper "
             "vfprintf wcslen",
        # Added with the msvcrt.dll of Windows XP.
        v5_1="___lc_codepage_func ___mb_cur_max_func __iob_func",
        v6_0="_create_locale _free_locale _mbscmp_l _stricmp_l _strnicmp_l"),
    "ole32.dll": _table(v5_0="CoCreateGuid CoCreateInstance CoInitializeEx CoTaskMemFree CoUninitialize "
                             "CreateOleAdviseHolder"),
    "oleaut32.dll": _table(
        v5_0="LoadRegTypeLib LoadTypeLib RegisterTypeLib SysAllocString SysAllocStringLen SysFreeString "
             "SysStringLen UnRegisterTypeLib VariantChangeType VariantClear VariantInit"),
    "shell32.dll": _table(v5_0="SHGetFileInfoA SHGetSpecialFolderPathA ShellExecuteA ShellExecuteExA"),
    "shlwapi.dll": _table(v5_0="SHDeleteKeyA StrFormatByteSize64A StrFormatByteSizeA"),
    "urlmon.dll": _table(v5_0="URLDownloadToFileA"),
    "user32.dll": _table(
        v5_0="DefWindowProcA DestroyIcon DialogBoxIndirectParamA EnableWindow EndDialog FindWindowA "
             "CreateWindowExA DestroyWindow DispatchMessageA GetMessageA PostQuitMessage RegisterClassA TranslateMessage "
             "GetActiveWindow GetDlgItem GetWindow GetWindowLongA GetWindowLongPtrA InvalidateRect KillTimer "
             "LoadImageA MessageBoxA MsgWaitForMultipleObjects PeekMessageA PostMessageA RedrawWindow "
             "SendMessageA SendMessageTimeoutA SendMessageW SetForegroundWindow SetTimer SetWindowLongA "
             "SetWindowLongPtrA SetWindowTextA SetWindowTextW UpdateWindow"),
    "wininet.dll": _table(v5_0="DeleteUrlCacheEntryA InternetCrackUrlW"),
}

# IMAGE_DLLCHARACTERISTICS_* and IMAGE_SCN_* bits the hardening checks read.
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT = 0x0020, 0x0040, 0x0100
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000


def check_minimum_windows(pe, minimum):
    """Imports and header versions against the oldest Windows the build supports."""
    problems = []
    shown = "%d.%d" % minimum
    if pe.os_version != minimum:
        problems.append("header OS version is %d.%d, expected %s" % (pe.os_version + (shown,)))
    if pe.subsystem_version != minimum:
        problems.append("header subsystem version is %d.%d, expected %s" % (pe.subsystem_version + (shown,)))
    for dll, functions in pe.imported_functions().items():
        table = IMPORT_MINIMUM.get(dll.lower())
        if table is None:
            continue        # not a system DLL: reported by the import check
        for function in functions:
            needs = table.get(function)
            if needs is None:
                problems.append("imports %s!%s, which has no known minimum Windows" % (dll, function))
            elif needs > minimum:
                problems.append("imports %s!%s, which needs Windows %d.%d (minimum is %s)"
                                % ((dll, function) + needs + (shown,)))
    return problems


def check_hardening(pe):
    """ASLR with relocations kept, DEP, and no section both writable and executable."""
    problems = []
    wanted = [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT")]
    if pe.is64:
        wanted.append((HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"))
    for bit, name in wanted:
        if not pe.dll_characteristics & bit:
            problems.append("DllCharacteristics %#06x lacks %s" % (pe.dll_characteristics, name))
    # A DLL that may be moved needs its relocations: without them the loader cannot place it.
    reloc_rva, reloc_size = pe.directory(5)
    if ".reloc" not in pe.section_flags or not reloc_rva or not reloc_size:
        problems.append("no base relocations (.reloc section and directory)")
    for name, flags in pe.section_flags.items():
        if flags & SCN_MEM_WRITE and flags & SCN_MEM_EXECUTE:
            problems.append("section %s is both writable and executable" % name)
    return problems


def check_imports_and_hardening(pe, minimum):
    """What the DLL and the host share: system DLLs only, the minimum Windows, hardening."""
    problems = ["imports %s (not a system DLL)" % name for name in pe.imports()
                if name.lower() not in ALLOWED_IMPORTS]
    return problems + check_minimum_windows(pe, minimum) + check_hardening(pe)


def version_string(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_control(path, machine, version, minimum):
    """Returns a list of problems; empty when the DLL is as it must ship."""
    problems = []
    pe = PEFile(path)
    if pe.machine != machine:
        problems.append("machine is %s, expected %s" % (pe.machine, machine))
    if not (pe.characteristics & 0x2000):
        problems.append("not flagged as a DLL")

    dll_name, exports = pe.exports()
    if dll_name != "TavrineControl.DLL":
        problems.append("export directory names the module %r" % dll_name)
    if exports != EXPECTED_EXPORTS:
        problems.append("exports %r, expected %r" % (exports, EXPECTED_EXPORTS))
    elif getattr(pe, "export_function_count", 0) != 4:
        problems.append("%d exported functions, expected 4" % pe.export_function_count)

    problems += check_imports_and_hardening(pe, minimum)

    present = set(pe.resources())
    for rtype, rname in (("REGISTRY", 101), ("REGISTRY", 103), ("TYPELIB", 1), (RT_VERSION, 1)):
        if (rtype, rname, 0x412) not in present:
            shown = "VERSION" if rtype == RT_VERSION else rtype
            problems.append("resource %s %s in language 0x0412 is missing" % (shown, rname))

    tlb = pe.resource_bytes("TYPELIB", 1)
    if tlb is not None and tlb[:4] != b"MSFT":
        problems.append("TYPELIB 1 is not a binary type library (starts with %r)" % tlb[:4])
    for rid in (101, 103):
        rgs = pe.resource_bytes("REGISTRY", rid)
        if rgs is not None and b"HKCR" not in rgs:
            problems.append("REGISTRY %d does not look like a registry script" % rid)

    info = pe.version_info()
    if info is not None:
        problems += check_version(info, version)
    return problems


def check_version(info, version, file_type=2, file_name="TavrineControl.dll"):
    """The fixed and string fields of a version resource; file type 2 is a DLL, 1 a program."""
    problems = []
    f = info.fixed
    if f.get("signature") != 0xFEEF04BD:
        return ["version resource has no fixed file info"]
    expect = {
        "file version": (version_string(f["file_ms"], f["file_ls"]), version),
        "product version": (version_string(f["product_ms"], f["product_ls"]), version),
        "flags mask": (f["flags_mask"], 0x3F),
        "flags": (f["flags"], 0),
        "file OS": (f["os"], 4),
        "file type": (f["type"], file_type),
        "file subtype": (f["subtype"], 0),
    }
    for what, (got, want) in expect.items():
        if got != want:
            problems.append("%s is %r, expected %r" % (what, got, want))
    block = info.strings.get("041203b5")
    if block is None:
        problems.append("no string block 041203b5 (blocks: %s)" % sorted(info.strings))
    else:
        wanted = {"FileVersion": version, "ProductVersion": version,
                  "InternalName": file_name, "OriginalFilename": file_name}
        for key, want in wanted.items():
            if block.get(key) != want:
                problems.append("string %s is %r, expected %r" % (key, block.get(key), want))
    if info.translations != [(0x0412, 0x03B5)]:
        problems.append("translation is %r, expected [(0x412, 0x3b5)]" % (info.translations,))
    return problems


# --- the browser bridge -------------------------------------------------------------
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
# supportedOS IDs: without one, Windows runs the program in the compatibility mode of an
# older Windows (and GetVersionEx lies to it).
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}
COMMON_CONTROLS = ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")


def check_manifest(raw, version, machine):
    """The host's application manifest: what Windows must read in it."""
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        return ["the manifest is not well-formed XML: %s" % e]
    problems = []
    if root.tag != ASM_V1 + "assembly" or root.get("manifestVersion") != "1.0":
        return ["the manifest's root is %s, expected an asm.v1 assembly of manifestVersion 1.0" % root.tag]
    ident = root.find(ASM_V1 + "assemblyIdentity")
    arch = {"i386": "x86", "amd64": "amd64"}.get(machine)
    if ident is None or ident.get("version") != version or ident.get("processorArchitecture") != arch:
        problems.append("the manifest's assemblyIdentity is %r, expected version %s for %s"
                        % (None if ident is None else ident.attrib, version, arch))
    levels = root.findall(".//%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel" % ((ASM_V3,) * 3))
    if [(e.get("level"), e.get("uiAccess")) for e in levels] != [("asInvoker", "false")]:
        problems.append("the manifest's execution level is %r, expected asInvoker without uiAccess"
                        % [e.attrib for e in levels])
    deps = [(d.get("name"), d.get("version"), d.get("publicKeyToken"))
            for d in root.findall(".//%sdependentAssembly/%sassemblyIdentity" % (ASM_V1, ASM_V1))]
    if COMMON_CONTROLS not in deps:
        problems.append("the manifest does not ask for Common Controls 6 (dependencies: %r)" % deps)
    ids = {e.get("Id", "").lower() for e in root.findall(".//%sapplication/%ssupportedOS" % (COMPAT, COMPAT))}
    for guid, name in SUPPORTED_OS.items():
        if guid not in ids:
            problems.append("the manifest does not declare Windows %s (supportedOS %s)" % (name, guid))
    settings = root.find(".//%sapplication/%swindowsSettings" % (ASM_V3, ASM_V3))
    aware = settings.find(WS_2005 + "dpiAware") if settings is not None else None
    awareness = settings.find(WS_2016 + "dpiAwareness") if settings is not None else None
    if aware is None or (aware.text or "").strip().lower() not in ("true/pm", "per monitor"):
        problems.append("the manifest's dpiAware is %r, expected true/pm"
                        % (None if aware is None else aware.text))
    modes = [m.strip().lower() for m in (awareness.text or "").split(",")] if awareness is not None else []
    if not modes or modes[0] != "permonitorv2":
        problems.append("the manifest's dpiAwareness is %r, expected PerMonitorV2 first (dialogs scaled "
                        "per monitor on Windows 10 and 11)" % (None if awareness is None else awareness.text))
    return problems


def check_host(path, machine, version, minimum):
    """Returns a list of problems; empty when TavrineBridge.exe is as it must ship."""
    problems = []
    pe = PEFile(path)
    if pe.machine != machine:
        problems.append("machine is %s, expected %s" % (pe.machine, machine))
    if pe.characteristics & 0x2000 or not pe.characteristics & 0x0002:
        problems.append("not flagged as an executable program (characteristics %#06x)" % pe.characteristics)
    problems += check_imports_and_hardening(pe, minimum)

    manifests = [key for key in pe.resources() if key[0] == RT_MANIFEST]
    if [key[1] for key in manifests] != [1]:
        problems.append("manifest resources %r, expected one of ID 1" % manifests)
    else:
        problems += check_manifest(pe.resource_bytes(RT_MANIFEST, 1, manifests[0][2]), version, pe.machine)
    if pe.resource_bytes("BUILDLOCKS", 1) is None:
        problems.append("resource BUILDLOCKS 1 in language 0x0412 is missing")
    info = pe.version_info()
    if info is None:
        problems.append("resource VERSION 1 in language 0x0412 is missing")
    else:
        problems += check_version(info, version, 1, "TavrineBridge.exe")
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description="Checks the shipped control DLL or browser bridge.")
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES.values()))
    parser.add_argument("--version", required=True, help="expected version, a.b.c.d")
    parser.add_argument("--min-windows", required=True, metavar="MAJOR.MINOR",
                        help="oldest Windows the build supports, e.g. 5.1")
    parser.add_argument("--host", action="store_true", help="the file is the browser bridge TavrineBridge.exe")
    parser.add_argument("dll")
    args = parser.parse_args(argv)
    try:
        minimum = tuple(int(p) for p in args.min_windows.split("."))
        if len(minimum) != 2:
            raise ValueError("--min-windows takes MAJOR.MINOR")
        check = check_host if args.host else check_control
        problems = check(args.dll, args.machine, args.version, minimum)
    except (OSError, PEError, struct.error, ValueError) as e:
        problems = ["cannot read %s: %s" % (args.dll, e)]
    for p in problems:
        print("pecheck: %s" % p)
    if problems:
        print("pecheck: %s: %d problem(s)" % (args.dll, len(problems)))
        return 1
    print("pecheck: %s: machine, %simports, minimum Windows, hardening and resources as shipped"
          % (args.dll, "" if args.host else "exports, "))
    return 0


if __name__ == "__main__":
    sys.exit(main())
