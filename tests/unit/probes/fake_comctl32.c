/* Stands in for the comctl32 of Windows 95 and NT 4 before Internet Explorer 3, which has
   InitCommonControls but not InitCommonControlsEx: Wine's comctl32 has both. Counts its calls. */
#include <windows.h>

static LONG calls;

__declspec(dllexport) LONG CallCount(void) { return calls; }

__declspec(dllexport) void WINAPI InitCommonControls(void) { ++calls; }
