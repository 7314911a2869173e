// The progress dialog made from the real template (linked into this program) under Wine, in
// each UI language: what it shows, what Cancel does and does not do, the cursor, and the
// download callback, called from a second thread as the download machinery calls it.
#include "trust/progress_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/app.h"
#include "expected_texts.h"
#include "res/message.h"
#include "res/resource.h"
#include "window_probe.h"

namespace {

// The main thread's loop as the application runs it: keys go through the dialog manager.
void PumpDialog(HWND dialog, DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

// Runs `work` on a second thread while this one keeps dispatching, as the main thread does
// while the worker sends its updates.
void OnWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    while (!done) PumpFor(5);
    worker.join();
}

int BarPosition(const CNapredekDlg& dialog) { return int(SendMessageW(dialog.m_wndProgress, PBM_GETPOS, 0, 0)); }
int BarMaximum(const CNapredekDlg& dialog) { return int(SendMessageW(dialog.m_wndProgress, PBM_GETRANGE, FALSE, 0)); }

SIZE IconSize(HICON icon) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return {0, 0};
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return {bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

class ProgressDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        theApp.AttachProcess(GetModuleHandleW(nullptr), L"");
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override {
        ASSERT_NE(nullptr, m_dialog.Create(GetModuleHandleW(nullptr), GetDesktopWindow()));
        PumpDialog(m_dialog.m_hWnd, 50);
    }
    void TearDown() override {
        if (m_dialog.m_hWnd) DestroyWindow(m_dialog.m_hWnd);
    }
    void Click(int id) {
        SendMessageW(GetDlgItem(m_dialog.m_hWnd, id), BM_CLICK, 0, 0);
        PumpDialog(m_dialog.m_hWnd, 20);
    }

    CNapredekDlg m_dialog;
};

TEST_F(ProgressDialogTest, ShowsTheTemplateInTheUiLanguageWithTitleIconsAndFocus) {
    ASSERT_NE(0, LanguageAskedFor()) << "run with LANG naming one of the four languages";
    ASSERT_EQ(LanguageAskedFor(), GetUserDefaultUILanguage());
    const ExpectedLanguage& language = ExpectedForUser();
    HWND window = m_dialog.m_hWnd;
    EXPECT_EQ(language.progressCaption, TextOf(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(0, GetWindowLongW(window, GWL_STYLE) & WS_SYSMENU) << "no system menu, no close box";
    EXPECT_EQ(language.cancel, TextOf(m_dialog.m_btnCancel));

    struct Bound {
        HWND window;
        int id;
    };
    for (Bound control : {Bound{m_dialog.m_wndIcon, IDC_PROGRESS_ICON}, Bound{m_dialog.m_wndTitle, IDC_PROGRESS_TITLE},
                          Bound{m_dialog.m_wndStatus, IDC_PROGRESS_STATUS}, Bound{m_dialog.m_wndProgress, IDC_PROGRESS_BAR},
                          Bound{m_dialog.m_btnCancel, IDCANCEL}}) {
        SCOPED_TRACE(control.id);
        EXPECT_EQ(GetDlgItem(window, control.id), control.window);
        EXPECT_NE(nullptr, control.window);
    }
    EXPECT_EQ(L"", TextOf(m_dialog.m_wndTitle));
    EXPECT_EQ(L"", TextOf(m_dialog.m_wndStatus));
    EXPECT_EQ(0, BarPosition(m_dialog));
    EXPECT_NE(0, SendMessageW(m_dialog.m_wndIcon, STM_GETICON, 0, 0)) << "the icon control shows the setup icon";

    HICON small = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
    HICON large = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    EXPECT_EQ(m_dialog.m_hIconSmall, small);
    EXPECT_EQ(m_dialog.m_hIconLarge, large);
    ASSERT_NE(nullptr, small);
    ASSERT_NE(nullptr, large);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), IconSize(small).cx);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), IconSize(large).cx);

    for (int attempt = 0; attempt < 10 && GetFocus() != m_dialog.m_btnCancel; ++attempt) Activate(window);
    EXPECT_EQ(m_dialog.m_btnCancel, GetFocus());
    EXPECT_FALSE(m_dialog.IsCancelled());

    // What the worker writes during a download, kept as a picture for people to look at.
    OnWorker([this] {
        SetWindowTextW(m_dialog.m_wndTitle, FormatString(IDS_WAIT_DOWNLOAD, L"Quorvel").c_str());
        SetWindowTextW(m_dialog.m_wndStatus, FormatString(IDS_DOWNLOADING, L"Quorvel.Win32.En.msi").c_str());
        m_dialog.OnProgress(45, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    });
    EXPECT_EQ(45, BarPosition(m_dialog));
    SaveWindowShot(window, std::wstring(L"progress_") + std::wstring(language.name, language.name + 2));
}

TEST_F(ProgressDialogTest, CancelEscapeAndCloseOnlyRaiseTheFlag) {
    struct Trigger {
        const char* name;
        std::function<void(CNapredekDlg&)> press;
    };
    const Trigger triggers[] = {
        {"Cancel button", [](CNapredekDlg& d) { SendMessageW(d.m_btnCancel, BM_CLICK, 0, 0); }},
        {"Escape key", [](CNapredekDlg& d) {
             SetFocus(d.m_btnCancel);
             PostMessageW(d.m_btnCancel, WM_KEYDOWN, VK_ESCAPE, 1);
         }},
        {"close command", [](CNapredekDlg& d) { PostMessageW(d.m_hWnd, WM_CLOSE, 0, 0); }},
    };
    for (const Trigger& trigger : triggers) {
        SCOPED_TRACE(trigger.name);
        CNapredekDlg dialog;
        ASSERT_NE(nullptr, dialog.Create(GetModuleHandleW(nullptr), GetDesktopWindow()));
        SetWindowTextW(dialog.m_wndTitle, L"title line");
        SetWindowTextW(dialog.m_wndStatus, L"status line");
        dialog.OnProgress(10, 100, 0, nullptr);
        for (int press = 1; press <= 2; ++press) {
            SCOPED_TRACE(press);
            trigger.press(dialog);
            PumpDialog(dialog.m_hWnd, 50);
            EXPECT_TRUE(dialog.IsCancelled());
            ASSERT_TRUE(IsWindow(dialog.m_hWnd));
            EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
            EXPECT_TRUE(IsWindowEnabled(dialog.m_hWnd));
            EXPECT_TRUE(IsWindowEnabled(dialog.m_btnCancel));
            EXPECT_EQ(L"title line", TextOf(dialog.m_wndTitle));
            EXPECT_EQ(L"status line", TextOf(dialog.m_wndStatus));
            EXPECT_EQ(10, BarPosition(dialog));
        }
        DestroyWindow(dialog.m_hWnd);
    }
}

TEST_F(ProgressDialogTest, WaitCursorEverywhereButOverCancel) {
    HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    EXPECT_EQ(wait, m_dialog.m_hWaitCursor);
    struct Case {
        const char* where;
        HWND window;
        WORD hitTest;
        HCURSOR expected;
    };
    const Case cases[] = {
        {"title", m_dialog.m_wndTitle, HTCLIENT, wait},
        {"status", m_dialog.m_wndStatus, HTCLIENT, wait},
        {"bar", m_dialog.m_wndProgress, HTCLIENT, wait},
        {"icon", m_dialog.m_wndIcon, HTCLIENT, wait},
        {"client area", m_dialog.m_hWnd, HTCLIENT, wait},
        {"caption", m_dialog.m_hWnd, HTCAPTION, wait},
        {"border", m_dialog.m_hWnd, HTBORDER, wait},
        {"Cancel button", m_dialog.m_btnCancel, HTCLIENT, arrow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        SetCursor(c.expected == wait ? arrow : wait);
        // Sent to the window under the pointer, which asks its parent first, as the system does.
        SendMessageW(c.window, WM_SETCURSOR, reinterpret_cast<WPARAM>(c.window), MAKELPARAM(c.hitTest, WM_MOUSEMOVE));
        EXPECT_EQ(c.expected, GetCursor());
    }
}

TEST_F(ProgressDialogTest, QueryInterfaceAnswersOnlyTheCallbackAndIUnknown) {
    IBindStatusCallback* callback = &m_dialog;
    struct Case {
        const char* name;
        const IID& iid;
        HRESULT result;
    };
    const Case cases[] = {
        {"IBindStatusCallback", IID_IBindStatusCallback, S_OK},
        {"IUnknown", IID_IUnknown, S_OK},
        {"IBinding", IID_IBinding, E_NOINTERFACE},
        {"IHttpNegotiate", IID_IHttpNegotiate, E_NOINTERFACE},
        {"IAuthenticate", IID_IAuthenticate, E_NOINTERFACE},
        {"IServiceProvider", IID_IServiceProvider, E_NOINTERFACE},
        {"IWindowForBindingUI", IID_IWindowForBindingUI, E_NOINTERFACE},
        {"IDispatch", IID_IDispatch, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LONG before = m_dialog.m_nRefCount;
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(c.result, callback->QueryInterface(c.iid, &object));
        if (c.result == S_OK) {
            EXPECT_EQ(static_cast<void*>(callback), object);
            EXPECT_EQ(before + 1, m_dialog.m_nRefCount);
        } else {
            EXPECT_EQ(nullptr, object);
            EXPECT_EQ(before, m_dialog.m_nRefCount);
        }
    }
}

TEST_F(ProgressDialogTest, ReferenceCountFreesNothing) {
    IBindStatusCallback* callback = &m_dialog;
    EXPECT_EQ(0, m_dialog.m_nRefCount);
    EXPECT_EQ(1u, callback->AddRef());
    EXPECT_EQ(2u, callback->AddRef());
    EXPECT_EQ(1u, callback->Release());
    EXPECT_EQ(0u, callback->Release());
    EXPECT_EQ(ULONG(-1), callback->Release());
    // Still whole: the window and the callback work as before.
    EXPECT_TRUE(IsWindow(m_dialog.m_hWnd));
    EXPECT_EQ(S_OK, callback->OnProgress(3, 9, 0, nullptr));
    EXPECT_EQ(3, BarPosition(m_dialog));
}

TEST_F(ProgressDialogTest, OnProgressSetsRangeThenPositionAndAbortsOnceCancelled) {
    struct Step {
        ULONG progress, maximum;
        int position, high;  // as the bar reports them afterwards
        bool cancelFirst;
        HRESULT result;
    };
    const Step steps[] = {
        {0, 0, 0, 0, false, S_OK},           // size not known yet: an empty bar
        {50, 100, 50, 100, false, S_OK},
        {150, 300, 150, 300, false, S_OK},   // beyond the old range: the range is set first
        {70000, 100000, 70000, 100000, false, S_OK},
        {80000, 100000, 80000, 100000, true, E_ABORT},  // still moves the bar, then aborts
        {90000, 100000, 90000, 100000, false, E_ABORT},  // and keeps aborting
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.progress);
        if (step.cancelFirst) Click(IDCANCEL);
        HRESULT result = E_FAIL;
        OnWorker([&] { result = m_dialog.OnProgress(step.progress, step.maximum, BINDSTATUS_DOWNLOADINGDATA, L"x"); });
        EXPECT_EQ(step.result, result);
        EXPECT_EQ(step.position, BarPosition(m_dialog));
        EXPECT_EQ(step.high, BarMaximum(m_dialog));
    }
}

TEST_F(ProgressDialogTest, OtherNotificationsAnswerOkAndTouchNothing) {
    IBindStatusCallback* callback = &m_dialog;
    DWORD flags = 0x1234;
    BINDINFO info;
    memset(&info, 0xA5, sizeof info);
    info.cbSize = sizeof info;
    BINDINFO untouched = info;
    LONG priority = 77;
    EXPECT_EQ(S_OK, callback->OnStartBinding(0, nullptr));
    EXPECT_EQ(S_OK, callback->GetPriority(&priority));
    EXPECT_EQ(S_OK, callback->OnLowResource(0));
    EXPECT_EQ(S_OK, callback->GetBindInfo(&flags, &info));
    EXPECT_EQ(S_OK, callback->OnDataAvailable(BSCF_FIRSTDATANOTIFICATION, 10, nullptr, nullptr));
    EXPECT_EQ(S_OK, callback->OnObjectAvailable(IID_IUnknown, nullptr));
    EXPECT_EQ(S_OK, callback->OnStopBinding(E_FAIL, L"failed"));
    EXPECT_EQ(77, priority);
    EXPECT_EQ(0x1234u, flags);
    EXPECT_EQ(0, memcmp(&untouched, &info, sizeof info));
    EXPECT_EQ(0, m_dialog.m_nRefCount);
    EXPECT_EQ(0, BarPosition(m_dialog));
}

// A transfer as the download machinery hands it over: it counts aborts and references, and
// stops at once when aborted, calling OnStopBinding from inside Abort as the platform does.
class CountingBinding : public IBinding {
public:
    explicit CountingBinding(IBindStatusCallback* callback) : m_callback(callback) {}
    std::atomic<LONG> references{1};
    std::atomic<LONG> aborts{0};
    std::atomic<LONG> heldThroughAbort{0};
    std::atomic<DWORD> abortThread{0};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Abort() override {
        ++aborts;
        abortThread = GetCurrentThreadId();
        m_callback->OnStopBinding(E_ABORT, nullptr);
        heldThroughAbort = references - 1;  // beyond the machinery's own reference
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }

private:
    IBindStatusCallback* m_callback;
};

// The download machinery's part, scripted, for the moments a real transfer cannot be made to
// meet: it hands over the binding and waits as Wine's synchronous download does (woken by
// posted messages, it handles sent ones and dispatches none of the thread's own) until the
// binding is aborted or 3 seconds have passed.
CountingBinding* g_scriptedBinding;
DWORD g_scriptedThread;

HRESULT WINAPI ScriptedDownload(IUnknown*, LPCWSTR, LPWSTR, DWORD, DWORD, IBindStatusCallback* callback) {
    g_scriptedThread = GetCurrentThreadId();
    EXPECT_EQ(S_OK, callback->OnStartBinding(0, g_scriptedBinding));
    for (DWORD start = GetTickCount(); g_scriptedBinding->aborts == 0 && GetTickCount() - start < 3000;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_POSTMESSAGE);
        MSG message;
        PeekMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE);
    }
    if (g_scriptedBinding->aborts) return E_ABORT;
    callback->OnStopBinding(S_OK, nullptr);
    return S_OK;
}

TEST_F(ProgressDialogTest, CancelBeforeOrDuringTheTransferAbortsItOnItsOwnThread) {
    for (bool before : {true, false}) {
        SCOPED_TRACE(before ? "pressed before the transfer began" : "pressed while it runs");
        CNapredekDlg dialog;
        ASSERT_NE(nullptr, dialog.Create(GetModuleHandleW(nullptr), GetDesktopWindow()));
        CountingBinding binding(&dialog);
        g_scriptedBinding = &binding;
        if (before) SendMessageW(dialog.m_btnCancel, BM_CLICK, 0, 0);
        std::atomic<bool> done{false};
        HRESULT result = S_OK;
        std::thread worker([&] {
            wchar_t path[MAX_PATH] = L"";
            result = dialog.Download(ScriptedDownload, L"https://example.invalid/x.msi", path, MAX_PATH);
            done = true;
        });
        while (!done && binding.references < 2) PumpDialog(dialog.m_hWnd, 5);
        DWORD pressed = GetTickCount();
        if (!before) SendMessageW(dialog.m_btnCancel, BM_CLICK, 0, 0);
        while (!done) PumpDialog(dialog.m_hWnd, 5);
        worker.join();
        EXPECT_LT(GetTickCount() - pressed, 1000u) << "the waiting thread is woken";
        EXPECT_EQ(E_ABORT, result);
        EXPECT_EQ(1, binding.aborts.load());
        EXPECT_EQ(g_scriptedThread, binding.abortThread.load()) << "aborted where it was started";
        EXPECT_EQ(1, binding.heldThroughAbort.load()) << "held while its abort stops it";
        EXPECT_EQ(1, binding.references.load()) << "let go when it stopped";

        SendMessageW(dialog.m_btnCancel, BM_CLICK, 0, 0);
        OnWorker([&] { EXPECT_EQ(E_ABORT, dialog.OnProgress(5, 10, BINDSTATUS_DOWNLOADINGDATA, nullptr)); });
        PumpDialog(dialog.m_hWnd, 50);
        EXPECT_EQ(1, binding.aborts.load()) << "nothing to abort once the transfer has stopped";
        DestroyWindow(dialog.m_hWnd);
    }
}

// A host that answers nothing: the platform's download asks OnProgress nothing more and goes
// on whatever it answered; only the binding's abort on the downloading thread ends it.
TEST_F(ProgressDialogTest, CancelAbortsTheTransferInProgress) {
    WSADATA winsock;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &winsock));
    SOCKET host = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    ASSERT_EQ(0, bind(host, reinterpret_cast<sockaddr*>(&address), size));
    ASSERT_EQ(0, listen(host, 4));  // connections are taken, never answered
    ASSERT_EQ(0, getsockname(host, reinterpret_cast<sockaddr*>(&address), &size));
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/silent/Quorvel.msi";

    std::atomic<bool> done{false};
    HRESULT result = S_OK;
    std::thread worker([&] {
        wchar_t cached[MAX_PATH] = L"";
        result = m_dialog.Download(URLDownloadToCacheFileW, url.c_str(), cached, MAX_PATH);
        done = true;
    });
    PumpDialog(m_dialog.m_hWnd, 1000);
    EXPECT_FALSE(done) << "the host has answered nothing";
    DWORD pressed = GetTickCount();
    Click(IDCANCEL);
    while (!done && GetTickCount() - pressed < 10000) PumpDialog(m_dialog.m_hWnd, 5);
    DWORD took = GetTickCount() - pressed;
    closesocket(host);  // ends the transfer had Cancel not
    while (!done) PumpDialog(m_dialog.m_hWnd, 5);
    worker.join();
    WSACleanup();
    EXPECT_EQ(E_ABORT, result);
    EXPECT_LT(took, 1000u);
    EXPECT_TRUE(IsWindowVisible(m_dialog.m_hWnd)) << "the dialog stays";
}

TEST_F(ProgressDialogTest, RealDownloadTakesTheCallbackAndFillsTheBar) {
    // A local file through the platform's URL moniker: the download machinery itself asks for
    // the callback and reports progress. (Wine hands a local file over in one piece and goes
    // on whatever the last notification answers, so the abort is shown on OnProgress itself.)
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"progress_dlg_test.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string data(200000, 'q');
    DWORD written = 0;
    WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
    CloseHandle(file);
    std::wstring url = L"file:///" + path;

    HRESULT result = E_FAIL;
    wchar_t cached[MAX_PATH] = L"";
    OnWorker([&] { result = URLDownloadToCacheFileW(nullptr, url.c_str(), cached, MAX_PATH, 0, &m_dialog); });
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(int(data.size()), BarMaximum(m_dialog));
    EXPECT_EQ(int(data.size()), BarPosition(m_dialog));
    EXPECT_TRUE(IsWindow(m_dialog.m_hWnd));
    DeleteFileW(path.c_str());
}

TEST_F(ProgressDialogTest, DestroyFreesTheIconsAndLaterProgressSendsNothing) {
    ASSERT_TRUE(DestroyWindow(m_dialog.m_hWnd));
    EXPECT_EQ(nullptr, m_dialog.m_hIconSmall);
    EXPECT_EQ(nullptr, m_dialog.m_hIconLarge);
    EXPECT_EQ(nullptr, m_dialog.m_hWnd);
    EXPECT_EQ(nullptr, m_dialog.m_wndProgress);
    EXPECT_EQ(S_OK, m_dialog.OnProgress(5, 10, 0, nullptr));
    m_dialog.m_bCancel = 1;
    EXPECT_EQ(E_ABORT, m_dialog.OnProgress(5, 10, 0, nullptr));
}

}  // namespace
