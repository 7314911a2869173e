// What the installation steps ask of the running system and of the user, in one place, so
// that the steps' decisions can be exercised without windows, downloads or signatures.
#pragma once
#include <windows.h>

#include "engine/upgrade_platform.h"
#include "install/setup_tables.h"

class SetupPlatform : public UpgradePlatform {
public:
    // A Yes/No question from string `id` with one insert; the button pressed.
    virtual int Ask(UINT id, const wchar_t* insert) = 0;
    // The user's language choice, or null when cancelled.
    virtual const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect) = 0;
    // The progress dialog's title, from string `id` with one insert (null: the string has none).
    virtual void SetTitle(UINT id, const wchar_t* insert) = 0;
    virtual void HideProgress() = 0;
    // 0 no signature support, 1 trusted, 2 not trusted.
    virtual int CompareSigners(const wchar_t* setupPath, const wchar_t* filePath) = 0;
    virtual void ReportInstallerResult(UINT code) = 0;
};
