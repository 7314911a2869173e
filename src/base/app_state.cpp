#include "base/app_state.h"

namespace {

HINSTANCE g_instance = nullptr;
const wchar_t* g_appName = L"";
const HWND* g_mainWindow = nullptr;

}  // namespace

void AfxSetAppState(HINSTANCE instance, const wchar_t* appName, const HWND* mainWindow) {
    g_instance = instance;
    g_appName = appName ? appName : L"";
    g_mainWindow = mainWindow;
}

HINSTANCE AfxGetInstanceHandle() { return g_instance; }

const wchar_t* AfxGetAppName() { return g_appName; }

HWND AfxGetMainWnd() { return g_mainWindow ? *g_mainWindow : nullptr; }
