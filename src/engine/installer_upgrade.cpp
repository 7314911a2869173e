#include "engine/installer_upgrade.h"

#include <wchar.h>

#include "base/file_lock.h"
#include "base/native_machine.h"
#include "base/owned.h"
#include "base/unicode_layer.h"
#include "base/wide_string.h"
#include "engine/child_process.h"
#include "engine/download_step.h"
#include "engine/file_version.h"
#include "engine/installer_api.h"
#include "res/message.h"
#include "res/resource.h"

namespace {

constexpr DWORD kPathCapacity = 520;
// The redistributable extracts itself and runs its installer, which must not restart Windows.
constexpr wchar_t kDelayRebootSwitch[] = L" /c:\"msiinst /delayreboot\"";
constexpr size_t kDelayRebootSwitchLength = sizeof kDelayRebootSwitch / sizeof(wchar_t) - 1;
static_assert(kDelayRebootSwitchLength == 26, "the switch is 26 characters");
constexpr UINT kNotTrusted = 4;

// The msi.dll to examine: the configured folder's, else the one the plain name loads; empty
// when there is none.
bool FindInstallerFile(WideString* path) {
    OwnedKey key;
    if (UniRegOpenKeyEx(HKEY_LOCAL_MACHINE, kInstallerKeyPath, 0, KEY_READ, key.out()) == ERROR_SUCCESS &&
        ReadInstallerLocation(key.get(), path) && !path->empty())
        return path->Append(L"\\msi.dll");
    OwnedModule msi(UniLoadLibrary(L"msi.dll"));
    if (!msi) return path->Assign(L"");
    wchar_t name[kPathCapacity];
    DWORD length = UniGetModuleFileName(msi.get(), name, kPathCapacity);
    // A name cut short at the capacity is no name.
    return path->Assign(length && length < kPathCapacity ? name : L"");
}

}  // namespace

UINT EnsureInstallerVersion(const UpgradeContext& context, UpgradePlatform& platform) {
    if (!IsInstallerUpgradeNeeded(context.redist.minInstallerVersion)) return ERROR_SUCCESS;
    if (!context.isAdmin) {
        platform.Show(IDS_ADMIN_REQUIRED, kStyleError);
        return ERROR_INSTALL_FAILURE;
    }
    if (platform.Show(IDS_UPGRADE_PROMPT, kStyleQuestion) != IDYES) {
        platform.Show(IDS_CANCELLED, kStyleWarning);
        return ERROR_INSTALL_USEREXIT;
    }
    UINT result = UpgradeInstaller(context, platform);
    if (result != ERROR_SUCCESS_REBOOT_REQUIRED) return result;
    *context.restartNeeded = TRUE;
    return ERROR_SUCCESS;
}

bool IsInstallerUpgradeNeeded(DWORD minInstallerVersion) {
    WideString path;
    if (!FindInstallerFile(&path) || path.empty()) return true;
    DWORD versionMS = 0;
    if (GetFileVersionMS(path.c_str(), &versionMS) != ERROR_SUCCESS) return true;
    return VersionNumber(versionMS) < minInstallerVersion;
}

UINT UpgradeInstaller(const UpgradeContext& context, UpgradePlatform& platform) {
    const wchar_t* fileName = context.redist.file9x;
    if (!context.notNT) {
        if (platform.NativeMachine() != kMachineX86) return ERROR_INSTALL_PLATFORM_UNSUPPORTED;
        fileName = context.redist.fileNT;
    }

    WideString local;
    WideString address;
    if (!local.Assign(context.moduleFolder) || !local.Append(fileName) ||
        !address.Assign(context.redist.baseUrl) || !address.Append(fileName)) {
        platform.Show(IDS_OUT_OF_MEMORY, kStyleError);
        return ERROR_OUTOFMEMORY;
    }
    // A copy that came with the setup program is trusted as the program itself is.
    if (platform.FileExists(local.c_str())) return RunInstMsi(local.c_str(), platform);

    wchar_t downloaded[kPathCapacity];
    UINT code = DownloadStep(platform, address.c_str(), IDS_DOWNLOADING_INSTMSI, nullptr, IDS_INSTMSI_NOT_FOUND,
                             fileName, downloaded, kPathCapacity);
    if (code != ERROR_SUCCESS) return code;
    // Held from the second copy's check until the redistributable, which runs with the
    // administrator's rights, has ended: what was checked is what runs.
    FileLock lock;
    if (!lock.Hold(downloaded)) {
        platform.ShowError(IDS_INSTMSI_NOT_FOUND, address.c_str());
        return ERROR_FILE_NOT_FOUND;
    }
    switch (platform.VerifyInSeparateProcess(context.modulePath, downloaded)) {
        case ERROR_SUCCESS:
            // Cancel stays on offer through the second copy's check: pressed meanwhile, nothing runs.
            if (ShowIfCancelled(platform)) return ERROR_INSTALL_USEREXIT;
            return RunInstMsi(downloaded, platform);
        case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
            platform.Show(IDS_NO_SIGNATURE_SUPPORT, kStyleError);
            return ERROR_CALL_NOT_IMPLEMENTED;
        default:
            platform.ShowError(IDS_NOT_TRUSTED, downloaded);
            return kNotTrusted;
    }
}

UINT RunInstMsi(const wchar_t* path, UpgradePlatform& platform) {
    if (!IsPlausibleInstMsi(path)) {
        platform.ShowError(IDS_INVALID_INSTMSI, path);
        return ERROR_INVALID_PARAMETER;
    }
    UINT code = LaunchInstMsi(path);
    switch (code) {
        case ERROR_SUCCESS:
        case ERROR_SUCCESS_REBOOT_INITIATED:
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            break;
        case ERROR_FILE_NOT_FOUND:
            platform.ShowError(IDS_INSTMSI_NOT_FOUND, path);
            break;
        case ERROR_INSTALL_USEREXIT:
            platform.Show(IDS_CANCELLED, kStyleWarning);
            break;
        default:
            platform.Show(IDS_UPGRADE_FAILED, kStyleError);
            break;
    }
    return code;
}

bool IsPlausibleInstMsi(const wchar_t* path) {
    DWORD versionMS = 0;
    if (GetFileVersionMS(path, &versionMS) != ERROR_SUCCESS) return false;
    // Versions 10.00 to 11.99 are refused; the unsigned wrap lets everything below 10.00 pass.
    return VersionNumber(versionMS) - 1000u >= 200u;
}

UINT LaunchInstMsi(const wchar_t* path) {
    unsigned long long capacity = wcslen(path) + kDelayRebootSwitchLength + 3;
    return RunChildProcess(capacity, {L"\"", path, L"\"", kDelayRebootSwitch});
}
