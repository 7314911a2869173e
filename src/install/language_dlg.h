// The language dialog: a sorted drop-down list of a product's languages with OK and Cancel,
// run modally on the worker thread to choose which of the product's packages is installed.
#pragma once
#include <windows.h>

#include "install/setup_tables.h"

class CJezikDlg {
public:
    CJezikDlg() = default;
    CJezikDlg(const CJezikDlg&) = delete;
    CJezikDlg& operator=(const CJezikDlg&) = delete;

    // Shows `languages` (ended by a record with langId 0; may be null) with the last record
    // whose langId is `preselect` selected. Returns the chosen record on OK (the table's first
    // record when nothing was chosen), null on Cancel or when the dialog cannot be shown.
    const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect);

    HICON m_hIcon = nullptr;  // a shared resource icon: never destroyed
    const LanguageEntry* m_pLanguages = nullptr;
    const LanguageEntry* m_pSelected = nullptr;
    LANGID m_langId = 0;
    HWND m_btnCancel = nullptr;
    HWND m_cbLanguages = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void DoDataExchange();
    void OnInitDialog();
    void OnSelChangeLanguage();
    bool OnPaint();

    HWND m_hWnd = nullptr;
};

// One dialog for one choice, as the installation sequence needs it.
const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect);
