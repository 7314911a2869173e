// The download and install floor: the same download (URLDownloadToCacheFileW) and install
// (MsiInstallProductW) setup.exe makes, with no window, no language choice and no signature
// check. Its callback only counts the progress notifications and the time spent in them.
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc != 4) return ERROR_BAD_ARGUMENTS;
    QueryPerformanceFrequency(&g_frequency);
    CountingCallback callback;
    wchar_t path[520] = L"";
    double downloading = Now();
    HRESULT downloaded = URLDownloadToCacheFileW(nullptr, __wargv[1], path, 520, 0, &callback);
    double installing = Now();
    UINT result = ERROR_FILE_NOT_FOUND;
    if (SUCCEEDED(downloaded)) {
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
