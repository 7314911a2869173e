// Looking at and answering real windows from a test: waiting for the dialog or message box
// that another thread of the test shows, reading its controls, and keeping a picture of it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

inline std::wstring TextOf(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], length + 1));
    return text;
}

inline std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

// Dispatches this thread's messages for `ms` milliseconds: a dialog owned by one of this
// thread's windows needs them answered while another thread runs it.
inline void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

// The visible dialog-class window of thread `threadId`, pumping this thread's messages while
// waiting for it; null after `timeoutMs`.
inline HWND WaitForDialog(DWORD threadId, DWORD timeoutMs = 10000) {
    struct Search {
        static BOOL CALLBACK Visit(HWND window, LPARAM found) {
            if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
    };
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND found = nullptr;
        EnumThreadWindows(threadId, Search::Visit, reinterpret_cast<LPARAM>(&found));
        if (found) {
            PumpFor(50);  // let it finish painting and placing the focus
            return found;
        }
        PumpFor(10);
    }
    return nullptr;
}

// Ids of the visible buttons of a dialog, in window order.
inline std::vector<int> VisibleButtons(HWND dialog) {
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && ClassOf(child) == L"Button") ids.push_back(GetDlgCtrlID(child));
    return ids;
}

// Clicks a button as a user does: the button itself sends its command to the dialog.
inline void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// A key pressed on `control`, as the keyboard delivers it to the control that has the focus.
inline void PressKey(HWND control, WPARAM key) {
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

// Brings the dialog to the front, so that its focus is its own again if a window of another
// test took it meanwhile.
inline void Activate(HWND dialog) {
    SetForegroundWindow(dialog);
    PumpFor(50);
}

// Keeps a picture of the window as the screen shows it: screenshots\NAME.bmp in the test's
// working folder, for people to look at (nothing compares it).
inline void SaveWindowShot(HWND window, const std::wstring& name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpFor(100);
    RECT r;
    if (!GetWindowRect(window, &r)) return;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * height;
    CreateDirectoryW(L"screenshots", nullptr);
    std::wstring path = L"screenshots\\" + name + L".bmp";
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(out, &file, sizeof file, &written, nullptr);
        WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
        WriteFile(out, bits, stride * height, &written, nullptr);
        CloseHandle(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}
