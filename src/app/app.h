// The application object: start-up and exit on the main thread, the worker thread that
// carries out the installation, and all state the two threads share.
#pragma once
#include <windows.h>

#include "app/command_line.h"
#include "base/wide_string.h"
#include "base/win_thread.h"
#include "engine/installer_api.h"
#include "install/setup_tables.h"
#include "trust/progress_dlg.h"

class CPrandelApp {
public:
    CPrandelApp() = default;
    CPrandelApp(const CPrandelApp&) = delete;
    CPrandelApp& operator=(const CPrandelApp&) = delete;

    // Before start-up: the module, the command line and the application title.
    void AttachProcess(HINSTANCE instance, const wchar_t* commandLine);
    // True: run the message loop; false: end now.
    bool InitInstance();
    // Dispatches messages until the worker's quit message.
    void Run();
    // Returns the process exit code.
    int ExitInstance();

    static DWORD WINAPI WorkerThreadProc(void* parameter);

    // Framework-style members.
    HINSTANCE m_hInstance = nullptr;
    wchar_t* m_lpCmdLine = nullptr;  // writable, after the program name
    DWORD m_nThreadID = 0;
    WideString m_pszAppName;
    CNapredekDlg* m_pMainWnd = nullptr;

    LANGID m_setupLangId = 0;
    INT m_exitCode = 0;
    DWORD m_osMajorVersion = 0;
    BOOL m_notNT = FALSE;
    BOOL m_isAdmin = FALSE;
    BOOL m_restartNeeded = FALSE;
    CommandMode m_commandMode = CommandNone;
    wchar_t* m_modulePath = nullptr;
    wchar_t* m_moduleFolder = nullptr;
    InstallerApi m_installerApi = {};
    CNapredekDlg m_progressDlg;
    CWinThread* m_pWorkerThread = nullptr;

    // Installs one product of the table; 0 to go on with the next.
    UINT InstallProductEntry(const ProductEntry& product);

private:
    UINT RunInstallation();
};

extern CPrandelApp theApp;
