#include "app/app.h"

#include <stdlib.h>
#include <wchar.h>

#include "app/app_platform.h"
#include "app/common_controls.h"
#include "app/system_probes.h"
#include "base/app_state.h"
#include "base/module_path.h"
#include "base/unicode_layer.h"
#include "engine/installer_upgrade.h"
#include "install/install_sequence.h"
#include "install/setup_tables.h"
#include "res/message.h"
#include "res/resource.h"
#include "trust/signature.h"

CPrandelApp theApp;

namespace {

wchar_t* DuplicateText(const wchar_t* text) { return _wcsdup(text ? text : L""); }

// The title captions every box; without the string, the program file's name stands in.
void LoadAppTitle(HINSTANCE instance, WideString* title) {
    if (LoadResourceString(IDS_APP_TITLE, title)) return;
    wchar_t* path = ReadModulePath(instance);
    if (!path) return;
    wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    if (wchar_t* extension = wcsrchr(name, L'.')) *extension = L'\0';
    title->Assign(name);
    free(path);
}

}  // namespace

void CPrandelApp::AttachProcess(HINSTANCE instance, const wchar_t* commandLine) {
    m_hInstance = instance;
    m_nThreadID = GetCurrentThreadId();
    // The platform first: it decides whether the Unicode functions or the ANSI ones are called,
    // from the title and the module path on.
    DWORD major = 0;
    m_notNT = QueryOsVersion(&major);
    m_osMajorVersion = major;
    UniChooseRoute(m_notNT);
    // Our own copy: the verify and admin modes end their arguments with terminators.
    m_lpCmdLine = DuplicateText(commandLine);
    // The title is a resource of this module, so the module is known before the title.
    AfxSetAppState(instance, nullptr, &m_progressDlg.m_hWnd);
    LoadAppTitle(instance, &m_pszAppName);
    AfxSetAppState(instance, m_pszAppName.c_str(), &m_progressDlg.m_hWnd);
}

bool CPrandelApp::InitInstance() {
    m_modulePath = ReadModulePath(m_hInstance);
    if (!m_modulePath) m_modulePath = DuplicateText(L"");
    m_moduleFolder = FolderOfPath(m_modulePath);

    m_setupLangId = GetUserDefaultLangID();
    m_exitCode = 0;
    m_isAdmin = IsUserAdmin(m_notNT, m_osMajorVersion);
    m_restartNeeded = FALSE;
    m_commandMode = ClassifyCommandLine(m_lpCmdLine);

    if (m_commandMode == CommandVerify) {
        m_exitCode = static_cast<INT>(RunVerifyCommand(m_modulePath, m_lpCmdLine, CompareFileSigners));
        if (m_exitCode != ERROR_BAD_ARGUMENTS) return false;
    }
    if (m_exitCode == ERROR_BAD_ARGUMENTS || m_commandMode == CommandOther) {
        AfxMessageBox(IDS_USAGE, kStyleInformation);
        return false;
    }
    if (IsAnotherSetupRunning(m_notNT, m_osMajorVersion)) {
        m_exitCode = ERROR_INSTALL_ALREADY_RUNNING;
        return false;
    }

    // The progress bar's window class must be registered before the dialog is created. Bound
    // at run time: Windows 95 and NT 4 refuse a program importing what their comctl32 lacks.
    // The library stays loaded, as the class lives in it.
    InitProgressBarClass(LoadLibraryA("comctl32.dll"));
    m_progressDlg.Create(m_hInstance, GetDesktopWindow());
    m_pMainWnd = &m_progressDlg;

    m_pWorkerThread = CWinThread::BeginSuspended(WorkerThreadProc, nullptr);
    if (!m_pWorkerThread) return false;
    ResumeThread(m_pWorkerThread->m_hThread);
    return true;
}

void CPrandelApp::Run() {
    MSG message;
    while (UniGetMessage(&message, nullptr, 0, 0) > 0) {
        HWND dialog = m_progressDlg.m_hWnd;
        if (dialog && UniIsDialogMessage(dialog, &message)) continue;
        TranslateMessage(&message);
        UniDispatchMessage(&message);
    }
}

int CPrandelApp::ExitInstance() {
    if (m_pWorkerThread) {
        WaitForSingleObject(m_pWorkerThread->m_hThread, INFINITE);
        CWinThread::Delete(m_pWorkerThread);
        m_pWorkerThread = nullptr;
    }
    if (m_progressDlg.m_hWnd && IsWindow(m_progressDlg.m_hWnd)) DestroyWindow(m_progressDlg.m_hWnd);
    if (m_installerApi.module) FreeLibrary(m_installerApi.module);

    if (m_restartNeeded && AfxMessageBox(IDS_REBOOT_PROMPT, kStyleQuestion) == IDYES) {
        if (!m_notNT) EnableShutdownPrivilege();
        ExitWindowsEx(EWX_REBOOT, 0);
    }

    free(m_modulePath);
    m_modulePath = nullptr;
    free(m_moduleFolder);
    m_moduleFolder = nullptr;
    return m_exitCode;
}

DWORD WINAPI CPrandelApp::WorkerThreadProc(void*) {
    UINT code = theApp.RunInstallation();
    // The last thing the worker does: the main thread then waits for it without dispatching.
    UniPostThreadMessage(theApp.m_nThreadID, WM_QUIT, 0, 0);
    return code;
}

UINT CPrandelApp::RunInstallation() {
    AppPlatform platform(m_progressDlg);
    const SetupSettings& settings = g_setupSettings;
    UpgradeContext upgrade = {m_notNT != FALSE, m_isAdmin != FALSE, m_moduleFolder, m_modulePath, &m_restartNeeded,
                              {settings.redistBaseUrl, settings.redistFile9x, settings.redistFileNT,
                               settings.minInstallerVersion}};
    UINT code = EnsureInstallerVersion(upgrade, platform);
    if (code == ERROR_SUCCESS) code = BindInstallerApi(&m_installerApi);
    for (const ProductEntry* product = g_setupSettings.products;
         code == ERROR_SUCCESS && product->productName; ++product)
        code = InstallProductEntry(*product);
    return code;
}

UINT CPrandelApp::InstallProductEntry(const ProductEntry& product) {
    AppPlatform platform(m_progressDlg);
    bool admin = m_commandMode == CommandAdmin;
    const wchar_t* targetFolder = nullptr;
    if (admin) GetAdminTargetFolder(m_lpCmdLine, &targetFolder);
    InstallContext context = {&m_setupLangId, m_notNT != FALSE, admin, targetFolder,
                              m_moduleFolder, m_modulePath, &m_installerApi};
    return InstallProduct(product, context, platform);
}
