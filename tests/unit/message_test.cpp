// Message reporting against the real string table (linked into this program), the real
// FormatMessageW and real message boxes, which a second thread shows while the test reads and
// answers them. Runs once per UI language: the texts follow the language Wine's loader picks;
// in the win98 prefix FormatMessageA formats them, in the language's ANSI code page.
#include "res/message.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
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

// Places inserts the way the table's texts use them, independently of FormatMessageW.
std::wstring Substitute(std::wstring text, const std::wstring& placeholder, const std::wstring& value) {
    for (size_t at = text.find(placeholder); at != std::wstring::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

const wchar_t* Expected(UINT id) { return ExpectedText(ExpectedForUser(), id); }

// FormatMessageW writes each line feed of its pattern as a line break, CR LF.
std::wstring Formatted(UINT id) { return Substitute(Expected(id), L"\n", L"\r\n"); }

class MessageTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        theApp.AttachProcess(GetModuleHandleW(nullptr), L"");
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
};

TEST_F(MessageTest, RunsInTheUiLanguageTheRunnerAskedFor) {
    ASSERT_NE(0, LanguageAskedFor()) << "run with LANG naming one of the four languages";
    EXPECT_EQ(LanguageAskedFor(), GetUserDefaultUILanguage());
}

TEST_F(MessageTest, LoadsEveryStringWithoutItsTerminatorAndNoMissingOne) {
    for (const ExpectedString* s = ExpectedForUser().strings; s->id; ++s) {
        SCOPED_TRACE(s->id);
        WideString text;
        EXPECT_TRUE(LoadResourceString(s->id, &text));
        EXPECT_STREQ(s->text, text.c_str());
        EXPECT_EQ(wcslen(s->text), text.length());
    }
    for (UINT missing : {14u, 35u, 99u, 0u, 57345u, 65535u}) {
        SCOPED_TRACE(missing);
        WideString text;
        text.Assign(L"left over");
        EXPECT_FALSE(LoadResourceString(missing, &text));
        EXPECT_EQ(L"", std::wstring(text.c_str()));
    }
}

TEST_F(MessageTest, FormatsInsertsAsWideStringsAndIntegers) {
    struct Case {
        UINT id;
        WideString formatted;
        std::wstring expected;
    };
    Case cases[] = {
        {IDS_WAIT_DOWNLOAD, FormatString(IDS_WAIT_DOWNLOAD, L"Quorvel"), Substitute(Formatted(16), L"%1", L"Quorvel")},
        {IDS_PREREQUISITE_PROMPT, FormatString(IDS_PREREQUISITE_PROMPT, L"Quorvel"),
         Substitute(Formatted(20), L"%1", L"Quorvel")},
        {IDS_INSTALL_ERROR, FormatString(IDS_INSTALL_ERROR, 1603), Substitute(Formatted(32), L"%1!d!", L"1603")},
        {IDS_INSTALL_ERROR, FormatString(IDS_INSTALL_ERROR, -5), Substitute(Formatted(32), L"%1!d!", L"-5")},
        {IDS_INVALID_MSI_VERSION, FormatString(IDS_INVALID_MSI_VERSION, 110, 200),
         Substitute(Substitute(Formatted(25), L"%1!d!", L"110"), L"%2!d!", L"200")},
        {IDS_USAGE, FormatString(IDS_USAGE), Formatted(37)},
        {99, FormatString(99, L"unused"), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(c.expected, std::wstring(c.formatted.c_str()));
    }
    // No width limit: the only line break is the text's own.
    std::wstring prompt = cases[1].formatted.c_str();
    EXPECT_EQ(1, std::count(prompt.begin(), prompt.end(), L'\n'));
}

struct BoxSeen {
    std::wstring caption;
    std::wstring text;
    HICON icon = nullptr;
    std::vector<int> buttons;
    HWND owner = nullptr;
    bool ownerEnabled = true;
    int result = 0;
};

// Shows a box on a second thread (as the worker does), reads it, presses `answer`, and
// returns what was seen together with what the call returned.
BoxSeen ShowAndAnswer(const std::function<int()>& show, int answer) {
    BoxSeen seen;
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        threadId = GetCurrentThreadId();
        seen.result = show();
        done = true;
    });
    while (!threadId) Sleep(1);
    if (HWND box = WaitForDialog(threadId)) {
        seen.caption = TextOf(box);
        seen.text = TextOf(GetDlgItem(box, 0xFFFF));  // the message box's text control
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ClassOf(child) == L"Static")
                seen.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        seen.buttons = VisibleButtons(box);
        seen.owner = GetWindow(box, GW_OWNER);
        seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
        Click(box, answer);
    } else {
        ADD_FAILURE() << "no message box appeared";
    }
    while (!done) PumpFor(10);
    worker.join();
    return seen;
}

HICON StockIcon(LPCWSTR id) { return LoadIconW(nullptr, id); }

TEST_F(MessageTest, BoxesShowTheirTextInTheirStyleUnderTheTitle) {
    struct Case {
        const char* name;
        std::function<int()> show;
        std::wstring text;
        HICON icon;
        std::vector<int> buttons;
        int answer;
    };
    const std::wstring missing99 = Substitute(Formatted(IDS_MISSING_STRING), L"%1!d!", L"99");
    Case cases[] = {
        {"error without a string", [] { ShowErrorMessage(99); return 0; }, missing99, StockIcon(IDI_ERROR), {IDOK}, IDOK},
        {"error with an integer", [] { ShowErrorMessage(IDS_INSTALL_ERROR, 1603); return 0; },
         Substitute(Formatted(32), L"%1!d!", L"1603"), StockIcon(IDI_ERROR), {IDOK}, IDOK},
        {"error with a path", [] { ShowErrorMessage(IDS_NOT_TRUSTED, L"C:\\Temp\\Quorvel.msi"); return 0; },
         Substitute(Formatted(22), L"%1", L"C:\\Temp\\Quorvel.msi"), StockIcon(IDI_ERROR), {IDOK}, IDOK},
        {"box by text, repeated insert", [] { return AfxMessageBox(FormatString(IDS_PREREQUISITE_PROMPT, L"Quorvel").c_str(), kStyleQuestion); },
         Substitute(Formatted(20), L"%1", L"Quorvel"), StockIcon(IDI_QUESTION), {IDYES, IDNO}, IDYES},
        {"question answered no", [] { return AfxMessageBox(IDS_REBOOT_PROMPT, kStyleQuestion); }, Expected(30),
         StockIcon(IDI_QUESTION), {IDYES, IDNO}, IDNO},
        {"cancellation notice", [] { return AfxMessageBox(IDS_CANCELLED, kStyleWarning); }, Expected(24),
         StockIcon(IDI_WARNING), {IDOK}, IDOK},
        {"usage text", [] { return AfxMessageBox(IDS_USAGE, kStyleInformation); }, Expected(37),
         StockIcon(IDI_INFORMATION), {IDOK}, IDOK},
        {"box by a missing id", [] { return AfxMessageBox(99, kStyleError); }, L"", StockIcon(IDI_ERROR), {IDOK}, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoxSeen seen = ShowAndAnswer(c.show, c.answer);
        EXPECT_EQ(ExpectedForUser().progressCaption, seen.caption);
        EXPECT_EQ(c.text, seen.text);
        EXPECT_EQ(c.icon, seen.icon);
        EXPECT_EQ(c.buttons, seen.buttons);
        EXPECT_EQ(nullptr, seen.owner) << "no progress dialog, no owner";
        if (c.buttons.size() > 1) {
            EXPECT_EQ(c.answer, seen.result);
        }
    }
}

TEST_F(MessageTest, WorkerBoxesAreOwnedByTheProgressDialogAndModalToIt) {
    HWND dialog = theApp.m_progressDlg.Create(GetModuleHandleW(nullptr), GetDesktopWindow());
    ASSERT_NE(nullptr, dialog);
    for (int answer : {IDYES, IDNO}) {
        BoxSeen seen = ShowAndAnswer([] { return AfxMessageBox(IDS_UPGRADE_PROMPT, kStyleQuestion); }, answer);
        EXPECT_EQ(dialog, seen.owner);
        EXPECT_FALSE(seen.ownerEnabled) << "the owner is disabled while the box is up";
        EXPECT_EQ(answer, seen.result);
        PumpFor(50);
        EXPECT_TRUE(IsWindowEnabled(dialog));
    }
    BoxSeen error = ShowAndAnswer([] { ShowErrorMessage(99); return 0; }, IDOK);
    EXPECT_EQ(dialog, error.owner);
    DestroyWindow(dialog);
    // Once the dialog is gone (the exit step's restart question), boxes have no owner again.
    EXPECT_EQ(nullptr, ShowAndAnswer([] { return AfxMessageBox(IDS_REBOOT_PROMPT, kStyleQuestion); }, IDNO).owner);
}

TEST_F(MessageTest, WithoutTheTitleStringTheCaptionIsTheProgramFilesName) {
    // A module of the process that has a file name but no string table entry 57344.
    theApp.AttachProcess(GetModuleHandleW(L"comctl32.dll"), L"");
    std::wstring title = theApp.m_pszAppName.c_str();
    theApp.AttachProcess(GetModuleHandleW(nullptr), L"");
    EXPECT_EQ(0, _wcsicmp(L"comctl32", title.c_str())) << std::string(title.begin(), title.end());
    EXPECT_EQ(ExpectedForUser().progressCaption, std::wstring(theApp.m_pszAppName.c_str()));
}

}  // namespace
