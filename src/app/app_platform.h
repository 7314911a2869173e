// The installation steps' view of the running program: its progress dialog, its message
// boxes, the language dialog, the processor, downloads into the URL cache, signature checks
// and installer messages.
#pragma once
#include "install/setup_platform.h"
#include "trust/progress_dlg.h"

class AppPlatform : public SetupPlatform {
public:
    explicit AppPlatform(CNapredekDlg& progress) : m_progress(progress) {}

    int Ask(UINT id, const wchar_t* insert) override;
    int Show(UINT id, UINT style) override;
    void ShowError(UINT id, const wchar_t* insert) override;
    const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect) override;
    void SetTitle(UINT id, const wchar_t* insert) override;
    void SetStatus(UINT id, const wchar_t* insert) override;
    bool IsCancelled() override;
    void HideProgress() override;
    USHORT NativeMachine() override;
    bool FileExists(const wchar_t* path) override;
    HRESULT Download(const wchar_t* url, wchar_t* path, DWORD capacity) override;
    int CompareSigners(const wchar_t* setupPath, const wchar_t* filePath) override;
    void ReportInstallerResult(UINT code) override;
    DWORD VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath) override;

private:
    CNapredekDlg& m_progress;
};
