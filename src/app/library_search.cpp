#include "app/library_search.h"

#include <windows.h>

#include "base/owned.h"

void HardenLibrarySearch() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (!kernel32) return;
    // Both are missing on old systems, which keep their ordinary search order.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    if (auto restrict = LookupProc<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories"))
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (auto dropCurrent = LookupProc<SetDllDirectoryFn>(kernel32, "SetDllDirectoryW"))
        dropCurrent(L"");
}
