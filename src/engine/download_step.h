// The download that the product installation and the installer upgrade share: the status
// line, the cancel tests around the transfer, and its failure message.
#pragma once
#include <windows.h>

#include "engine/upgrade_platform.h"

// Downloads `address` into the URL cache; 0 with the local path in `path` (a buffer of
// `capacity` characters) once the status line names `fileName` for verification. Otherwise
// the user has been told: 1602 when cancelled (before a failure of the transfer, which Cancel
// causes), or 2 with string `notFoundId` naming the address.
UINT DownloadStep(UpgradePlatform& platform, const wchar_t* address, UINT statusId, const wchar_t* statusInsert,
                  UINT notFoundId, const wchar_t* fileName, wchar_t* path, DWORD capacity);
