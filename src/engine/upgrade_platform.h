// What the Windows Installer upgrade asks of the running system and of the user, so that its
// decisions can be exercised without windows, downloads or child processes. The installation
// sequence asks for more and extends it.
#pragma once
#include <windows.h>

#include "res/resource.h"

class UpgradePlatform {
public:
    virtual ~UpgradePlatform() = default;

    // A box from string `id` without inserts; the button pressed.
    virtual int Show(UINT id, UINT style) = 0;
    // An error box from string `id` with one text insert.
    virtual void ShowError(UINT id, const wchar_t* insert) = 0;
    // The progress dialog's status line, from string `id` with one insert (null: the string
    // has none).
    virtual void SetStatus(UINT id, const wchar_t* insert) = 0;
    virtual bool IsCancelled() = 0;
    virtual USHORT NativeMachine() = 0;
    virtual bool FileExists(const wchar_t* path) = 0;
    // Downloads into the URL cache with the progress dialog as callback; the local path
    // goes into `path` (capacity in characters).
    virtual HRESULT Download(const wchar_t* url, wchar_t* path, DWORD capacity) = 0;
    // The exit code of a second copy of the setup program judging `filePath` ("/v"): 0 trusted,
    // TRUST_E_PROVIDER_UNKNOWN no signature support, anything else not trusted.
    virtual DWORD VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath) = 0;
};

// True, after telling the user that setup was cancelled, once Cancel has been pressed.
inline bool ShowIfCancelled(UpgradePlatform& platform) {
    if (!platform.IsCancelled()) return false;
    platform.Show(IDS_CANCELLED, MB_OK | MB_ICONEXCLAMATION);
    return true;
}
