#!/usr/bin/env python3
"""Every Windows function that setup.exe uses, against the oldest Windows that implements it.

Reads the program's import table (the C runtime and start-up code included, as the linker left
them) and the names that src/ binds at run time, and checks each against the table below:
- an import must be exported by Windows 95 and by NT 4, or Windows refuses to load the program;
- a name newer than that is bound at run time, and the table says what the program does without;
- a Unicode function that Windows 95, 98 and Me export only as a failing stub is called only
  from the Unicode layer (src/base/unicode_layer.cpp), which takes the ANSI route there.
Usage: platform_apis.py setup.exe
"""
import pathlib
import re
import struct
import sys

# Oldest Windows, first of its line: "95" means Windows 95 and NT 4 (NT 3.1 for most).
LADDER = ["95", "98", "NT 4", "2000", "XP", "XP SP1", "XP SP2", "Vista", "7", "8", "10"]
# How the non-NT platform (95, 98, Me) has a name that NT 4 has:
STUB_W = "9x stub, Unicode"  # exported, but fails: the ANSI twin does the work there
NT_ONLY = "9x stub, NT only"  # exported, but fails; the program calls it only on NT
CRT = "msvcrt.dll"  # see the C runtime's rows below

# Sources:
# - MSDN Library (Platform SDK, 1998-2001), each function's QuickInfo/Requirements: "Windows NT:
#   Requires version 3.1 or later. Windows: Requires Windows 95 or later." for the classic Win32
#   functions of kernel32, user32, advapi32 and version (the Microsoft Learn pages now start at
#   Windows 2000, the oldest release still documented there).
# - Windows 95 General Limitations (Platform SDK, Windows 95/98 programming guide): security
#   functions are stubs on Windows 95; the Unicode versions of most functions are stubs that
#   return an error, except ExtTextOutW, GetCharWidthW, GetTextExtentExPointW,
#   GetTextExtentPointW, MessageBoxW, MessageBoxExW, TextOutW, MultiByteToWideChar and
#   WideCharToMultiByte. "Differences in Win32 API Implementations Among Windows Operating
#   Systems" (N. Nyman, MSDN 1996) adds EnumResourceLanguagesW, EnumResourceNamesW,
#   EnumResourceTypesW, FindResourceW, FindResourceExW, GetCommandLineW, GetTextExtentPoint32W
#   and lstrlenW.
# - Microsoft Layer for Unicode APIs in Alphabetical Order (MSDN, ms812826 and its pages): the W
#   functions that 9x lacks and MSLU wraps (CompareStringW, CreateMutexW, GetVersionExW,
#   LoadImageW, the version-information functions, ...).
# - Microsoft Learn, "Minimum supported client": CheckTokenMembership (Windows 2000),
#   IsWow64Process (XP SP2, Server 2003 SP1), IsWow64Process2 (Windows 10, version 1511),
#   SetDllDirectoryW (XP SP1), SetDefaultDllDirectories (Windows 8; 7 and Vista with KB2533623),
#   WinVerifyTrust and the WTHelper functions, CertDuplicateCertificateContext,
#   CertCompareCertificate, CertFreeCertificateContext (Windows XP).
# - URLDownloadToCacheFile (Internet Explorer platform APIs): urlmon.dll of Internet Explorer 3
#   and later, which 98 and 2000 ship.
# - Common Control Versions (Microsoft Learn): InitCommonControlsEx needs comctl32 4.70 (95 OSR2,
#   NT 4 with Internet Explorer 3); InitCommonControls is in every version.
# - Windows Installer: msi.dll comes with Me and 2000; 95, 98 and NT 4 get it from InstMsiA.exe
#   and InstMsiW.exe, which the program offers first.
NAMES = {
    # name: (library, oldest, how 9x has it, what the program does without it)
    "AllocateAndInitializeSid": ("advapi32.dll", "NT 4", NT_ONLY, ""),
    "EqualSid": ("advapi32.dll", "NT 4", NT_ONLY, ""),
    "FreeSid": ("advapi32.dll", "NT 4", NT_ONLY, ""),
    "GetTokenInformation": ("advapi32.dll", "NT 4", NT_ONLY, ""),
    "OpenProcessToken": ("advapi32.dll", "NT 4", NT_ONLY, "asked for on NT only"),
    "AdjustTokenPrivileges": ("advapi32.dll", "NT 4", NT_ONLY, "asked for on NT only"),
    "LookupPrivilegeValueW": ("advapi32.dll", "NT 4", NT_ONLY, "asked for on NT only"),
    "CheckTokenMembership": ("advapi32.dll", "2000", NT_ONLY, "old NT walks the token's groups"),
    "RegCloseKey": ("advapi32.dll", "95", "", ""),
    "RegOpenKeyExW": ("advapi32.dll", "NT 4", STUB_W, ""),
    "RegQueryValueExW": ("advapi32.dll", "NT 4", STUB_W, ""),
    "InitCommonControls": ("comctl32.dll", "95", "", ""),
    "InitCommonControlsEx": ("comctl32.dll", "98", "", "InitCommonControls"),
    "CloseHandle": ("kernel32.dll", "95", "", ""),
    "CompareStringW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "CreateFileW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "CreateMutexW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "CreateProcessW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "CreateThread": ("kernel32.dll", "95", "", ""),
    "DeleteCriticalSection": ("kernel32.dll", "95", "", ""),
    "EnterCriticalSection": ("kernel32.dll", "95", "", ""),
    "FindResourceW": ("kernel32.dll", "95", "", ""),
    "FormatMessageW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "FreeLibrary": ("kernel32.dll", "95", "", ""),
    "GetCurrentProcess": ("kernel32.dll", "95", "", ""),
    "GetCurrentThreadId": ("kernel32.dll", "95", "", ""),
    "GetExitCodeProcess": ("kernel32.dll", "95", "", ""),
    "GetFileAttributesW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "GetLastError": ("kernel32.dll", "95", "", ""),
    "GetModuleFileNameW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "GetModuleHandleA": ("kernel32.dll", "95", "", ""),
    "GetModuleHandleW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "GetProcAddress": ("kernel32.dll", "95", "", ""),
    "GetStartupInfoA": ("kernel32.dll", "95", "", ""),
    "GetUserDefaultLangID": ("kernel32.dll", "95", "", ""),
    "GetVersionExW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "GlobalAlloc": ("kernel32.dll", "95", "", ""),
    "GlobalFree": ("kernel32.dll", "95", "", ""),
    "InitializeCriticalSection": ("kernel32.dll", "95", "", ""),
    "IsWow64Process": ("kernel32.dll", "XP SP2", "", "no WOW64: x86"),
    "IsWow64Process2": ("kernel32.dll", "10", "", "IsWow64Process"),
    "LeaveCriticalSection": ("kernel32.dll", "95", "", ""),
    "LoadLibraryA": ("kernel32.dll", "95", "", ""),
    "LoadLibraryExW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "LoadLibraryW": ("kernel32.dll", "NT 4", STUB_W, ""),
    "LoadResource": ("kernel32.dll", "95", "", ""),
    "LocalFree": ("kernel32.dll", "95", "", ""),
    "LockResource": ("kernel32.dll", "95", "", ""),
    "ResumeThread": ("kernel32.dll", "95", "", ""),
    "SetDefaultDllDirectories": ("kernel32.dll", "8", "", "the system's search order"),
    "SetDllDirectoryW": ("kernel32.dll", "XP SP1", "", "the system's search order"),
    "SetLastError": ("kernel32.dll", "95", "", ""),
    "SetUnhandledExceptionFilter": ("kernel32.dll", "95", "", ""),
    "SizeofResource": ("kernel32.dll", "95", "", ""),
    "Sleep": ("kernel32.dll", "95", "", ""),
    "TlsGetValue": ("kernel32.dll", "95", "", ""),
    "VirtualProtect": ("kernel32.dll", "95", "", ""),
    "VirtualQuery": ("kernel32.dll", "95", "", ""),
    "WaitForSingleObject": ("kernel32.dll", "95", "", ""),
    "BeginPaint": ("user32.dll", "95", "", ""),
    "CreateDialogParamW": ("user32.dll", "NT 4", STUB_W, ""),
    "DestroyIcon": ("user32.dll", "95", "", ""),
    "DestroyWindow": ("user32.dll", "95", "", ""),
    "DialogBoxParamW": ("user32.dll", "NT 4", STUB_W, ""),
    "DispatchMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "DrawIcon": ("user32.dll", "95", "", ""),
    "EndDialog": ("user32.dll", "95", "", ""),
    "EndPaint": ("user32.dll", "95", "", ""),
    "ExitWindowsEx": ("user32.dll", "95", "", ""),
    "GetClientRect": ("user32.dll", "95", "", ""),
    "GetDesktopWindow": ("user32.dll", "95", "", ""),
    "GetDlgItem": ("user32.dll", "95", "", ""),
    "GetLastActivePopup": ("user32.dll", "95", "", ""),
    "GetMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "GetSystemMetrics": ("user32.dll", "95", "", ""),
    "GetWindowLongW": ("user32.dll", "NT 4", STUB_W, ""),
    "IsDialogMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "IsIconic": ("user32.dll", "95", "", ""),
    "IsWindow": ("user32.dll", "95", "", ""),
    "LoadCursorW": ("user32.dll", "NT 4", STUB_W, ""),
    "LoadIconW": ("user32.dll", "NT 4", STUB_W, ""),
    "LoadImageW": ("user32.dll", "NT 4", STUB_W, ""),
    "LoadStringW": ("user32.dll", "NT 4", STUB_W, ""),
    "MessageBoxW": ("user32.dll", "95", "", ""),
    "MsgWaitForMultipleObjects": ("user32.dll", "95", "", ""),
    "PeekMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "PostThreadMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "SendMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "SetCursor": ("user32.dll", "95", "", ""),
    "SetFocus": ("user32.dll", "95", "", ""),
    "SetWindowLongW": ("user32.dll", "NT 4", STUB_W, ""),
    "SetWindowTextW": ("user32.dll", "NT 4", STUB_W, ""),
    "ShowWindow": ("user32.dll", "95", "", ""),
    "TranslateMessage": ("user32.dll", "95", "", ""),
    "GetFileVersionInfoSizeW": ("version.dll", "NT 4", STUB_W, ""),
    "GetFileVersionInfoW": ("version.dll", "NT 4", STUB_W, ""),
    "VerQueryValueW": ("version.dll", "NT 4", STUB_W, ""),
    # The Unicode layer's ANSI twins, and what it converts with, are there since Windows 95.
    "RegOpenKeyExA": ("advapi32.dll", "95", "", ""),
    "RegQueryValueExA": ("advapi32.dll", "95", "", ""),
    "CompareStringA": ("kernel32.dll", "95", "", ""),
    "CreateFileA": ("kernel32.dll", "95", "", ""),
    "CreateMutexA": ("kernel32.dll", "95", "", ""),
    "CreateProcessA": ("kernel32.dll", "95", "", ""),
    "FormatMessageA": ("kernel32.dll", "95", "", ""),
    "GetFileAttributesA": ("kernel32.dll", "95", "", ""),
    "GetLocaleInfoA": ("kernel32.dll", "95", "", ""),
    "GetModuleFileNameA": ("kernel32.dll", "95", "", ""),
    "GetVersionExA": ("kernel32.dll", "95", "", ""),
    "LoadLibraryExA": ("kernel32.dll", "95", "", ""),
    "GetCommandLineW": ("kernel32.dll", "95", "", ""),
    "MultiByteToWideChar": ("kernel32.dll", "95", "", ""),
    "WideCharToMultiByte": ("kernel32.dll", "95", "", ""),
    "CreateDialogParamA": ("user32.dll", "95", "", ""),
    "CreateWindowExA": ("user32.dll", "95", "", ""),
    "DefWindowProcA": ("user32.dll", "95", "", ""),
    "DialogBoxParamA": ("user32.dll", "95", "", ""),
    "DispatchMessageA": ("user32.dll", "95", "", ""),
    "GetMessageA": ("user32.dll", "95", "", ""),
    "GetWindowLongA": ("user32.dll", "95", "", ""),
    "IsDialogMessageA": ("user32.dll", "95", "", ""),
    "LoadCursorA": ("user32.dll", "95", "", ""),
    "LoadIconA": ("user32.dll", "95", "", ""),
    "LoadImageA": ("user32.dll", "95", "", ""),
    "LoadStringA": ("user32.dll", "95", "", ""),
    "PeekMessageA": ("user32.dll", "95", "", ""),
    "PostMessageA": ("user32.dll", "95", "", ""),
    "PostThreadMessageA": ("user32.dll", "95", "", ""),
    "RegisterClassA": ("user32.dll", "95", "", ""),
    "SendMessageA": ("user32.dll", "95", "", ""),
    "SendNotifyMessageA": ("user32.dll", "95", "", ""),
    "SetWindowLongA": ("user32.dll", "95", "", ""),
    "SetWindowTextA": ("user32.dll", "95", "", ""),
    "GetFileVersionInfoA": ("version.dll", "95", "", ""),
    "GetFileVersionInfoSizeA": ("version.dll", "95", "", ""),
    "VerQueryValueA": ("version.dll", "95", "", ""),
    "CreateWindowExW": ("user32.dll", "NT 4", STUB_W, ""),
    "DefWindowProcW": ("user32.dll", "NT 4", STUB_W, ""),
    "PostMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "RegisterClassW": ("user32.dll", "NT 4", STUB_W, ""),
    "SendNotifyMessageW": ("user32.dll", "NT 4", STUB_W, ""),
    "URLDownloadToCacheFileW": ("urlmon.dll", "98", "", "the download fails with its message"),
    "WinVerifyTrust": ("wintrust.dll", "XP", "", "verification unavailable"),
    "WTHelperProvDataFromStateData": ("wintrust.dll", "XP", "", "verification unavailable"),
    "WTHelperGetProvSignerFromChain": ("wintrust.dll", "XP", "", "verification unavailable"),
    "WTHelperGetProvCertFromChain": ("wintrust.dll", "XP", "", "verification unavailable"),
    "CertDuplicateCertificateContext": ("crypt32.dll", "XP", "", "verification unavailable"),
    "CertCompareCertificate": ("crypt32.dll", "XP", "", "verification unavailable"),
    "CertFreeCertificateContext": ("crypt32.dll", "XP", "", "verification unavailable"),
}
for _name in ["MsiSetInternalUI", "MsiInstallProductW", "MsiApplyPatchW", "MsiReinstallProductW",
              "MsiQueryProductStateW", "MsiOpenDatabaseW", "MsiDatabaseOpenViewW", "MsiViewExecute",
              "MsiViewFetch", "MsiRecordGetStringW", "MsiCloseHandle"]:
    NAMES[_name] = ("msi.dll", "2000", "", "the installer upgrade, then the binding's message")
# What the MinGW C runtime and start-up code import (the ANSI WinMain entry's start-up).
# msvcrt.dll is the shared C runtime of Visual C++ 4.2 to 6.0 and their redistributable (KB
# Q154591); NT 4 and the later releases of Windows 95 carry the MSVCRT40.DLL that forwards to it.
# The first release of Windows 95 has it only once a program or Internet Explorer installed it.
# Each toolchain's start-up brings its own names: _ismbblead (Visual C++ run-time library
# reference, "Byte Classification", the _ismbb routines of the same shared run-time) comes with
# MinGW-w64 12 (Debian 13), whose ANSI start-up skips a multibyte program name with it.
for _name in ["__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode",
              "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_initterm", "_iob",
              "_ismbblead", "_onexit", "_wcsdup", "abort", "calloc", "exit", "fprintf", "free", "fwrite",
              "malloc", "memcmp", "memcpy", "memmove", "realloc", "signal", "strlen", "strncmp",
              "vfprintf", "wcschr", "wcslen", "wcsrchr"]:
    NAMES[_name] = ("msvcrt.dll", "NT 4", CRT, "")
# The Unicode functions that the non-NT platform implements (sources above).
REAL_ON_9X = {"ExtTextOutW", "GetCharWidthW", "GetTextExtentExPointW", "GetTextExtentPointW",
              "GetTextExtentPoint32W", "MessageBoxW", "MessageBoxExW", "TextOutW", "lstrlenW",
              "MultiByteToWideChar", "WideCharToMultiByte", "EnumResourceLanguagesW",
              "EnumResourceNamesW", "EnumResourceTypesW", "FindResourceW", "FindResourceExW",
              "GetCommandLineW"}
LAYER = "base/unicode_layer.cpp"


def pe_imports(path):
    """(library, name) of every import of a 32-bit PE file."""
    data = pathlib.Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        raise SystemExit(f"{path}: not a 32-bit image")
    directories = optional + 96
    table = [(struct.unpack_from("<II", data, directories + 8 * i)) for i in range(16)]
    if table[13][0]:
        raise SystemExit(f"{path}: delay-load imports are not read by this check")
    spans = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return rva - start + raw
        raise SystemExit(f"{path}: address {rva:#x} lies in no section")

    def text(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii")

    found = []
    descriptor = offset(table[1][0])
    while True:
        lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", data, descriptor)
        if not name_rva:
            return found
        library = text(name_rva).lower()
        at = offset(lookup or thunks)
        while entry := struct.unpack_from("<I", data, at)[0]:
            if entry & 0x80000000:
                raise SystemExit(f"{path}: {library} imported by ordinal {entry & 0xFFFF}")
            found.append((library, text(entry + 2)))
            at += 4
        descriptor += 20


def code_of(source):
    """The source with comments and string literals blanked, lines kept."""
    pattern = r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\''
    return re.sub(pattern, lambda m: re.sub(r"[^\n]", " ", m.group()), source, flags=re.S)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    exe = pathlib.Path(sys.argv[1])
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    image = exe.read_bytes()
    faults = []

    for name, (library, oldest, on9x, without) in NAMES.items():
        if oldest not in LADDER:
            faults.append(f"table: {name}: unknown Windows '{oldest}'")
        unicode = name.endswith("W") and name not in REAL_ON_9X
        if unicode and on9x not in (STUB_W, NT_ONLY) and oldest in ("95", "NT 4"):
            faults.append(f"table: {name}: a Unicode function the non-NT platform only stubs")

    imports = pe_imports(exe)
    for library, name in imports:
        row = NAMES.get(name)
        if not row:
            faults.append(f"import {library}!{name}: not in the table; add it from its "
                          "documentation")
            continue
        if row[0] != library:
            faults.append(f"import {library}!{name}: the table has it in {row[0]}")
        if not (row[1] == "95" or (row[1] == "NT 4" and row[2])):
            faults.append(f"import {library}!{name}: needs Windows {row[1]}; Windows 95 or NT 4 "
                          "would refuse to load the program: bind it at run time")

    sources = sorted(p for p in src.rglob("*") if p.suffix in (".cpp", ".h", ".c"))
    lookup = re.compile(r'(?:\bLookupProc\b|\bGetProcAddress\b|\bBind\b)[^;]*?,\s*"(\w+)"')
    bound = set()
    for path in sources:
        for name in lookup.findall(path.read_text(encoding="utf-8")):
            if b"\0" + name.encode() + b"\0" not in image:
                continue  # not part of the program
            bound.add(name)
            row = NAMES.get(name)
            if not row:
                faults.append(f"run-time name {name} ({path.relative_to(src.parent)}): not in the "
                              "table; add it from its documentation")
            elif row[1] != "95" and not row[3]:
                faults.append(f"run-time name {name}: needs Windows {row[1]}, and the table says "
                              "nothing of what the program does without it")

    stubbed = sorted(n for n, row in NAMES.items() if row[2] == STUB_W)
    calls = re.compile(r"\b(" + "|".join(n[:-1] for n in stubbed) + r")W?\s*\(")
    stub_calls = []
    for path in sources:
        if path.relative_to(src).as_posix() == LAYER:
            continue
        for number, line in enumerate(code_of(path.read_text(encoding="utf-8")).split("\n"), 1):
            for match in calls.finditer(line):
                name = match.group(0).split("(")[0].strip()
                if name + ("" if name.endswith("W") else "W") in stubbed:
                    stub_calls.append(f"src/{path.relative_to(src).as_posix()}:{number}: {name}: "
                                      "the non-NT platform only stubs it; call it through the "
                                      "Unicode layer")
    faults += stub_calls

    for fault in faults:
        print(fault)
    checked = len(imports) + len(bound)
    print(f"platform APIs: {checked} names ({len(imports)} imported, {len(bound)} bound at run "
          f"time) checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
