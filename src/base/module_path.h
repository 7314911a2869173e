// Where the setup program lives: its full path and its folder.
#pragma once
#include <windows.h>

// The whole path of a loaded module, however long, in a block from malloc; null on failure.
wchar_t* ReadModulePath(HMODULE module);

// The folder of a path with its final backslash, or ".\" when the path has no backslash;
// a block from malloc, null when memory runs out.
wchar_t* FolderOfPath(const wchar_t* path);
