// The Windows Installer functions this program uses, bound from msi.dll at run time.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

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
