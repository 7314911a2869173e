#include "base/file_lock.h"

#include "base/unicode_layer.h"

bool FileLock::Hold(const wchar_t* path) {
    // Sharing for reading only: Windows Installer, the trust check and a process started from
    // the file still read it. The non-NT platform honours the same share mode.
    HANDLE file = UniCreateFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    m_file.reset(file);
    return true;
}
