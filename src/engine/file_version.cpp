#include "engine/file_version.h"

#include "base/owned.h"
#include "base/unicode_layer.h"

namespace {

void FreeGlobalBlock(HGLOBAL block) { GlobalFree(block); }
using OwnedGlobal = Owned<HGLOBAL, nullptr, FreeGlobalBlock>;

// A failed call that left no error behind must still not read as success.
DWORD LastError() {
    DWORD error = GetLastError();
    return error ? error : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

DWORD ReadVersionMS(const wchar_t* path, DWORD* version) {
    DWORD ignored = 0;
    DWORD size = UniGetFileVersionInfoSize(path, &ignored);
    if (size == 0) return LastError();
    OwnedGlobal block(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    if (!UniGetFileVersionInfo(path, 0, size, block.get())) return LastError();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // A fixed part shorter than its structure is as good as none: reading it would overrun.
    if (UniVerQueryValue(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof(VS_FIXEDFILEINFO))
        *version = fixed->dwFileVersionMS;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD GetFileVersionMS(const wchar_t* path, DWORD* versionMS) {
    DWORD version = kUnknownFileVersion;
    DWORD result = ReadVersionMS(path, &version);
    if (versionMS) *versionMS = version;
    return result;
}
