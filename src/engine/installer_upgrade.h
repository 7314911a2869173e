// Making sure Windows Installer 2.00 or later is present: the version check, the user's
// consent, the redistributable from beside the setup program or downloaded and checked in a
// second copy of it, and the run with a delayed restart. Every failure is shown here, then
// returned as its code.
#pragma once
#include <windows.h>

#include "engine/upgrade_platform.h"

// Where the redistributable comes from and which installer is new enough, from the settings.
struct RedistSettings {
    const wchar_t* baseUrl;  // the file name is appended directly
    const wchar_t* file9x;
    const wchar_t* fileNT;
    DWORD minInstallerVersion;  // major * 100 + minor
};

// What the upgrade reads of the running setup program, and the one thing it writes.
struct UpgradeContext {
    bool notNT;
    bool isAdmin;
    const wchar_t* moduleFolder;  // ends in a backslash
    const wchar_t* modulePath;
    BOOL* restartNeeded;  // set when the redistributable asked for a restart
    RedistSettings redist;
};

// 0 to go on with binding and installing; otherwise the code with which the worker stops.
// A redistributable that asked for a restart (3010) sets *restartNeeded and gives 0.
UINT EnsureInstallerVersion(const UpgradeContext& context, UpgradePlatform& platform);

// True when the msi.dll that "InstallerLocation" names (or, without one, the one the plain
// name loads) is missing, unreadable or older than `minInstallerVersion`.
bool IsInstallerUpgradeNeeded(DWORD minInstallerVersion);

// The redistributable for the platform, from beside the setup program or downloaded.
UINT UpgradeInstaller(const UpgradeContext& context, UpgradePlatform& platform);

// Runs a redistributable that looks genuine and turns its exit code into a message and a result.
UINT RunInstMsi(const wchar_t* path, UpgradePlatform& platform);

// False for a file without readable version information and for versions 10.00 to 11.99.
bool IsPlausibleInstMsi(const wchar_t* path);

// Runs the redistributable with the delayed restart; its exit code or the runner's failure code.
UINT LaunchInstMsi(const wchar_t* path);
