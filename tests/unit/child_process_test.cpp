#include "engine/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "trust/signature.h"
#include "child_stub_record.h"
#include "message_box_capture.h"

namespace {

const HRESULT kInsufficient = static_cast<HRESULT>(0x8007007A);

TEST(BoundedText, CopyAndAppendKeepWithinTheCapacity) {
    struct Case {
        const char* name;
        bool append;
        const wchar_t* before;  // buffer contents (append only)
        size_t capacity;
        const wchar_t* text;
        HRESULT result;
        const wchar_t* after;
    };
    const Case cases[] = {
        {"copy fits exactly", false, L"", 4, L"abc", S_OK, L"abc"},
        {"copy one too long is cut", false, L"", 4, L"abcd", kInsufficient, L"abc"},
        {"copy of nothing", false, L"", 1, L"", S_OK, L""},
        {"copy into capacity 1", false, L"", 1, L"a", kInsufficient, L""},
        {"copy with capacity 0", false, L"xyz", 0, L"a", E_INVALIDARG, L"xyz"},
        {"copy above the largest capacity", false, L"xyz", 2147483648u, L"a", E_INVALIDARG, L"xyz"},
        {"append fits exactly", true, L"ab", 5, L"cd", S_OK, L"abcd"},
        {"append one too long", true, L"ab", 4, L"cd", kInsufficient, L"abc"},
        {"append to a full buffer", true, L"abc", 4, L"d", kInsufficient, L"abc"},
        {"append without a terminator", true, L"abcd", 4, L"e", E_INVALIDARG, L"abcd"},
        {"append with capacity 0", true, L"ab", 0, L"c", E_INVALIDARG, L"ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wchar_t buffer[8] = L"";
        wcscpy(buffer, c.before);
        HRESULT result = c.append ? BoundedAppend(buffer, c.capacity, c.text)
                                  : BoundedCopy(buffer, c.capacity, c.text);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(std::wstring(c.after), std::wstring(buffer, wcsnlen(buffer, 4)));
        EXPECT_EQ(L'\0', buffer[4]) << "nothing written past the capacity";
    }
}

class ChildProcessTest : public ::testing::Test {
protected:
    ChildStubRecord m_record{L"child_process_test"};
    const std::wstring m_folder = m_record.Folder();
    const std::wstring m_stub = FixturePath(L"child_stub.exe");
};

TEST_F(ChildProcessTest, ReturnsTheChildsExitCodeUnchanged) {
    for (const wchar_t* code : {L"0", L"1603", L"3010", L"0x800B0004", L"0xFFFFFFFF"}) {
        SCOPED_TRACE(testing::Message() << std::string(code, code + wcslen(code)));
        std::wstring arguments = std::wstring(L" --exit ") + code;
        unsigned long long capacity = m_stub.size() + 2 + arguments.size() + 1;
        EXPECT_EQ(wcstoul(code, nullptr, 0), RunChildProcess(capacity, {L"\"", m_stub.c_str(), L"\"", arguments.c_str()}));
    }
}

TEST_F(ChildProcessTest, ComposesInExactlyTheCapacityItWasGiven) {
    // A redistributable at a 200-character path: quotes, path, the switch, the terminator.
    const wchar_t kSwitch[] = L" /c:\"msiinst /delayreboot\"";
    std::wstring folder = m_folder;
    while (folder.size() + wcslen(L"\\instmsiw.exe") < 200) folder += L'x';
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring program = folder + L"\\instmsiw.exe";
    ASSERT_EQ(200u, program.size());
    ASSERT_TRUE(CopyFileW(m_stub.c_str(), program.c_str(), FALSE));

    const unsigned long long capacity = program.size() + 26 + 3;
    EXPECT_EQ(229u, capacity);
    EXPECT_EQ(1603u, RunChildProcess(capacity - 1, {L"\"", program.c_str(), L"\"", kSwitch}));
    EXPECT_EQ(1603u, RunChildProcess(0, {L"\"", program.c_str(), L"\"", kSwitch}));
    EXPECT_EQ(14u, RunChildProcess(0x80000000ull, {L"\"", program.c_str(), L"\"", kSwitch}));
    Sleep(200);
    EXPECT_EQ(L"", m_record.Take()) << "nothing may start when the line does not compose";

    EXPECT_EQ(0u, RunChildProcess(capacity, {L"\"", program.c_str(), L"\"", kSwitch}));
    std::wstring line = m_record.Take();
    EXPECT_EQ(228u, line.size());
    EXPECT_EQ(L"\"" + program + L"\"" + kSwitch, line);
    DeleteFileW(program.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(ChildProcessTest, ReportsTheErrorOfAStartOrAWait) {
    std::wstring missing = m_folder + L"missing.exe";
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              RunChildProcess(missing.size() + 3, {L"\"", missing.c_str(), L"\""}));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), WaitForProcessWithMessages(nullptr));
}

// An ended child whose exit code cannot be read cannot be had for real: for as long as it lives,
// this points the test program's own import of GetExitCodeProcess (the one the runner, linked
// in, calls through) at a stand-in that fails.
class FailingExitCodeRead {
public:
    FailingExitCodeRead() : m_slot(FindImport("GetExitCodeProcess")) {
        if (m_slot) m_saved = Swap(reinterpret_cast<ULONG_PTR>(&Fail));
    }
    ~FailingExitCodeRead() {
        if (m_slot) Swap(m_saved);
    }
    FailingExitCodeRead(const FailingExitCodeRead&) = delete;
    FailingExitCodeRead& operator=(const FailingExitCodeRead&) = delete;
    explicit operator bool() const { return m_slot != nullptr; }

private:
    static BOOL WINAPI Fail(HANDLE, DWORD* code) {
        *code = 0;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    static ULONG_PTR* FindImport(const char* name) {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots)
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    !strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, name))
                    return reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
        }
        return nullptr;
    }
    ULONG_PTR Swap(ULONG_PTR value) {
        DWORD old = 0;
        VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &old);
        ULONG_PTR previous = *m_slot;
        *m_slot = value;
        VirtualProtect(m_slot, sizeof *m_slot, old, &old);
        return previous;
    }

    ULONG_PTR* m_slot;
    ULONG_PTR m_saved = 0;
};

TEST_F(ChildProcessTest, AnExitCodeThatCannotBeReadIsNoVerdict) {
    // The stub ends with 0, which from a second copy of setup.exe means "trusted".
    std::wstring arguments = L" --exit 0";
    unsigned long long capacity = m_stub.size() + 3 + arguments.size();
    FailingExitCodeRead failing;
    ASSERT_TRUE(failing) << "the test program imports GetExitCodeProcess";
    EXPECT_EQ(0x800B0004u, VerifyInSeparateProcess(m_stub.c_str(), L"C:\\downloaded.exe"));
    EXPECT_EQ(1603u, RunChildProcess(capacity, {L"\"", m_stub.c_str(), L"\"", arguments.c_str()}, 1603));
}

// The waiting thread's own window must answer while the child runs: a cross-thread
// SendMessage and a burst of posted messages all arrive before the child is let go.
std::atomic<int> g_handled;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
    ++g_handled;
    return 42;
}

TEST_F(ChildProcessTest, WindowsOfTheWaitingThreadStayResponsive) {
    std::atomic<int>& handled = g_handled;
    handled = 0;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ChildProcessTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_TRUE(window);

    const wchar_t kEvent[] = L"ChildProcessTestRelease";
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, kEvent);
    DWORD_PTR answer = 0;
    int handledWhileRunning = -1;
    std::thread helper([&] {
        // The child cannot end before the release below, so an answer proves the window was
        // served while it ran, however long the child takes to start.
        SendMessageTimeoutW(window, WM_APP, 0, 0, SMTO_NORMAL, 30000, &answer);
        for (int i = 0; i < 5; ++i) PostMessageW(window, WM_APP, 0, 0);
        for (int waited = 0; handled < 6 && waited < 30000; waited += 10) Sleep(10);
        handledWhileRunning = handled;
        SetEvent(release);
    });
    std::wstring arguments = std::wstring(L" --wait ") + kEvent + L" --exit 0x800B0004";
    DWORD code = RunChildProcess(m_stub.size() + 3 + arguments.size(), {L"\"", m_stub.c_str(), L"\"", arguments.c_str()});
    helper.join();
    CloseHandle(release);
    DestroyWindow(window);

    EXPECT_EQ(0x800B0004u, code);
    EXPECT_EQ(42u, answer);
    EXPECT_EQ(6, handledWhileRunning);
}

}  // namespace
