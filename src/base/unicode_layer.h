// The Unicode functions that Windows 95, 98 and Me only stub, behind one switch: on NT each
// calls the Unicode function, on the non-NT platform the ANSI one, with texts converted in the
// system's ANSI code page (the locale's for UniCompareString). Named as the Windows function,
// with "Uni" for the W; same arguments and results unless a line below says otherwise.
// Resource names (templates, icons, cursors) are numbers made with MAKEINTRESOURCEW.
#pragma once
#include <windows.h>
#include <stdarg.h>

#include "base/wide_string.h"

// Chosen once at start, before any other call here, from the platform probe; NT until then.
void UniChooseRoute(bool notNT);

// kernel32
DWORD UniGetModuleFileName(HMODULE module, wchar_t* path, DWORD capacity);
HANDLE UniCreateMutex(SECURITY_ATTRIBUTES* security, BOOL owned, const wchar_t* name);
BOOL UniCreateProcess(const wchar_t* application, wchar_t* commandLine, SECURITY_ATTRIBUTES* process,
                      SECURITY_ATTRIBUTES* thread, BOOL inherit, DWORD flags, void* environment,
                      const wchar_t* folder, STARTUPINFOW* startup, PROCESS_INFORMATION* started);
HMODULE UniLoadLibrary(const wchar_t* name);
HMODULE UniLoadLibraryEx(const wchar_t* name, HANDLE file, DWORD flags);
DWORD UniGetFileAttributes(const wchar_t* path);
HANDLE UniCreateFile(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                     DWORD attributes, HANDLE templateFile);
int UniCompareString(LCID locale, DWORD flags, const wchar_t* a, int lengthA, const wchar_t* b, int lengthB);
// FormatMessage from a string with an argument list: %n takes a wide string, %n!d! (any
// format but s) a 32-bit number. False, and an empty text, when formatting fails.
bool UniFormatMessage(const wchar_t* pattern, va_list* inserts, WideString* text);

// advapi32
LONG UniRegOpenKeyEx(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access, HKEY* key);
LONG UniRegQueryValueEx(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);

// version
DWORD UniGetFileVersionInfoSize(const wchar_t* path, DWORD* handle);
BOOL UniGetFileVersionInfo(const wchar_t* path, DWORD handle, DWORD size, void* block);
BOOL UniVerQueryValue(const void* block, const wchar_t* subBlock, void** value, UINT* length);

// user32: dialogs, window texts and data, resources
HWND UniCreateDialogParam(HINSTANCE instance, const wchar_t* dialog, HWND parent, DLGPROC procedure, LPARAM param);
INT_PTR UniDialogBoxParam(HINSTANCE instance, const wchar_t* dialog, HWND parent, DLGPROC procedure, LPARAM param);
BOOL UniSetWindowText(HWND window, const wchar_t* text);
LONG_PTR UniGetWindowLongPtr(HWND window, int index);
LONG_PTR UniSetWindowLongPtr(HWND window, int index, LONG_PTR value);
HANDLE UniLoadImage(HINSTANCE instance, const wchar_t* name, UINT type, int width, int height, UINT flags);
HICON UniLoadIcon(HINSTANCE instance, const wchar_t* name);
HCURSOR UniLoadCursor(HINSTANCE instance, const wchar_t* name);
int UniLoadString(HINSTANCE instance, UINT id, wchar_t* text, int capacity);

// user32: a window of the program's own class, for messages only. The class's menu name, if
// any, is a number.
ATOM UniRegisterClass(const WNDCLASSW* windowClass);
HWND UniCreateWindowEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                       int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
LRESULT UniDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// user32: messages. UniSendMessage is for messages that carry no text; UniSendTextMessage for
// one whose lParam is a text handed in (CB_ADDSTRING), -1 when the text cannot be converted.
LRESULT UniSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT UniSendTextMessage(HWND window, UINT message, WPARAM wParam, const wchar_t* text);
BOOL UniPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL UniSendNotifyMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL UniPostThreadMessage(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam);
BOOL UniGetMessage(MSG* message, HWND window, UINT first, UINT last);
BOOL UniPeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove);
LRESULT UniDispatchMessage(const MSG* message);
BOOL UniIsDialogMessage(HWND dialog, MSG* message);
