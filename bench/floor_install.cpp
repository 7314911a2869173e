// The download and install floor: the same download (URLDownloadToCacheFileW) and install
// (MsiInstallProductW) setup.exe makes, with no window and no language choice. Built with
// FLOOR_TRUST_CHECK it also checks the downloaded file once with the platform's trust check
// (WinVerifyTrust, silent) and installs it only when that passes, so that setup.exe's download
// phase, which holds its signature comparison, is measured against the same work. Its
// callback only counts the progress notifications and the time spent in them.
//
//   floor_install.exe URL UI-LEVEL REPORT-FILE
//
// The report is one JSON line: the notifications, the milliseconds spent in them, and when
// the download and the install began and ended (QueryPerformanceCounter in milliseconds, the
// clock the launcher reads too). The exit code is the installer's result.
#include <windows.h>
#include <msi.h>
#include <stdio.h>
#include <stdlib.h>
#include <urlmon.h>
#ifdef FLOOR_TRUST_CHECK
#include <softpub.h>
#include <wintrust.h>
#endif

namespace {

LARGE_INTEGER g_frequency;

double Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / g_frequency.QuadPart;
}

class CountingCallback : public IBindStatusCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IBindStatusCallback) || IsEqualIID(riid, IID_IUnknown)) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the stack for the whole download.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override {
        double entered = Now();
        ++calls;
        milliseconds += Now() - entered;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    unsigned calls = 0;
    double milliseconds = 0;
};

bool Trusted(const wchar_t* path) {
#ifdef FLOOR_TRUST_CHECK
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == 0;
#else
    (void)path;
    return true;
#endif
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc != 4) return ERROR_BAD_ARGUMENTS;
    QueryPerformanceFrequency(&g_frequency);
    CountingCallback callback;
    wchar_t path[520] = L"";
    double downloading = Now();
    HRESULT downloaded = URLDownloadToCacheFileW(nullptr, __wargv[1], path, 520, 0, &callback);
    bool trusted = SUCCEEDED(downloaded) && Trusted(path);
    double installing = Now();
    UINT result = SUCCEEDED(downloaded) ? static_cast<UINT>(TRUST_E_SUBJECT_NOT_TRUSTED) : ERROR_FILE_NOT_FOUND;
    if (trusted) {
        MsiSetInternalUI(static_cast<INSTALLUILEVEL>(_wtoi(__wargv[2])), nullptr);
        result = MsiInstallProductW(path, L"");
    }
    double ended = Now();
    if (FILE* report = _wfopen(__wargv[3], L"w")) {
        fprintf(report, "{\"calls\":%u,\"callback_ms\":%.3f,\"download_at\":%.3f,\"install_at\":%.3f,"
                "\"installed_at\":%.3f}\n", callback.calls, callback.milliseconds, downloading, installing, ended);
        fclose(report);
    }
    return static_cast<int>(result);
}
