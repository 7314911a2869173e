// The few process-wide values a framework gives every part of a program: the module whose
// resources are shown, the application title that captions every window and box, and the
// main window that owns them. The application object sets them once at start.
#pragma once
#include <windows.h>

// `mainWindow` points at where the main window's handle is kept, since the window comes
// and goes while the program runs; null while there is none.
void AfxSetAppState(HINSTANCE instance, const wchar_t* appName, const HWND* mainWindow);

HINSTANCE AfxGetInstanceHandle();
// Never null: empty until a title is set.
const wchar_t* AfxGetAppName();
// The main window's handle, or null.
HWND AfxGetMainWnd();
