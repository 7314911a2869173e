#include "res/message.h"

#include <stdarg.h>

#include "base/app_state.h"
#include "base/unicode_layer.h"
#include "res/resource.h"

namespace {

// FindResourceW, which the non-NT platform implements too: the texts stay UTF-16 there.
bool FindStoredString(UINT id, const wchar_t** text, size_t* length) {
    HMODULE module = AfxGetInstanceHandle();
    HRSRC block = FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), RT_STRING);
    if (!block) return false;
    DWORD size = SizeofResource(module, block);
    HGLOBAL loaded = LoadResource(module, block);
    auto* entry = static_cast<const WCHAR*>(loaded ? LockResource(loaded) : nullptr);
    if (!entry) return false;
    // A block holds 16 counted strings; each length is checked against the block's size.
    const WCHAR* end = entry + size / sizeof(WCHAR);
    for (UINT skip = id % 16; skip > 0; --skip) {
        if (entry >= end || *entry > end - entry - 1) return false;
        entry += 1 + *entry;
    }
    if (entry >= end || *entry == 0 || *entry > end - entry - 1) return false;
    *text = entry + 1;
    *length = *entry;
    return true;
}

WideString FormatText(const wchar_t* pattern, va_list* inserts) {
    WideString result;
    UniFormatMessage(pattern, inserts, &result);
    return result;
}

}  // namespace

bool LoadResourceString(UINT id, WideString* text) {
    text->Clear();
    const wchar_t* stored = nullptr;
    size_t length = 0;
    if (!FindStoredString(id, &stored, &length)) return false;
    // Stored strings carry their terminator in the counted length.
    while (length > 0 && stored[length - 1] == L'\0') --length;
    return length > 0 && text->Append(stored, length);
}

HWND GetSafeOwner() {
    HWND main = AfxGetMainWnd();
    return main && IsWindow(main) ? GetLastActivePopup(main) : nullptr;
}

int AfxMessageBox(UINT id, UINT style) {
    WideString text;
    LoadResourceString(id, &text);
    return AfxMessageBox(text.c_str(), style);
}

int AfxMessageBox(const wchar_t* text, UINT style) {
    return MessageBoxW(GetSafeOwner(), text, AfxGetAppName(), style);
}

void ShowErrorMessage(UINT id, ...) {
    WideString pattern;
    if (!LoadResourceString(id, &pattern)) {
        AfxMessageBox(FormatString(IDS_MISSING_STRING, static_cast<int>(id)).c_str(), kStyleError);
        return;
    }
    va_list inserts;
    va_start(inserts, id);
    WideString text = FormatText(pattern.c_str(), &inserts);
    va_end(inserts);
    AfxMessageBox(text.c_str(), kStyleError);
}

WideString FormatString(UINT id, ...) {
    WideString pattern;
    if (!LoadResourceString(id, &pattern)) return WideString();
    va_list inserts;
    va_start(inserts, id);
    WideString text = FormatText(pattern.c_str(), &inserts);
    va_end(inserts);
    return text;
}
