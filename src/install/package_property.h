// Reads one value of a package's Property table through the bound installer functions.
#pragma once
#include <windows.h>

#include "engine/installer_api.h"

// True when every call succeeded; `value` (capacity characters, the size the installer is
// told) then holds the text and `length` its length. A value that does not fit fails.
bool ReadPackageProperty(const InstallerApi& api, const wchar_t* packagePath, const wchar_t* query,
                         wchar_t* value, DWORD capacity, DWORD* length);

extern const wchar_t kProductVersionQuery[];
extern const wchar_t kProductCodeQuery[];
