#include "base/module_path.h"

#include <stdlib.h>
#include <wchar.h>

#include "base/unicode_layer.h"

namespace {
constexpr DWORD kFirstPathCapacity = 520;
constexpr DWORD kLongestPath = 32768;  // the longest path Windows knows
}  // namespace

wchar_t* ReadModulePath(HMODULE module) {
    // GetModuleFileNameW cuts a path that does not fit without failing: grow until it fits.
    for (DWORD capacity = kFirstPathCapacity; capacity <= 2 * kLongestPath; capacity *= 2) {
        auto* path = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
        if (!path) return nullptr;
        DWORD length = UniGetModuleFileName(module, path, capacity);
        if (length == 0) {
            free(path);
            return nullptr;
        }
        if (length < capacity - 1) {
            path[length] = L'\0';
            return path;
        }
        free(path);
    }
    return nullptr;
}

wchar_t* FolderOfPath(const wchar_t* path) {
    const wchar_t* lastSlash = path ? wcsrchr(path, L'\\') : nullptr;
    if (!lastSlash) return _wcsdup(L".\\");
    size_t length = static_cast<size_t>(lastSlash - path) + 1;
    auto* folder = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (!folder) return nullptr;
    wmemcpy(folder, path, length);
    folder[length] = L'\0';
    return folder;
}
