// The entry point: locks down library loading, then runs the application object.
// The ANSI entry: the C runtime's Unicode start-up asks for GetStartupInfoW, which the
// non-NT platform only stubs; GetCommandLineW is one it implements.
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
