#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode_layer.h"
#include "engine/installer_api.h"
#include "message_box_capture.h"
#include "res/message.h"
#include "res/resource.h"

using namespace std::string_literals;

namespace {

struct RegistryValue {
    DWORD type;
    std::vector<BYTE> bytes;
};

// The characters of `text` (embedded NULs included) as stored bytes, `trim` bytes fewer.
RegistryValue Value(DWORD type, const std::wstring& text, size_t trim = 0) {
    const BYTE* start = reinterpret_cast<const BYTE*>(text.data());
    return {type, std::vector<BYTE>(start, start + text.size() * sizeof(wchar_t) - trim)};
}

RegistryValue Dword(DWORD number) {
    const BYTE* start = reinterpret_cast<const BYTE*>(&number);
    return {REG_DWORD, std::vector<BYTE>(start, start + sizeof number)};
}

void Store(HKEY key, const wchar_t* name, const RegistryValue& value) {
    // The registry counts a NUL lying right behind a string's bytes in, as NT does; a guard
    // behind them keeps an unterminated value unterminated.
    std::vector<BYTE> guarded = value.bytes;
    guarded.insert(guarded.end(), 4, 0xFF);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, value.type, guarded.data(),
                                            static_cast<DWORD>(value.bytes.size())));
}

// A value as it is now, to put back afterwards; type REG_NONE when there is none.
RegistryValue Saved(HKEY key, const wchar_t* name) {
    RegistryValue saved{REG_NONE, {}};
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS) return {REG_NONE, {}};
    saved.bytes.resize(size);
    RegQueryValueExW(key, name, nullptr, &saved.type, saved.bytes.data(), &size);
    return saved;
}

void Restore(HKEY key, const wchar_t* name, const RegistryValue& saved) {
    if (saved.type == REG_NONE) RegDeleteValueW(key, name);
    else Store(key, name, saved);
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return Lower(std::wstring(path, length));
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH];
    return std::wstring(path, GetSystemDirectoryW(path, MAX_PATH));
}

TEST(ReadInstallerLocation, AcceptsOnlyWellFormedStrings) {
    struct Case {
        const char* shape;
        RegistryValue value;
        bool read;
        std::wstring text;
        // One byte of UTF-16 is no character to the ANSI function: it reads an empty text, as
        // the non-NT platform's registry, which keeps ANSI, would hold a single NUL.
        bool unicodeOnly = false;
    };
    const Case cases[] = {
        {"the system folder", Value(REG_SZ, L"C:\\windows\\system32\0"s), true, L"C:\\windows\\system32"},
        {"a final backslash", Value(REG_SZ, L"C:\\Folder\\\0"s), true, L"C:\\Folder\\"},
        {"no bytes at all", Value(REG_SZ, L""s), true, L""},
        {"only a NUL", Value(REG_SZ, L"\0"s), true, L""},
        {"an embedded NUL", Value(REG_SZ, L"C:\\A\0C:\\B\0"s), true, L"C:\\A"},
        {"unexpanded REG_EXPAND_SZ", Value(REG_EXPAND_SZ, L"%SystemRoot%\\System32\0"s), true,
         L"%SystemRoot%\\System32"},
        {"no terminator", Value(REG_SZ, L"C:\\Folder"s), false, L""},
        {"an odd byte count", Value(REG_SZ, L"C:\\Folder\0"s, 1), false, L""},
        {"a single byte", Value(REG_SZ, L"\0"s, 1), false, L"", true},
        {"REG_MULTI_SZ", Value(REG_MULTI_SZ, L"C:\\Folder\0\0"s), false, L""},
        {"REG_DWORD", Dword(0x003A0043), false, L""},
        {"REG_BINARY holding a string", Value(REG_BINARY, L"C:\\Folder\0"s), false, L""},
    };
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuorvelTests\\InstallerLocation", 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (bool notNT : {false, true}) {
        UniChooseRoute(notNT);
        for (const Case& c : cases) {
            if (notNT && c.unicodeOnly) continue;
            SCOPED_TRACE(std::string(c.shape) + (notNT ? " (ANSI)" : ""));
            Store(key, L"InstallerLocation", c.value);
            WideString text;
            text.Assign(L"stale");
            EXPECT_EQ(c.read, ReadInstallerLocation(key, &text));
            EXPECT_EQ(c.text, std::wstring(text.c_str()));
            EXPECT_EQ(c.text.size(), text.length());
        }
    }
    UniChooseRoute(false);
    RegDeleteValueW(key, L"InstallerLocation");
    WideString untouched;
    untouched.Assign(L"stale");
    EXPECT_FALSE(ReadInstallerLocation(key, &untouched));
    EXPECT_EQ(L"stale"s, untouched.c_str()) << "a value that is not there leaves the text alone";
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuorvelTests\\InstallerLocation");
}

// Writes the installer location under HKEY_LOCAL_MACHINE and makes Wine load a test-built
// msi.dll from where it is told (it substitutes its own otherwise); both go back afterwards.
class BindInstallerApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallerKeyPath, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &m_installer, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &m_overrides, nullptr));
        m_savedLocation = Saved(m_installer, L"InstallerLocation");
        m_savedOverride = Saved(m_overrides, L"msi");
        PreferNativeMsi(L"native,builtin");
    }
    void TearDown() override {
        Restore(m_installer, L"InstallerLocation", m_savedLocation);
        Restore(m_overrides, L"msi", m_savedOverride);
        RegCloseKey(m_installer);
        RegCloseKey(m_overrides);
    }

    void PreferNativeMsi(const wchar_t* order) { Store(m_overrides, L"msi", Value(REG_SZ, order + L"\0"s)); }
    void Locate(const RegistryValue& value) { Store(m_installer, L"InstallerLocation", value); }

    HKEY m_installer = nullptr;
    HKEY m_overrides = nullptr;
    RegistryValue m_savedLocation;
    RegistryValue m_savedOverride;
};

void ExpectAllBound(const InstallerApi& api) {
    EXPECT_TRUE(api.MsiSetInternalUI && api.MsiInstallProductW && api.MsiApplyPatchW &&
                api.MsiReinstallProductW && api.MsiQueryProductStateW && api.MsiOpenDatabaseW &&
                api.MsiDatabaseOpenViewW && api.MsiViewExecute && api.MsiViewFetch &&
                api.MsiRecordGetStringW && api.MsiCloseHandle);
}

void ExpectUpgradeFailedBox(const MessageBoxCapture& capture) {
    WideString expected;
    ASSERT_TRUE(LoadResourceString(IDS_UPGRADE_FAILED, &expected));
    ASSERT_EQ(1u, capture.boxes.size());
    EXPECT_EQ(std::wstring(expected.c_str()), capture.boxes[0].text);
    EXPECT_TRUE(capture.boxes[0].errorIcon);
    EXPECT_EQ(std::vector<int>{IDOK}, capture.boxes[0].buttons);
}

TEST_F(BindInstallerApiTest, LoadsMsiFromTheConfiguredFolderOrByPlainName) {
    const std::wstring fixture = FixturePath(L"msi_full");
    const std::wstring fixtureMsi = Lower(fixture + L"\\msi.dll");
    const std::wstring systemMsi = Lower(SystemFolder() + L"\\msi.dll");
    SetEnvironmentVariableW(L"QUORVEL_MSI_FIXTURE", fixture.c_str());
    struct Case {
        const char* shape;
        RegistryValue value;  // REG_NONE: no value at all
        std::wstring loaded;
    };
    const Case cases[] = {
        {"the folder", Value(REG_SZ, fixture + L"\0"s), fixtureMsi},
        {"the folder with a final backslash", Value(REG_SZ, fixture + L"\\\0"s), fixtureMsi},
        {"the folder as REG_EXPAND_SZ", Value(REG_EXPAND_SZ, fixture + L"\0"s), fixtureMsi},
        {"the system folder", Value(REG_SZ, SystemFolder() + L"\0"s), systemMsi},
        {"an empty string", Value(REG_SZ, L""s), systemMsi},
        {"only a NUL", Value(REG_SZ, L"\0"s), systemMsi},
        {"the folder without its terminator", Value(REG_SZ, fixture), systemMsi},
        {"the folder with an odd byte count", Value(REG_SZ, fixture + L"\0"s, 1), systemMsi},
        {"the folder as REG_MULTI_SZ", Value(REG_MULTI_SZ, fixture + L"\0\0"s), systemMsi},
        {"a REG_DWORD", Dword(1), systemMsi},
        {"an unexpanded %SystemRoot%", Value(REG_EXPAND_SZ, L"%SystemRoot%\\System32\0"s), systemMsi},
        {"a variable naming the folder", Value(REG_EXPAND_SZ, L"%QUORVEL_MSI_FIXTURE%\0"s), systemMsi},
        {"a folder without msi.dll", Value(REG_SZ, FixturePath(L"msimsg") + L"\0"s), systemMsi},
        {"no value", {REG_NONE, {}}, systemMsi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        if (c.value.type == REG_NONE) RegDeleteValueW(m_installer, L"InstallerLocation");
        else Locate(c.value);
        MessageBoxCapture capture;
        InstallerApi api = {};
        EXPECT_EQ(0u, BindInstallerApi(&api));
        ASSERT_TRUE(api.module);
        EXPECT_EQ(c.loaded, ModulePath(api.module));
        ExpectAllBound(api);
        EXPECT_TRUE(capture.boxes.empty());
        FreeLibrary(api.module);
    }
    SetEnvironmentVariableW(L"QUORVEL_MSI_FIXTURE", nullptr);
}

TEST_F(BindInstallerApiTest, AMissingEntryPointFailsAndStopsTheLookups) {
    const std::wstring lacksReinstall = FixturePath(L"msi_no_reinstall");
    Locate(Value(REG_SZ, lacksReinstall + L"\0"s));
    {
        MessageBoxCapture capture;
        InstallerApi api = {};
        EXPECT_EQ(1603u, BindInstallerApi(&api));
        ExpectUpgradeFailedBox(capture);
        EXPECT_EQ(Lower(lacksReinstall + L"\\msi.dll"), ModulePath(api.module)) << "stays loaded";
        EXPECT_TRUE(api.MsiSetInternalUI && api.MsiInstallProductW && api.MsiApplyPatchW);
        EXPECT_FALSE(api.MsiReinstallProductW || api.MsiQueryProductStateW || api.MsiOpenDatabaseW ||
                     api.MsiDatabaseOpenViewW || api.MsiViewExecute || api.MsiViewFetch ||
                     api.MsiRecordGetStringW || api.MsiCloseHandle);
        FreeLibrary(api.module);
    }
    const std::wstring lacksSetUI = FixturePath(L"msi_no_setinternalui");
    Locate(Value(REG_SZ, lacksSetUI + L"\0"s));
    {
        MessageBoxCapture capture;
        InstallerApi api = {};
        EXPECT_EQ(1603u, BindInstallerApi(&api));
        ExpectUpgradeFailedBox(capture);
        EXPECT_EQ(Lower(lacksSetUI + L"\\msi.dll"), ModulePath(api.module)) << "stays loaded";
        // The first lookup failed: nothing after it was looked up.
        EXPECT_FALSE(api.MsiSetInternalUI || api.MsiInstallProductW || api.MsiApplyPatchW ||
                     api.MsiReinstallProductW || api.MsiQueryProductStateW || api.MsiOpenDatabaseW ||
                     api.MsiDatabaseOpenViewW || api.MsiViewExecute || api.MsiViewFetch ||
                     api.MsiRecordGetStringW || api.MsiCloseHandle);
        FreeLibrary(api.module);
    }
}

TEST_F(BindInstallerApiTest, NoLoadableMsiAnywhereFails) {
    // Native only: the system folder's msi.dll is Wine's built-in one and is refused.
    PreferNativeMsi(L"native");
    Locate(Value(REG_SZ, L"C:\\nowhere\0"s));
    MessageBoxCapture capture;
    InstallerApi api = {};
    EXPECT_EQ(1603u, BindInstallerApi(&api));
    ExpectUpgradeFailedBox(capture);
    EXPECT_EQ(nullptr, api.module);
    EXPECT_EQ(nullptr, api.MsiSetInternalUI);
}

}  // namespace
