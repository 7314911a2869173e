#include "engine/installer_result.h"

#include "base/owned.h"
#include "base/unicode_layer.h"
#include "res/message.h"
#include "res/resource.h"

namespace {

bool IsSilentResult(UINT code) {
    switch (code) {
        case ERROR_APPHELP_BLOCK:
        case ERROR_INSTALL_USEREXIT:
        case ERROR_INSTALL_FAILURE:
        case ERROR_INSTALL_SUSPEND:
        case ERROR_SUCCESS_REBOOT_INITIATED:
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            return true;
        default:
            return false;
    }
}

// A package that cannot be found or named is, to the user, a package that cannot be opened.
UINT ShownCode(UINT code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
        default:
            return code;
    }
}

// Windows Installer's own text for the code, shown as it is stored (placeholders included);
// false when the system has no such text.
bool ShowInstallerText(UINT code) {
    // String ids are 16 bits wide: a larger code would find the text of another one.
    if (code > 0xFFFF) return false;
    OwnedModule messages(UniLoadLibraryEx(L"msimsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!messages) return false;
    wchar_t text[1024];
    if (UniLoadString(messages.get(), code, text, ARRAYSIZE(text)) <= 0) return false;
    AfxMessageBox(text, kStyleError);
    return true;
}

}  // namespace

void ReportInstallerResult(UINT code) {
    if (IsSilentResult(code)) return;
    code = ShownCode(code);
    if (!ShowInstallerText(code)) ShowErrorMessage(IDS_INSTALL_ERROR, code);
}
