#include "res/message.h"

#include <stdarg.h>

#include "app/app.h"
#include "res/resource.h"

namespace {

HWND MessageOwner() {
    HWND main = theApp.m_progressDlg.m_hWnd;
    return main && IsWindow(main) ? main : nullptr;
}

WideString FormatText(const wchar_t* pattern, va_list* inserts) {
    WideString result;
    wchar_t* formatted = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, pattern, 0, 0,
                       reinterpret_cast<wchar_t*>(&formatted), 0, inserts)) {
        result.Assign(formatted);
        LocalFree(formatted);
    }
    return result;
}

WideString FormatStringV(UINT id, va_list* inserts) {
    WideString pattern;
    if (!LoadResourceString(id, &pattern)) return WideString();
    return FormatText(pattern.c_str(), inserts);
}

}  // namespace

bool LoadResourceString(UINT id, WideString* text) {
    text->Clear();
    const wchar_t* stored = nullptr;
    int length = LoadStringW(theApp.m_hInstance, id, reinterpret_cast<wchar_t*>(&stored), 0);
    if (length <= 0 || !stored) return false;
    // Stored strings carry their terminator in the counted length.
    while (length > 0 && stored[length - 1] == L'\0') --length;
    return length > 0 && text->Append(stored, length);
}

int AfxMessageBox(UINT id, UINT style) {
    WideString text;
    LoadResourceString(id, &text);
    return AfxMessageBox(text.c_str(), style);
}

int AfxMessageBox(const wchar_t* text, UINT style) {
    return MessageBoxW(MessageOwner(), text, theApp.m_pszAppName.c_str(), style);
}

void ShowErrorMessage(UINT id, ...) {
    va_list inserts;
    va_start(inserts, id);
    WideString text = FormatStringV(id, &inserts);
    va_end(inserts);
    if (text.empty()) text = FormatString(IDS_MISSING_STRING, id);
    AfxMessageBox(text.c_str(), kStyleError);
}

WideString FormatString(UINT id, ...) {
    va_list inserts;
    va_start(inserts, id);
    WideString text = FormatStringV(id, &inserts);
    va_end(inserts);
    return text;
}
