// Where the setup program finds itself: the whole module path, however deep the folder, and
// the folder with its final backslash.
#include "base/module_path.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "base/owned.h"

namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    *wcsrchr(path, L'\\') = L'\0';
    return path;
}

TEST(ReadModulePath, ReadsAPathLongerThanTheFirstBuffer) {
    // A folder nested far below the temporary folder, made with the long-path prefix.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(L"\\\\?\\") + temp + L"quorvel-deep";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < 12; ++i) {
        folder += L"\\a-rather-long-folder-name-to-get-deep-quickly-" + std::to_wstring(i);
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    std::wstring dll = folder + L"\\kernel32_none.dll";
    ASSERT_TRUE(CopyFileW((L"\\\\?\\" + OwnFolder() + L"\\kernel32_none.dll").c_str(), dll.c_str(), FALSE));
    OwnedModule module(LoadLibraryW(dll.c_str()));
    ASSERT_TRUE(module) << GetLastError();

    wchar_t* path = ReadModulePath(module.get());
    ASSERT_NE(nullptr, path);
    std::wstring read = path;
    free(path);
    std::wstring expected = dll.substr(4);  // the loader may or may not keep the prefix
    EXPECT_GT(expected.size(), 600u);
    EXPECT_EQ(expected, read.compare(0, 4, L"\\\\?\\") == 0 ? read.substr(4) : read);
}

TEST(ReadModulePath, OwnProgram) {
    wchar_t* path = ReadModulePath(nullptr);
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(OwnFolder() + L"\\module_path_test.exe", path);
    free(path);
}

TEST(FolderOfPath, KeepsTheFinalBackslash) {
    const struct {
        const wchar_t* path;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Downloads\\setup.exe", L"C:\\Downloads\\"},
        {L"C:\\setup.exe", L"C:\\"},
        {L"\\\\server\\share\\setup.exe", L"\\\\server\\share\\"},
        {L"setup.exe", L".\\"},
        {L"", L".\\"},
    };
    for (const auto& c : cases) {
        wchar_t* folder = FolderOfPath(c.path);
        ASSERT_NE(nullptr, folder);
        EXPECT_STREQ(c.folder, folder);
        free(folder);
    }
}

}  // namespace
