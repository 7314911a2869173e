// Message boxes and texts built from the string table. Every box is captioned with the
// application title and owned by the progress dialog while it exists.
#pragma once
#include <windows.h>

#include "base/wide_string.h"

// Message box styles that occur.
constexpr UINT kStyleError = MB_OK | MB_ICONERROR;
constexpr UINT kStyleQuestion = MB_YESNO | MB_ICONQUESTION;
constexpr UINT kStyleWarning = MB_OK | MB_ICONWARNING;
constexpr UINT kStyleInformation = MB_OK | MB_ICONINFORMATION;

// The string with this id in the language the resource loader picks, without its stored
// terminator; false (and empty) when the id has no string or an empty one.
bool LoadResourceString(UINT id, WideString* text);

// The owner of boxes and modal dialogs: the progress dialog (or its last active pop-up)
// while it exists, else none.
HWND GetSafeOwner();

// A box showing string `id` (empty when missing); returns the button pressed.
int AfxMessageBox(UINT id, UINT style);
// A box showing a ready text.
int AfxMessageBox(const wchar_t* text, UINT style);

// String `id` with FormatMessage inserts (%1 wide strings, %1!d! 32-bit integers), as an
// error box; a missing id shows IDS_MISSING_STRING with that id instead.
void ShowErrorMessage(UINT id, ...);

// String `id` with inserts, for the caller to show; empty when the id is missing.
WideString FormatString(UINT id, ...);
