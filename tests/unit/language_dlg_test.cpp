// The language dialog from the real template (linked into this program), in each UI
// language: a second thread calls ChooseLanguage as the worker does, and the test reads the
// dialog and answers it with real window messages and keys.
#include "install/language_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "expected_texts.h"
#include "res/resource.h"
#include "window_probe.h"

namespace {

const LanguageEntry* const kBuiltIn = g_setupSettings.products[0].languages;

struct DialogSeen {
    std::wstring caption, ok, cancel;
    std::vector<std::wstring> items;
    std::vector<const LanguageEntry*> itemData;
    int selected = -2;
    bool listHasFocus = false;
    HICON bigIcon = nullptr, smallIcon = nullptr, dragIcon = nullptr;
    HWND owner = nullptr;
    bool ownerEnabled = true;
};

// Calls ChooseLanguage on a second thread, records the dialog, lets `answer` act on it and
// returns the call's result.
const LanguageEntry* ChooseAndAnswer(const LanguageEntry* table, LANGID preselect,
                                     const std::function<void(HWND)>& answer, DialogSeen* seen) {
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> done{false};
    const LanguageEntry* chosen = reinterpret_cast<const LanguageEntry*>(1);
    std::thread worker([&] {
        threadId = GetCurrentThreadId();
        chosen = ChooseLanguage(table, preselect);
        done = true;
    });
    while (!threadId) Sleep(1);
    HWND dialog = WaitForDialog(threadId);
    if (dialog) {
        HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
        seen->caption = TextOf(dialog);
        seen->ok = TextOf(GetDlgItem(dialog, IDOK));
        seen->cancel = TextOf(GetDlgItem(dialog, IDCANCEL));
        int count = int(SendMessageW(list, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t item[64] = L"";
            if (SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 64) SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
            seen->items.push_back(item);
            seen->itemData.push_back(reinterpret_cast<const LanguageEntry*>(SendMessageW(list, CB_GETITEMDATA, i, 0)));
        }
        seen->selected = int(SendMessageW(list, CB_GETCURSEL, 0, 0));
        // Windows of tests running beside this one may take the activation (and so the focus)
        // for a moment: look again after bringing the dialog back to the front.
        for (int attempt = 0; attempt < 10 && !seen->listHasFocus; ++attempt) {
            Activate(dialog);
            GUITHREADINFO focus = {};
            focus.cbSize = sizeof focus;
            seen->listHasFocus = GetGUIThreadInfo(threadId, &focus) && focus.hwndFocus == list;
        }
        seen->bigIcon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
        seen->smallIcon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
        seen->dragIcon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0));
        seen->owner = GetWindow(dialog, GW_OWNER);
        seen->ownerEnabled = seen->owner && IsWindowEnabled(seen->owner);
        answer(dialog);
    } else {
        ADD_FAILURE() << "no language dialog appeared";
    }
    while (!done) PumpFor(10);
    worker.join();
    return chosen;
}

void PressOk(HWND dialog) { Click(dialog, IDOK); }
void PressCancel(HWND dialog) { Click(dialog, IDCANCEL); }
std::function<void(HWND)> Keys(std::vector<WPARAM> keys) {
    return [keys](HWND dialog) {
        for (WPARAM key : keys) {
            PressKey(GetDlgItem(dialog, IDC_LANGUAGE_LIST), key);
            PumpFor(30);
        }
    };
}

class LanguageDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() { theApp.AttachProcess(GetModuleHandleW(nullptr), L""); }
};

TEST_F(LanguageDialogTest, ListsSortedNamesPreselectsAndAnswers) {
    ASSERT_NE(0, LanguageAskedFor()) << "run with LANG naming one of the four languages";
    ASSERT_EQ(LanguageAskedFor(), GetUserDefaultUILanguage());
    ASSERT_EQ(0x0424, kBuiltIn[0].langId);
    ASSERT_EQ(0x0409, kBuiltIn[1].langId);
    const std::vector<std::wstring> builtInNames = {L"English", L"Sloven\u0161\u010dina"};
    const std::vector<const LanguageEntry*> builtInData = {&kBuiltIn[1], &kBuiltIn[0]};
    static const LanguageEntry kTwice[] = {
        {0x0409, L"English (US)", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {0x0409, L"English", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {0x0424, L"Sloven\u0161\u010dina", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {},
    };
    struct Case {
        const char* name;
        const LanguageEntry* table;
        LANGID preselect;
        int selected;  // list index shown as selected when the dialog opens
        std::function<void(HWND)> answer;
        const LanguageEntry* expected;
    };
    const Case cases[] = {
        {"Slovenian user, OK", kBuiltIn, 0x0424, 1, PressOk, &kBuiltIn[0]},
        {"English user, OK", kBuiltIn, 0x0409, 0, PressOk, &kBuiltIn[1]},
        {"Italian user, OK without a choice", kBuiltIn, 0x0410, -1, PressOk, &kBuiltIn[0]},
        {"Enter without a choice", kBuiltIn, 0x0407, -1, Keys({VK_RETURN}), &kBuiltIn[0]},
        {"first visible name picked", kBuiltIn, 0x0424, 1, Keys({VK_UP, VK_RETURN}), &kBuiltIn[1]},
        {"down from no choice", kBuiltIn, 0x0410, -1, Keys({VK_DOWN, VK_RETURN}), &kBuiltIn[1]},
        {"picked, then Cancel", kBuiltIn, 0x0424, 1, [](HWND d) { Keys({VK_UP})(d); PressCancel(d); }, nullptr},
        {"Escape", kBuiltIn, 0x0409, 0, Keys({VK_ESCAPE}), nullptr},
        {"last matching record wins", kTwice, 0x0409, 0, PressOk, &kTwice[1]},
        {"no table, OK", nullptr, 0x0409, -1, PressOk, nullptr},
    };
    const ExpectedLanguage& language = ExpectedForUser();
    HICON setupIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP));
    ASSERT_NE(nullptr, setupIcon);
    bool pictured = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogSeen seen;
        std::function<void(HWND)> answer = c.answer;
        if (!pictured) {
            answer = [&](HWND dialog) {
                SaveWindowShot(dialog, std::wstring(L"language_") + std::wstring(language.name, language.name + 2));
                c.answer(dialog);
            };
            pictured = true;
        }
        EXPECT_EQ(c.expected, ChooseAndAnswer(c.table, c.preselect, answer, &seen));
        EXPECT_EQ(language.languageCaption, seen.caption);
        EXPECT_EQ(language.ok, seen.ok);
        EXPECT_EQ(language.cancel, seen.cancel);
        EXPECT_EQ(c.selected, seen.selected);
        if (c.table == kBuiltIn) {
            EXPECT_EQ(builtInNames, seen.items);
            EXPECT_EQ(builtInData, seen.itemData);
        } else if (c.table == kTwice) {
            EXPECT_EQ((std::vector<const LanguageEntry*>{&kTwice[1], &kTwice[0], &kTwice[2]}), seen.itemData);
        } else {
            EXPECT_TRUE(seen.items.empty());
        }
        EXPECT_TRUE(seen.listHasFocus);
        EXPECT_EQ(setupIcon, seen.bigIcon);
        EXPECT_EQ(nullptr, seen.smallIcon);
        EXPECT_EQ(setupIcon, seen.dragIcon);
        EXPECT_EQ(nullptr, seen.owner) << "without a progress dialog there is no owner";
    }
}

TEST_F(LanguageDialogTest, IsModalToTheProgressDialog) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND progress = theApp.m_progressDlg.Create(GetModuleHandleW(nullptr), GetDesktopWindow());
    ASSERT_NE(nullptr, progress);
    DialogSeen seen;
    EXPECT_EQ(&kBuiltIn[1], ChooseAndAnswer(kBuiltIn, 0x0409, PressOk, &seen));
    EXPECT_EQ(progress, seen.owner);
    EXPECT_FALSE(seen.ownerEnabled);
    PumpFor(50);
    EXPECT_TRUE(IsWindowEnabled(progress));
    DestroyWindow(progress);
}

// Records the messages the dialog sends itself while painting.
WNDPROC g_dialogProc;
std::atomic<int> g_iconErases{0};
LRESULT CALLBACK CountIconErases(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ICONERASEBKGND && wParam) ++g_iconErases;
    return CallWindowProcW(g_dialogProc, window, message, wParam, lParam);
}

TEST_F(LanguageDialogTest, AMinimisedDialogPaintsItsIcon) {
    DialogSeen seen;
    int erasesShown = -1, erasesMinimised = -1;
    ChooseAndAnswer(kBuiltIn, 0x0424, [&](HWND dialog) {
        g_dialogProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountIconErases)));
        // A minimised window has no client area to invalidate under Wine without a window
        // manager, so the paint request is sent as the system would.
        SendMessageW(dialog, WM_PAINT, 0, 0);
        erasesShown = g_iconErases;
        ShowWindow(dialog, SW_MINIMIZE);
        SendMessageW(dialog, WM_PAINT, 0, 0);
        erasesMinimised = g_iconErases;
        EXPECT_TRUE(IsIconic(dialog));
        PressOk(dialog);
    }, &seen);
    EXPECT_EQ(0, erasesShown);
    EXPECT_GT(erasesMinimised, 0);
}

}  // namespace
