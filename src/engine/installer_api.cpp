#include "engine/installer_api.h"

#include "base/owned.h"
#include "base/unicode_layer.h"
#include "res/message.h"
#include "res/resource.h"

namespace {

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn* entry) {
    *entry = LookupProc<Fn>(module, name);
    return *entry != nullptr;
}

// In table order; the first missing export ends the lookups.
bool BindEntryPoints(InstallerApi* api) {
    HMODULE m = api->module;
    return Bind(m, "MsiSetInternalUI", &api->MsiSetInternalUI) &&
           Bind(m, "MsiInstallProductW", &api->MsiInstallProductW) &&
           Bind(m, "MsiApplyPatchW", &api->MsiApplyPatchW) &&
           Bind(m, "MsiReinstallProductW", &api->MsiReinstallProductW) &&
           Bind(m, "MsiQueryProductStateW", &api->MsiQueryProductStateW) &&
           Bind(m, "MsiOpenDatabaseW", &api->MsiOpenDatabaseW) &&
           Bind(m, "MsiDatabaseOpenViewW", &api->MsiDatabaseOpenViewW) &&
           Bind(m, "MsiViewExecute", &api->MsiViewExecute) &&
           Bind(m, "MsiViewFetch", &api->MsiViewFetch) &&
           Bind(m, "MsiRecordGetStringW", &api->MsiRecordGetStringW) &&
           Bind(m, "MsiCloseHandle", &api->MsiCloseHandle);
}

// The configured msi.dll, or null when the configuration names none that loads.
HMODULE LoadConfiguredInstaller() {
    OwnedKey key;
    if (UniRegOpenKeyEx(HKEY_LOCAL_MACHINE, kInstallerKeyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return nullptr;
    WideString path;
    if (!ReadInstallerLocation(key.get(), &path) || path.empty()) return nullptr;
    // Appended as is: a folder that already ends in a backslash gets a second one.
    if (!path.Append(L"\\msi.dll")) return nullptr;
    return UniLoadLibrary(path.c_str());
}

}  // namespace

UINT BindInstallerApi(InstallerApi* api) {
    api->module = LoadConfiguredInstaller();
    if (!api->module) api->module = UniLoadLibrary(L"msi.dll");
    if (!api->module || !BindEntryPoints(api)) {
        AfxMessageBox(IDS_UPGRADE_FAILED, kStyleError);
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

bool ReadInstallerLocation(HKEY key, WideString* text) {
    static const wchar_t kValue[] = L"InstallerLocation";
    DWORD size = 0;
    if (UniRegQueryValueEx(key, kValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;

    // Room for twice the bytes, so a value that grew since the size query still fits or fails.
    DWORD type = REG_NONE;
    DWORD bytes = size > MAXDWORD / 2 ? MAXDWORD : size * 2;
    if (!text->Reserve(size) ||
        UniRegQueryValueEx(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(text->buffer()),
                           &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        text->Clear();
        return false;
    }
    if (bytes == 0) {
        text->Clear();
        return true;
    }
    if (bytes % sizeof(wchar_t) != 0 || text->buffer()[bytes / sizeof(wchar_t) - 1] != L'\0') {
        text->Clear();
        return false;
    }
    text->SyncLength();
    return true;
}
