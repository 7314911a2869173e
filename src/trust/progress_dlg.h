// The progress dialog: the program's main window, showing a title, a status line and a
// progress bar, and at the same time the download callback. Cancel raises a flag that the
// worker polls, and ends a running download on the thread that runs it.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include <atomic>

class CNapredekDlg : public IBindStatusCallback {
public:
    CNapredekDlg() = default;
    CNapredekDlg(const CNapredekDlg&) = delete;
    CNapredekDlg& operator=(const CNapredekDlg&) = delete;
    virtual ~CNapredekDlg() = default;

    // Creates the dialog modeless from its template; the template makes it visible.
    HWND Create(HINSTANCE instance, HWND parent);
    // Sequentially consistent, as is the abort window's handle: a Cancel pressed just as a
    // download begins sees the one, or the download sees the flag.
    bool IsCancelled() const { return m_bCancel.load() != 0; }

    // Runs `download` (URLDownloadToCacheFileW) with this dialog as its callback on the calling
    // thread, where Cancel then aborts the transfer.
    using DownloadFunction = decltype(&URLDownloadToCacheFileW);
    HRESULT Download(DownloadFunction download, const wchar_t* url, wchar_t* path, DWORD capacity);

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                              STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

    HWND m_hWnd = nullptr;
    HWND m_wndIcon = nullptr;
    HWND m_wndTitle = nullptr;
    HWND m_wndStatus = nullptr;
    HWND m_wndProgress = nullptr;
    HWND m_btnCancel = nullptr;
    std::atomic<LONG> m_bCancel{0};
    HICON m_hIconSmall = nullptr;
    HICON m_hIconLarge = nullptr;
    HCURSOR m_hWaitCursor = nullptr;
    LONG m_nRefCount = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DoDataExchange();
    void OnInitDialog();
    void OnCancel();
    BOOL OnSetCursor(HWND under);
    void OnDestroy();
    static LRESULT CALLBACK AbortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void AbortTransfer();

    HINSTANCE m_hInstance = nullptr;
    // The download in progress, from OnStartBinding to OnStopBinding. A transfer that sends
    // nothing more never asks OnProgress, and some platforms go on after its E_ABORT: Cancel
    // then ends the transfer through it. Only the downloading thread touches it.
    IBinding* m_pBinding = nullptr;
    // While a download runs, a hidden window of the downloading thread, to which Cancel sends
    // its abort request: the platform's wait inside the download handles sent messages, but
    // dispatches none of the thread's own posted messages or timers.
    std::atomic<HWND> m_hAbortWindow{nullptr};
};
