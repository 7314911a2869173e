// The entry point: locks down library loading, then runs the application object. It is the
// ANSI one because the C runtime's Unicode start-up calls GetStartupInfoW, which the non-NT
// platform only stubs; the command line comes from GetCommandLineW, which it implements.
#include <windows.h>

#include "app/app.h"
#include "app/command_line.h"
#include "app/library_search.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HardenLibrarySearch();
    theApp.AttachProcess(instance, SkipProgramName(GetCommandLineW()));
    if (theApp.InitInstance())
        theApp.Run();
    else if (theApp.m_pMainWnd && IsWindow(theApp.m_pMainWnd->m_hWnd))
        DestroyWindow(theApp.m_pMainWnd->m_hWnd);
    return theApp.ExitInstance();
}
