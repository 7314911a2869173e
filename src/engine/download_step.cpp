#include "engine/download_step.h"

UINT DownloadStep(UpgradePlatform& platform, const wchar_t* address, UINT statusId, const wchar_t* statusInsert,
                  UINT notFoundId, const wchar_t* fileName, wchar_t* path, DWORD capacity) {
    platform.SetStatus(statusId, statusInsert);
    if (ShowIfCancelled(platform)) return ERROR_INSTALL_USEREXIT;
    path[0] = L'\0';
    HRESULT result = platform.Download(address, path, capacity);
    path[capacity - 1] = L'\0';
    if (FAILED(result)) path[0] = L'\0';
    if (ShowIfCancelled(platform)) return ERROR_INSTALL_USEREXIT;
    if (path[0] == L'\0') {
        platform.ShowError(notFoundId, address);
        return ERROR_FILE_NOT_FOUND;
    }
    platform.SetStatus(IDS_VERIFYING, fileName);
    if (ShowIfCancelled(platform)) return ERROR_INSTALL_USEREXIT;
    return ERROR_SUCCESS;
}
