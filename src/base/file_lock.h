// A file held open so that other programs can only read it: from the check of a downloaded
// file's signature to the end of its use, nobody can write, rename, delete or replace the
// bytes that were checked. Released when the owner goes.
#pragma once
#include <windows.h>

#include "base/owned.h"

class FileLock {
public:
    // False when the file cannot be held so: it is missing, or another handle may write or
    // delete it.
    bool Hold(const wchar_t* path);

private:
    OwnedHandle m_file;
};
