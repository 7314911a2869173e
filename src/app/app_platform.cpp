#include "app/app_platform.h"

#include <urlmon.h>

#include "app/system_probes.h"
#include "base/owned.h"
#include "base/unicode_layer.h"
#include "engine/installer_result.h"
#include "install/language_dlg.h"
#include "res/message.h"
#include "trust/signature.h"

int AppPlatform::Ask(UINT id, const wchar_t* insert) {
    return AfxMessageBox(FormatString(id, insert).c_str(), MB_YESNO | MB_ICONQUESTION);
}

int AppPlatform::Show(UINT id, UINT style) { return AfxMessageBox(id, style); }

void AppPlatform::ShowError(UINT id, const wchar_t* insert) { ShowErrorMessage(id, insert); }

const LanguageEntry* AppPlatform::ChooseLanguage(const LanguageEntry* languages, LANGID preselect) {
    return ::ChooseLanguage(languages, preselect);
}

// The dialog's lines belong to the main thread: the text is sent there and taken before
// the worker goes on.
void AppPlatform::SetTitle(UINT id, const wchar_t* insert) {
    UniSetWindowText(m_progress.m_wndTitle, FormatString(id, insert).c_str());
}

void AppPlatform::SetStatus(UINT id, const wchar_t* insert) {
    UniSetWindowText(m_progress.m_wndStatus, FormatString(id, insert).c_str());
}

bool AppPlatform::IsCancelled() { return m_progress.IsCancelled(); }

void AppPlatform::HideProgress() { ShowWindow(m_progress.m_hWnd, SW_HIDE); }

USHORT AppPlatform::NativeMachine() { return GetNativeMachine(); }

bool AppPlatform::FileExists(const wchar_t* path) { return UniGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

// urlmon brings OLE, wininet and shell32 along: bound at the first download, they stay out
// of the start-up. It stays loaded, since a cancelled transfer may still be ending on another
// thread. Only the worker downloads, so a plain variable does (a guarded static would pull in
// the C++ runtime's exception support).
static HMODULE g_urlmon;

HRESULT AppPlatform::Download(const wchar_t* url, wchar_t* path, DWORD capacity) {
    if (!g_urlmon) g_urlmon = UniLoadLibrary(L"urlmon.dll");
    auto download = LookupProc<decltype(&URLDownloadToCacheFileW)>(g_urlmon, "URLDownloadToCacheFileW");
    if (!download) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return m_progress.Download(download, url, path, capacity);
}

int AppPlatform::CompareSigners(const wchar_t* setupPath, const wchar_t* filePath) {
    return CompareFileSigners(setupPath, filePath, m_progress.m_hWnd);
}

void AppPlatform::ReportInstallerResult(UINT code) { ::ReportInstallerResult(code); }

DWORD AppPlatform::VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath) {
    return ::VerifyInSeparateProcess(setupPath, filePath);
}
