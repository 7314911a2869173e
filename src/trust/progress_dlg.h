// The progress dialog: the program's main window, showing a title, a status line and a
// progress bar, and at the same time the download callback. Cancel raises a flag that the
// worker polls, and ends a running download.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include <atomic>

class CNapredekDlg : public IBindStatusCallback {
public:
    CNapredekDlg() { InitializeCriticalSection(&m_bindingLock); }
    CNapredekDlg(const CNapredekDlg&) = delete;
    CNapredekDlg& operator=(const CNapredekDlg&) = delete;
    virtual ~CNapredekDlg() { DeleteCriticalSection(&m_bindingLock); }

    // Creates the dialog modeless from its template; the template makes it visible.
    HWND Create(HINSTANCE instance, HWND parent);
    bool IsCancelled() const { return m_bCancel.load(std::memory_order_relaxed) != 0; }

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
    // The download in progress with a reference for the caller, or null.
    IBinding* CurrentBinding();

    HINSTANCE m_hInstance = nullptr;
    // The download in progress. A transfer that sends nothing more never asks OnProgress, and
    // some platforms go on after its E_ABORT: Cancel then ends the transfer through it. The
    // worker sets and clears it while the main thread may be cancelling, hence the lock.
    IBinding* m_pBinding = nullptr;
    CRITICAL_SECTION m_bindingLock;
};
