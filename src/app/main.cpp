// The entry point: locks down library loading, then runs the application object.
#include <windows.h>

#include "app/app.h"
#include "app/library_search.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    HardenLibrarySearch();
    theApp.AttachProcess(instance, commandLine);
    if (theApp.InitInstance())
        theApp.Run();
    else if (theApp.m_pMainWnd && IsWindow(theApp.m_pMainWnd->m_hWnd))
        DestroyWindow(theApp.m_pMainWnd->m_hWnd);
    return theApp.ExitInstance();
}
