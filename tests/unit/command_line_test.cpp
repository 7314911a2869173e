// The command-line scanner, the classification, the verify mode's argument handling and the
// /a folder, on real writable command lines.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ClassifyCase {
    const wchar_t* line;
    CommandMode mode;
};

TEST(ClassifyCommandLine, FollowsTheFirstTokenOnly) {
    const ClassifyCase cases[] = {
        {L"", CommandNone},
        {L" \t  \t", CommandNone},
        {L"/a", CommandAdmin},
        {L"-A \"D:\\Admin Point\"", CommandAdmin},
        {L"/A", CommandAdmin},
        {L"-a x", CommandAdmin},
        {L"/v \"C:\\Temp\\pkg.msi\"", CommandVerify},
        {L"/V", CommandVerify},
        {L"-v", CommandVerify},
        {L"\t-V\tx", CommandVerify},
        {L"/?", CommandOther},
        {L"/x", CommandOther},
        {L"/admin", CommandOther},
        {L"--a", CommandOther},
        {L"\"/a\"", CommandOther},
        {L"x /a", CommandOther},
        {L"/", CommandOther},
        {L"a", CommandOther},
        {L"\"", CommandOther},
        {L"\\a", CommandOther},
    };
    for (const ClassifyCase& c : cases) {
        std::wstring line = c.line;
        EXPECT_EQ(c.mode, ClassifyCommandLine(&line[0])) << "line: [" << std::string(line.begin(), line.end()) << "]";
        EXPECT_EQ(c.line, line) << "classification must not change the text";
    }
    EXPECT_EQ(CommandNone, ClassifyCommandLine(nullptr));
}

TEST(SkipProgramName, WhatFollowsTheNameAsTheRuntimeWouldHandIt) {
    const struct {
        const wchar_t* whole;
        const wchar_t* rest;
    } cases[] = {
        {L"\"C:\\Program Files\\setup.exe\" /v \"C:\\a b.msi\"", L"/v \"C:\\a b.msi\""},
        {L"setup.exe \t /a", L"/a"},
        {L"C:\\x\"y z\"\\setup.exe /?", L"/?"},  // a quote inside the name opens and closes
        {L"\"setup.exe /a", L""},                   // an unclosed quote takes the rest
        {L"setup.exe", L""},
        {L"", L""},
        {L"setup.exe /a \"trailing \"  ", L"/a \"trailing \"  "},
    };
    for (const auto& c : cases) {
        std::wstring whole = c.whole;
        EXPECT_EQ(std::wstring(c.rest), SkipProgramName(whole.c_str())) << std::string(whole.begin(), whole.end());
    }
}

TEST(NextCommandToken, QuotedAndUnquotedTokens) {
    std::wstring line = L"  \"a b\tc\" d\"e\"f\t\"\"";
    CommandToken t;
    ASSERT_EQ(0u, NextCommandToken(&line[0], &t));
    EXPECT_TRUE(t.quoted);
    EXPECT_EQ(L"a b\tc", std::wstring(t.start, t.end));  // blanks and tabs inside quotes

    ASSERT_EQ(0u, NextCommandToken(t.end + 1, &t));
    EXPECT_FALSE(t.quoted);
    EXPECT_EQ(L"d\"e\"f", std::wstring(t.start, t.end));  // quotes inside an unquoted token

    ASSERT_EQ(0u, NextCommandToken(t.end, &t));
    EXPECT_TRUE(t.quoted);
    EXPECT_EQ(L"\"", std::wstring(t.start, t.end));  // the first character always belongs
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), NextCommandToken(t.end, &t));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), NextCommandToken(nullptr, &t));
}

TEST(NextCommandToken, LoneOpeningQuoteIsAnEmptyTokenAtTheTerminator) {
    std::wstring line = L"x \"";
    CommandToken t;
    ASSERT_EQ(0u, NextCommandToken(&line[0], &t));
    ASSERT_EQ(0u, NextCommandToken(t.end, &t));
    EXPECT_TRUE(t.quoted);
    EXPECT_EQ(t.start, t.end);
    EXPECT_EQ(line.c_str() + line.size(), t.end);
}

// Records what the verify mode hands to the comparison.
struct Recorded {
    std::vector<std::wstring> files;
    int answer = 1;
};
Recorded g_recorded;

int RecordingComparison(const wchar_t* setupPath, const wchar_t* filePath, HWND owner) {
    EXPECT_STREQ(L"C:\\Downloads\\setup.exe", setupPath);
    EXPECT_EQ(nullptr, owner);
    g_recorded.files.push_back(filePath);
    return g_recorded.answer;
}

struct VerifyCase {
    const wchar_t* line;
    DWORD code;
    const wchar_t* file;  // null: the comparison is not run
};

TEST(RunVerifyCommand, ArgumentsAndTheFileHandedOver) {
    const VerifyCase cases[] = {
        {L"/v \"C:\\Temp\\pkg.msi\"", 0, L"C:\\Temp\\pkg.msi"},
        {L"/V \"C:\\Temp\\pkg.msi\" ", 0, L"C:\\Temp\\pkg.msi"},
        {L"/v \"C:\\Temp\\pkg.msi", 0, L"C:\\Temp\\pkg.msi"},
        {L"/v C:\\a.msi", 0, L"C:\\a.msi"},
        {L"/v \"C:\\Program Files\\a b.msi\"\t", 0, L"C:\\Program Files\\a b.msi"},
        {L"/v \"\"", 0, L"\""},
        {L"/v \"", 0, L""},
        {L"/v", ERROR_BAD_ARGUMENTS, nullptr},
        {L"/v   \t ", ERROR_BAD_ARGUMENTS, nullptr},
        {L"/v C:\\a.msi C:\\b.msi", ERROR_BAD_ARGUMENTS, nullptr},
        {L"/v \"C:\\a.msi\"x", ERROR_BAD_ARGUMENTS, nullptr},
        {L"/v \"C:\\a.msi\" \"", ERROR_BAD_ARGUMENTS, nullptr},
        {L"", ERROR_BAD_ARGUMENTS, nullptr},
    };
    for (const VerifyCase& c : cases) {
        // The line sits between guard characters: nothing outside it may be read or written.
        std::wstring buffer = std::wstring(L"##") + c.line + L'\0' + L"##";
        std::wstring before = buffer;
        wchar_t* line = &buffer[2];
        g_recorded.files.clear();
        g_recorded.answer = 1;
        EXPECT_EQ(c.code, RunVerifyCommand(L"C:\\Downloads\\setup.exe", line, RecordingComparison))
            << std::string(before.begin(), before.end());
        if (c.file) {
            ASSERT_EQ(1u, g_recorded.files.size());
            EXPECT_EQ(c.file, g_recorded.files[0]);
            EXPECT_EQ(std::wstring(c.file), std::wstring(g_recorded.files[0].c_str()));
        } else {
            EXPECT_TRUE(g_recorded.files.empty());
            EXPECT_EQ(before, buffer) << "a refused line stays as it was";
        }
        EXPECT_EQ(before.substr(0, 2), buffer.substr(0, 2));
        EXPECT_EQ(before.substr(before.size() - 3), buffer.substr(buffer.size() - 3));
    }
}

TEST(RunVerifyCommand, TheFileEndsInsideTheCommandLine) {
    std::wstring buffer = L"/v \"C:\\Temp\\pkg.msi\" ";
    g_recorded.files.clear();
    RunVerifyCommand(L"C:\\Downloads\\setup.exe", &buffer[0], RecordingComparison);
    EXPECT_EQ(L'\0', buffer[19]);  // the closing quote became the terminator
    EXPECT_STREQ(L"C:\\Temp\\pkg.msi", buffer.c_str() + 4);
}

TEST(RunVerifyCommand, VerdictBecomesTheExitCode) {
    const struct {
        int verdict;
        DWORD code;
    } cases[] = {{0, 0x800B0001}, {1, 0}, {2, 0x800B0004}, {7, 0x800B0004}};
    for (const auto& c : cases) {
        std::wstring line = L"/v C:\\a.msi";
        g_recorded.answer = c.verdict;
        EXPECT_EQ(c.code, RunVerifyCommand(L"C:\\Downloads\\setup.exe", &line[0], RecordingComparison))
            << c.verdict;
    }
}

struct AdminCase {
    const wchar_t* line;
    const wchar_t* folder;  // null: none
};

TEST(GetAdminTargetFolder, FolderAfterTheSwitch) {
    const AdminCase cases[] = {
        {L"/a", nullptr},
        {L"/a  \t", nullptr},
        {L"-A \"D:\\Admin Point\"", L"D:\\Admin Point"},
        {L"/a D:\\Admin Point", L"D:\\Admin"},
        {L"/a /v", L"/v"},
        {L"/a \"D:\\Admin", L"D:\\Admin"},
        {L"/a \"", L""},
        {L"/a \"\"", L"\""},
    };
    for (const AdminCase& c : cases) {
        std::wstring buffer = std::wstring(L"##") + c.line + L'\0' + L"##";
        wchar_t* line = &buffer[2];
        for (int call = 0; call < 2; ++call) {  // a second call gives the same folder
            const wchar_t* folder = L"unset";
            EXPECT_EQ(0u, GetAdminTargetFolder(line, &folder));
            if (c.folder) {
                ASSERT_NE(nullptr, folder);
                EXPECT_STREQ(c.folder, folder);
                EXPECT_GE(folder, line);
                EXPECT_LE(folder + wcslen(folder), line + wcslen(c.line));
            } else {
                EXPECT_EQ(nullptr, folder);
            }
        }
        EXPECT_EQ(L"##", buffer.substr(buffer.size() - 2));
    }
    std::wstring empty = L"";
    const wchar_t* folder = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_ARGUMENTS), GetAdminTargetFolder(&empty[0], &folder));
}

}  // namespace
