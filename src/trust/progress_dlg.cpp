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

// Sent to the downloading thread's abort window, with the dialog as its second parameter.
const UINT kAbortRequest = WM_APP;
const wchar_t kAbortWindowClass[] = L"SetupDownloadAbort";

}  // namespace

void CNapredekDlg::OnCancel() {
    m_bCancel.store(1);
    // The wait inside the download handles sent messages whenever it looks at its queue, and
    // looks when something is posted: the request is sent, and posted to wake it.
    if (HWND window = m_hAbortWindow.load()) {
        UniSendNotifyMessage(window, kAbortRequest, 0, reinterpret_cast<LPARAM>(this));
        UniPostMessage(window, kAbortRequest, 0, reinterpret_cast<LPARAM>(this));
    }
}

HRESULT CNapredekDlg::Download(DownloadFunction download, const wchar_t* url, wchar_t* path, DWORD capacity) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = AbortWindowProc;
    windowClass.hInstance = m_hInstance;
    windowClass.lpszClassName = kAbortWindowClass;
    UniRegisterClass(&windowClass);  // fails harmlessly once an earlier download has registered it
    // Without it, Cancel still ends every transfer that reports progress.
    HWND window = UniCreateWindowEx(0, kAbortWindowClass, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  m_hInstance, nullptr);
    m_hAbortWindow.store(window);
    HRESULT result = download(nullptr, url, path, capacity, 0, this);
    m_hAbortWindow.store(nullptr);
    // Requests still on their way die with the window.
    if (window) DestroyWindow(window);
    return result;
}

LRESULT CALLBACK CNapredekDlg::AbortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kAbortRequest) return UniDefWindowProc(window, message, wParam, lParam);
    reinterpret_cast<CNapredekDlg*>(lParam)->AbortTransfer();
    return 0;
}

void CNapredekDlg::AbortTransfer() {
    // The abort may stop the transfer at once, and OnStopBinding let it go: hold it meanwhile.
    IBinding* binding = m_pBinding;
    if (!binding) return;
    binding->AddRef();
    binding->Abort();
    binding->Release();
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
    if (m_pBinding) m_pBinding->Release();
    m_pBinding = binding;
    // A Cancel pressed before the transfer began found nothing to abort, and the abort must not
    // be called from here: Cancel is pressed again, and its request arrives once this returns.
    if (IsCancelled() && m_hWnd) UniPostMessage(m_hWnd, WM_COMMAND, IDCANCEL, 0);
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
    AbortTransfer();
    return E_ABORT;
}

HRESULT CNapredekDlg::OnStopBinding(HRESULT, LPCWSTR) {
    if (m_pBinding) m_pBinding->Release();
    m_pBinding = nullptr;
    return S_OK;
}
HRESULT CNapredekDlg::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
HRESULT CNapredekDlg::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }
HRESULT CNapredekDlg::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }
