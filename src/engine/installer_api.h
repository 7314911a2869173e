// The Windows Installer functions this program uses, bound from msi.dll at run time: msi.dll
// is taken from the folder the platform's installer configuration names, or by plain name.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "base/wide_string.h"

struct InstallerApi {
    HMODULE module;
    INSTALLUILEVEL(WINAPI* MsiSetInternalUI)(INSTALLUILEVEL, HWND*);
    UINT(WINAPI* MsiInstallProductW)(LPCWSTR, LPCWSTR);
    UINT(WINAPI* MsiApplyPatchW)(LPCWSTR, LPCWSTR, INSTALLTYPE, LPCWSTR);
    UINT(WINAPI* MsiReinstallProductW)(LPCWSTR, DWORD);
    INSTALLSTATE(WINAPI* MsiQueryProductStateW)(LPCWSTR);
    UINT(WINAPI* MsiOpenDatabaseW)(LPCWSTR, LPCWSTR, MSIHANDLE*);
    UINT(WINAPI* MsiDatabaseOpenViewW)(MSIHANDLE, LPCWSTR, MSIHANDLE*);
    UINT(WINAPI* MsiViewExecute)(MSIHANDLE, MSIHANDLE);
    UINT(WINAPI* MsiViewFetch)(MSIHANDLE, MSIHANDLE*);
    UINT(WINAPI* MsiRecordGetStringW)(MSIHANDLE, UINT, LPWSTR, DWORD*);
    UINT(WINAPI* MsiCloseHandle)(MSIHANDLE);
};

// The key whose "InstallerLocation" names the folder of msi.dll (under HKEY_LOCAL_MACHINE).
constexpr wchar_t kInstallerKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer";

// 0 when msi.dll is loaded and all eleven entry points are bound. Otherwise tells the user and
// returns ERROR_INSTALL_FAILURE (1603); `api` may then hold the loaded module and the entry
// points found before the first missing one. The module is the caller's to release at exit.
UINT BindInstallerApi(InstallerApi* api);

// The "InstallerLocation" value of an open key. True: a well-formed string, now in `text`
// (possibly empty, cut at an embedded NUL, never expanded). False: `text` is emptied, or left
// untouched when not even the value's size could be read.
bool ReadInstallerLocation(HKEY key, WideString* text);
