#include "trust/progress_dlg.h"

#include <commctrl.h>

#include "base/app_state.h"
#include "base/unicode_layer.h"
#include "res/resource.h"

HWND CNapredekDlg::Create(HINSTANCE instance, HWND parent) {
    m_hInstance = instance;
    return UniCreateDialogParam(instance, MAKEINTRESOURCEW(IDD_PROGRESS), parent, DialogProc,
                                reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CNapredekDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CNapredekDlg*>(lParam);
        UniSetWindowLongPtr(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        dialog->OnInitDialog();
        return FALSE;  // the focus has been placed on Cancel
    }
    auto* dialog = reinterpret_cast<CNapredekDlg*>(UniGetWindowLongPtr(window, DWLP_USER));
    if (!dialog) return FALSE;
    switch (message) {
        case WM_COMMAND:
            // Escape and Cancel only raise the flag; nothing closes or hides the window.
            if (LOWORD(wParam) == IDCANCEL) dialog->OnCancel();
            // A stray OK gets the plain dialog behaviour, which ends (hides) the dialog; no
            // control sends it, and Enter reaches the focused Cancel button instead.
            if (LOWORD(wParam) == IDOK) EndDialog(window, IDOK);
            return TRUE;
        case WM_SETCURSOR:
            if (!dialog->OnSetCursor(reinterpret_cast<HWND>(wParam))) return FALSE;
            UniSetWindowLongPtr(window, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_DESTROY:
            dialog->OnDestroy();
            return FALSE;
        case WM_NCDESTROY:
            // From here on the worker's updates find no window and send nothing.
            dialog->m_hWnd = dialog->m_wndIcon = dialog->m_wndTitle = dialog->m_wndStatus =
                dialog->m_wndProgress = dialog->m_btnCancel = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void CNapredekDlg::DoDataExchange() {
    m_wndIcon = GetDlgItem(m_hWnd, IDC_PROGRESS_ICON);
    m_wndTitle = GetDlgItem(m_hWnd, IDC_PROGRESS_TITLE);
    m_wndStatus = GetDlgItem(m_hWnd, IDC_PROGRESS_STATUS);
    m_wndProgress = GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
    m_btnCancel = GetDlgItem(m_hWnd, IDCANCEL);
}

void CNapredekDlg::OnInitDialog() {
    m_hIconSmall = static_cast<HICON>(UniLoadImage(m_hInstance, MAKEINTRESOURCEW(IDI_SETUP),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    m_hIconLarge = static_cast<HICON>(UniLoadImage(m_hInstance, MAKEINTRESOURCEW(IDI_SETUP),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                   GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    m_hWaitCursor = UniLoadCursor(nullptr, IDC_WAIT);
    DoDataExchange();
    UniSetWindowText(m_hWnd, AfxGetAppName());
    UniSendMessage(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
    UniSendMessage(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIconLarge));
    SetFocus(m_btnCancel);
    m_bCancel.store(0, std::memory_order_relaxed);
}

namespace {

DWORD WINAPI AbortBinding(void* binding) {
    static_cast<IBinding*>(binding)->Abort();
    static_cast<IBinding*>(binding)->Release();
    return 0;
}

}  // namespace

void CNapredekDlg::OnCancel() {
    m_bCancel.store(1, std::memory_order_relaxed);
    // The abort may wait for the transfer's own thread: never on the thread that serves the
    // window, which must stay responsive whatever the download does.
    if (IBinding* binding = CurrentBinding()) {
        HANDLE aborting = CreateThread(nullptr, 0, AbortBinding, binding, 0, nullptr);
        if (aborting)
            CloseHandle(aborting);
        else
            binding->Release();
    }
}

IBinding* CNapredekDlg::CurrentBinding() {
    EnterCriticalSection(&m_bindingLock);
    IBinding* binding = m_pBinding;
    if (binding) binding->AddRef();
    LeaveCriticalSection(&m_bindingLock);
    return binding;
}

BOOL CNapredekDlg::OnSetCursor(HWND under) {
    if (under && under == m_btnCancel) return FALSE;  // the button keeps the arrow
    SetCursor(m_hWaitCursor);
    return TRUE;
}

void CNapredekDlg::OnDestroy() {
    if (m_hIconLarge) {
        DestroyIcon(m_hIconLarge);
        m_hIconLarge = nullptr;
    }
    if (m_hIconSmall) {
        DestroyIcon(m_hIconSmall);
        m_hIconSmall = nullptr;
    }
}

HRESULT CNapredekDlg::QueryInterface(REFIID riid, void** object) {
    if (IsEqualIID(riid, IID_IBindStatusCallback) || IsEqualIID(riid, IID_IUnknown)) {
        *object = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The dialog lives inside the application object: the count serves the contract only.
ULONG CNapredekDlg::AddRef() { return static_cast<ULONG>(++m_nRefCount); }
ULONG CNapredekDlg::Release() { return static_cast<ULONG>(--m_nRefCount); }

HRESULT CNapredekDlg::OnStartBinding(DWORD, IBinding* binding) {
    if (binding) binding->AddRef();
    EnterCriticalSection(&m_bindingLock);
    IBinding* previous = m_pBinding;
    m_pBinding = binding;
    LeaveCriticalSection(&m_bindingLock);
    if (previous) previous->Release();
    return S_OK;
}
HRESULT CNapredekDlg::GetPriority(LONG*) { return S_OK; }
HRESULT CNapredekDlg::OnLowResource(DWORD) { return S_OK; }

HRESULT CNapredekDlg::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
    if (m_wndProgress && IsWindow(m_wndProgress)) {
        UniSendMessage(m_wndProgress, PBM_SETRANGE32, 0, progressMax);
        UniSendMessage(m_wndProgress, PBM_SETPOS, progress, 0);
    }
    if (!IsCancelled()) return S_OK;
    // Some platforms carry on after E_ABORT; the binding's own abort ends the transfer there.
    if (IBinding* binding = CurrentBinding()) AbortBinding(binding);
    return E_ABORT;
}

HRESULT CNapredekDlg::OnStopBinding(HRESULT, LPCWSTR) {
    EnterCriticalSection(&m_bindingLock);
    IBinding* binding = m_pBinding;
    m_pBinding = nullptr;
    LeaveCriticalSection(&m_bindingLock);
    if (binding) binding->Release();
    return S_OK;
}
HRESULT CNapredekDlg::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
HRESULT CNapredekDlg::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }
HRESULT CNapredekDlg::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }
