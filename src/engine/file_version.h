// The version of a file as Windows Installer files state it: the most significant half of the
// fixed file version in the version resource, and the number major x 100 + minor made of it.
#pragma once
#include <windows.h>

// What a file without readable fixed version information counts as (65535.65535).
constexpr DWORD kUnknownFileVersion = 0xFFFFFFFF;

// 0, with dwFileVersionMS in `versionMS` (kUnknownFileVersion when the resource lacks the fixed
// part); otherwise the system error that kept the version information from being read, with
// kUnknownFileVersion. `versionMS` may be null.
DWORD GetFileVersionMS(const wchar_t* path, DWORD* versionMS);

// major x 100 + minor, in unsigned 32-bit arithmetic: 2.0 is 200, 1.100 is 200 as well.
inline DWORD VersionNumber(DWORD versionMS) { return HIWORD(versionMS) * 100u + LOWORD(versionMS); }
