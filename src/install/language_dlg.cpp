#include "install/language_dlg.h"

#include "base/app_state.h"
#include "base/unicode_layer.h"
#include "res/message.h"
#include "res/resource.h"

const LanguageEntry* CJezikDlg::ChooseLanguage(const LanguageEntry* languages, LANGID preselect) {
    m_pSelected = languages;
    m_pLanguages = languages;
    m_langId = preselect;
    INT_PTR result = UniDialogBoxParam(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDD_LANGUAGE),
                                       GetSafeOwner(), DialogProc, reinterpret_cast<LPARAM>(this));
    return result == IDOK ? m_pSelected : nullptr;
}

INT_PTR CALLBACK CJezikDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        UniSetWindowLongPtr(window, DWLP_USER, lParam);
        auto* dialog = reinterpret_cast<CJezikDlg*>(lParam);
        dialog->m_hWnd = window;
        dialog->OnInitDialog();
        return FALSE;  // the focus has been placed on the list
    }
    auto* dialog = reinterpret_cast<CJezikDlg*>(UniGetWindowLongPtr(window, DWLP_USER));
    return dialog ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CJezikDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_PAINT:
            return OnPaint();
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_LANGUAGE_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
                OnSelChangeLanguage();
            } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                // Neither reads the list: the answer is whatever m_pSelected holds.
                EndDialog(m_hWnd, LOWORD(wParam));
            }
            return TRUE;
        case WM_NCDESTROY:
            m_hWnd = m_btnCancel = m_cbLanguages = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void CJezikDlg::DoDataExchange() {
    m_btnCancel = GetDlgItem(m_hWnd, IDCANCEL);
    m_cbLanguages = GetDlgItem(m_hWnd, IDC_LANGUAGE_LIST);
}

void CJezikDlg::OnInitDialog() {
    DoDataExchange();
    UniSendMessage(m_cbLanguages, CB_RESETCONTENT, 0, 0);
    for (const LanguageEntry* entry = m_pLanguages; entry && entry->langId; ++entry) {
        LRESULT index = UniSendTextMessage(m_cbLanguages, CB_ADDSTRING, 0, entry->displayName);
        if (index < 0) continue;  // a name the list refuses leaves its record unselectable
        UniSendMessage(m_cbLanguages, CB_SETITEMDATA, index, reinterpret_cast<LPARAM>(entry));
        if (entry->langId == m_langId) {
            UniSendMessage(m_cbLanguages, CB_SETCURSEL, index, 0);
            m_pSelected = entry;
        }
    }
    SetFocus(m_cbLanguages);
    m_hIcon = UniLoadIcon(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_SETUP));
    UniSendMessage(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
}

void CJezikDlg::OnSelChangeLanguage() {
    LRESULT index = UniSendMessage(m_cbLanguages, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    m_pSelected = reinterpret_cast<const LanguageEntry*>(
        UniSendMessage(m_cbLanguages, CB_GETITEMDATA, index, 0));
}

// A minimised dialog shows its icon centred; otherwise the dialog paints as usual.
bool CJezikDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    UniSendMessage(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return true;
}

const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect) {
    CJezikDlg dialog;
    return dialog.ChooseLanguage(languages, preselect);
}
