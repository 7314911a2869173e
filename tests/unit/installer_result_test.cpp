#include "engine/installer_result.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_box_capture.h"
#include "res/message.h"
#include "res/resource.h"

namespace {

const wchar_t kText1618[] =
    L"Another installation is already in progress. Complete that installation before proceeding with this install.";
const wchar_t kText1619[] =
    L"This installation package could not be opened: [2]. Verify that the package exists and that you can access it (%1).";

// Puts msimsg.dll in the system folder as a test needs it: the stand-in with texts, Wine's own
// (which has none), or none at all. The prefix's own file goes back at the end.
class InstallerResultTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wchar_t folder[MAX_PATH];
        s_system = std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH)) + L"\\msimsg.dll";
        s_saved = s_system + L".saved";
        // A rename, never a write: the prefix shares its files with its template.
        MoveFileW(s_system.c_str(), s_saved.c_str());
    }
    static void TearDownTestSuite() {
        DeleteFileW(s_system.c_str());
        MoveFileW(s_saved.c_str(), s_system.c_str());
    }
    enum class Library { StandIn, Wines, None };
    void Use(Library library) {
        DeleteFileW(s_system.c_str());
        std::wstring source = library == Library::StandIn ? FixturePath(L"msimsg\\msimsg.dll") : s_saved;
        if (library != Library::None) {
            ASSERT_TRUE(CopyFileW(source.c_str(), s_system.c_str(), FALSE));
        }
    }
    // What one call showed: the texts of its boxes, each checked to be a plain error box.
    static std::vector<std::wstring> Shown(UINT code) {
        MessageBoxCapture capture;
        ReportInstallerResult(code);
        std::vector<std::wstring> texts;
        for (const CapturedBox& box : capture.boxes) {
            EXPECT_TRUE(box.errorIcon);
            EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
            texts.push_back(box.text);
        }
        return texts;
    }
    static std::vector<std::wstring> OwnMessage(UINT code) {
        WideString text = FormatString(IDS_INSTALL_ERROR, code);
        EXPECT_FALSE(text.empty());
        return {text.c_str()};
    }

    static std::wstring s_system;
    static std::wstring s_saved;
};
std::wstring InstallerResultTest::s_system;
std::wstring InstallerResultTest::s_saved;

TEST_F(InstallerResultTest, ShowsTheInstallersOwnTextOrNamesTheCode) {
    Use(Library::StandIn);
    const std::vector<std::wstring> nothing;
    struct Case {
        UINT code;
        std::vector<std::wstring> shown;
    };
    const Case cases[] = {
        {1259, nothing}, {1602, nothing}, {1603, nothing}, {1604, nothing}, {1641, nothing}, {3010, nothing},
        {2, {kText1619}}, {3, {kText1619}}, {123, {kText1619}}, {1619, {kText1619}},
        {1618, {kText1618}},
        {1620, OwnMessage(1620)},
        {5, OwnMessage(5)},
        // Only the low 16 bits would reach the string table: such a code has no text there.
        {0x10000 + 1619, OwnMessage(0x10000 + 1619)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.shown, Shown(c.code));
    }
}

TEST_F(InstallerResultTest, ShowsAtMost1023CharactersOfALongText) {
    Use(Library::StandIn);
    std::wstring digits;
    for (int i = 0; i < 1023; ++i) digits += static_cast<wchar_t>(L'0' + i % 10);
    EXPECT_EQ(std::vector<std::wstring>{digits}, Shown(1700));
}

TEST_F(InstallerResultTest, FallsBackToItsOwnMessageWithoutTheInstallersTexts) {
    for (Library library : {Library::Wines, Library::None}) {
        SCOPED_TRACE(library == Library::Wines ? "Wine's msimsg.dll" : "no msimsg.dll");
        Use(library);
        EXPECT_EQ(OwnMessage(1619), Shown(2)) << "the number shown is 1619, not 2";
        EXPECT_EQ(OwnMessage(1618), Shown(1618));
        EXPECT_TRUE(Shown(3010).empty());
    }
}

}  // namespace
