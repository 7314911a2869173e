// The built-in description of what this program installs: one settings record, the product
// table and each product's language table. Constant; nothing changes them at run time.
#pragma once
#include <windows.h>

struct LanguageEntry {
    LANGID langId;  // 0 ends the table
    const wchar_t* displayName;
    const wchar_t* package9x;
    const wchar_t* packageX86;
    const wchar_t* packageX64;
    const wchar_t* packageArm64;
    const wchar_t* patch9x;
    const wchar_t* patchX86;
    const wchar_t* patchX64;
    const wchar_t* patchArm64;
};

struct ProductEntry {
    const wchar_t* downloadBase;
    const wchar_t* operation;
    const wchar_t* productName;  // null ends the table
    const wchar_t* properties;
    const wchar_t* productVersion;
    INT askFirst;
    INT uiLevel;
    const LanguageEntry* languages;
};

struct SetupSettings {
    const wchar_t* redistBaseUrl;
    const wchar_t* redistFile9x;
    const wchar_t* redistFileNT;
    const wchar_t* reserved1;
    const wchar_t* reserved2;
    DWORD minInstallerVersion;
    const ProductEntry* products;
    DWORD reserved3;
};

extern const SetupSettings g_setupSettings;
