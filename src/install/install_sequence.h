// The installation of one product: the question, the language, the package or patch for the
// platform, the copy beside the setup program or a verified download, and the call to
// Windows Installer. Every failure is shown here, then returned as its code.
#pragma once
#include <windows.h>

#include "engine/installer_api.h"
#include "install/setup_platform.h"
#include "install/setup_tables.h"

// What the sequence reads of the running setup program, and the one thing it writes.
struct InstallContext {
    LANGID* setupLangId;  // pre-selection in, the language used for this product out
    bool notNT;
    bool adminMode;  // "/a": an administrative installation
    const wchar_t* adminTargetFolder;  // the folder after "/a", or null when none was given
    const wchar_t* moduleFolder;
    const wchar_t* modulePath;
    const InstallerApi* api;
};

// 0 to go on with the next product; otherwise the code with which the worker stops.
UINT InstallProduct(const ProductEntry& product, const InstallContext& context, SetupPlatform& platform);
