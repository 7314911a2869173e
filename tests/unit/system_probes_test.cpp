// The system probes and the progress bar's class against Wine's real functions, in prefixes
// set to several platforms (TEST_PREFIX names the one this run uses).
#include "app/system_probes.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/common_controls.h"
#include "base/owned.h"

namespace {

// The prefix of this run: its name ends in the Windows version it is set to ("win98",
// "unit64-nt40"); "wow64" is the x86 build's 64-bit prefix.
std::string Platform() {
    const char* prefix = getenv("TEST_PREFIX");
    return prefix ? prefix : "unit32";
}

bool SetTo(const std::string& version) {
    const std::string prefix = Platform();
    return prefix.size() >= version.size() && prefix.compare(prefix.size() - version.size(), version.size(), version) == 0;
}

TEST(QueryOsVersion, ReportsThePlatformWineIsSetTo) {
    DWORD major = 99;
    bool notNT = QueryOsVersion(&major);
    if (SetTo("win98")) {
        EXPECT_TRUE(notNT);
        EXPECT_EQ(4u, major);
    } else if (SetTo("nt40")) {
        EXPECT_FALSE(notNT);
        EXPECT_EQ(4u, major);
    } else {
        EXPECT_FALSE(notNT);
        EXPECT_GE(major, 6u);
    }
    EXPECT_EQ(notNT, QueryOsVersion(nullptr));
}

TEST(IsUserAdmin, WineUserIsAnAdministratorOnEveryPath) {
    EXPECT_TRUE(IsUserAdmin(true, 4));   // not NT: no test at all
    EXPECT_TRUE(IsUserAdmin(false, 4));  // old NT: the token's groups
    EXPECT_TRUE(IsUserAdmin(false, 10)); // CheckTokenMembership
}

TEST(GetNativeMachine, MatchesThePrefixArchitecture) {
    // Every prefix of the x64 build is 64-bit; the x86 build meets WOW64 in one alone.
    USHORT expected = kMachineOwn == kMachineX64 || Platform() == "wow64" ? kMachineX64 : kMachineX86;
    EXPECT_EQ(expected, GetNativeMachine());
    EXPECT_EQ(expected, GetNativeMachine());
}

// Loads one of the stand-in system libraries that lie beside this test program.
class StandIn {
public:
    explicit StandIn(const std::string& name) {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        *strrchr(path, '\\') = '\0';
        std::string dll = std::string(path) + "\\" + name + ".dll";
        m_module.reset(LoadLibraryA(dll.c_str()));
    }
    HMODULE get() const { return m_module.get(); }
    LONG Calls() const { return LookupProc<LONG (*)()>(m_module.get(), "CallCount")(); }

private:
    OwnedModule m_module;
};

TEST(GetNativeMachineFrom, AnswersAndCache) {
    struct Case {
        const char* answer;
        USHORT machine;
        bool cached;
    } cases[] = {
        {"arm64", kMachineArm64, true},
        {"wow64", kMachineX64, true},
        {"fails", 0, false},  // no second attempt with the older function
        {"wow64_fails", 0, false},
        {"none", kMachineOwn, true},  // before XP SP2 there is no WOW64
    };
    for (const Case& c : cases) {
        StandIn kernel32(std::string("kernel32_") + c.answer);
        ASSERT_TRUE(kernel32.get()) << c.answer;
        USHORT cache = 0;
        EXPECT_EQ(c.machine, GetNativeMachineFrom(kernel32.get(), &cache)) << c.answer;
        EXPECT_EQ(c.machine, GetNativeMachineFrom(kernel32.get(), &cache)) << c.answer;
        EXPECT_EQ(c.machine, cache) << c.answer;
        if (strcmp(c.answer, "none") != 0) {
            EXPECT_EQ(c.cached ? 1 : 2, kernel32.Calls()) << c.answer << ": 0 is never cached";
        }
    }
    USHORT cache = 0;
    EXPECT_EQ(0, GetNativeMachineFrom(nullptr, &cache));
    cache = kMachineArm64;
    EXPECT_EQ(kMachineArm64, GetNativeMachineFrom(nullptr, &cache)) << "a known value is not asked again";
}

TEST(InitProgressBarClass, WithAndWithoutInitCommonControlsEx) {
    OwnedModule comctl32(LoadLibraryW(L"comctl32.dll"));
    EXPECT_TRUE(InitProgressBarClass(comctl32.get()));
    WNDCLASSW progress;
    EXPECT_TRUE(GetClassInfoW(nullptr, PROGRESS_CLASSW, &progress));

    StandIn old("comctl32_plain");  // the comctl32 of Windows 95 and NT 4
    ASSERT_TRUE(old.get());
    EXPECT_TRUE(InitProgressBarClass(old.get()));
    EXPECT_EQ(1, old.Calls()) << "InitCommonControls stands in";

    EXPECT_FALSE(InitProgressBarClass(GetModuleHandleW(L"kernel32.dll")));
    EXPECT_FALSE(InitProgressBarClass(nullptr));
}

// Writes HKLM's ProductSuite for one test and puts the old value back afterwards.
class ProductSuite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                                 KEY_READ | KEY_WRITE, nullptr, m_key.out(), nullptr));
        DWORD size = 0;
        m_hadValue = RegQueryValueExW(m_key.get(), L"ProductSuite", nullptr, &m_type, nullptr, &size) ==
                     ERROR_SUCCESS;
        m_saved.resize(size);
        if (m_hadValue)
            RegQueryValueExW(m_key.get(), L"ProductSuite", nullptr, &m_type, m_saved.data(), &size);
    }
    void TearDown() override {
        if (m_hadValue)
            RegSetValueExW(m_key.get(), L"ProductSuite", 0, m_type, m_saved.data(), (DWORD)m_saved.size());
        else
            RegDeleteValueW(m_key.get(), L"ProductSuite");
    }
    void Store(DWORD type, const std::wstring& data, size_t bytes = std::wstring::npos) {
        DWORD size = (DWORD)(bytes == std::wstring::npos ? data.size() * sizeof(wchar_t) : bytes);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key.get(), L"ProductSuite", 0, type,
                                                reinterpret_cast<const BYTE*>(data.data()), size));
    }

    static constexpr const wchar_t* kKey = L"System\\CurrentControlSet\\Control\\ProductOptions";
    OwnedKey m_key;
    bool m_hadValue = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_saved;
};

TEST_F(ProductSuite, TerminalServerOnOldNT) {
    using namespace std::string_literals;
    struct Case {
        DWORD type;
        std::wstring data;
        size_t bytes;
        bool terminalServer;
    } cases[] = {
        {REG_MULTI_SZ, L"Small Business\0Terminal Server\0\0"s, std::wstring::npos, true},
        {REG_MULTI_SZ, L"Terminal Server\0\0"s, std::wstring::npos, true},
        {REG_MULTI_SZ, L"Terminal Server"s, 30, true},  // no terminator at all: ends with the data
        {REG_MULTI_SZ, L"Terminal Server Extra\0\0"s, std::wstring::npos, false},
        {REG_MULTI_SZ, L"Terminal\0\0"s, std::wstring::npos, false},
        {REG_MULTI_SZ, L"terminal server\0\0"s, std::wstring::npos, false},
        {REG_MULTI_SZ, L"\0Terminal Server\0\0"s, std::wstring::npos, false},  // an empty first ends
        {REG_MULTI_SZ, L"Terminal Serve"s, 28, false},
        {REG_MULTI_SZ, L"Terminal Server"s, 29, false},  // odd size: the last half character is not read
        {REG_MULTI_SZ, L""s, 0, false},
        {REG_SZ, L"Terminal Server\0"s, std::wstring::npos, false},
        {REG_EXPAND_SZ, L"Terminal Server\0"s, std::wstring::npos, false},
        {REG_BINARY, L"Terminal Server\0\0"s, std::wstring::npos, false},
    };
    for (const Case& c : cases) {
        Store(c.type, c.data, c.bytes);
        std::string label(c.data.begin(), c.data.end());
        EXPECT_EQ(c.terminalServer, IsTerminalServer(false, 4)) << c.type << " [" << label << "]";
        EXPECT_FALSE(IsTerminalServer(true, 4)) << "never on the non-NT platform";
        EXPECT_STREQ(c.terminalServer ? L"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}"
                                      : L"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}",
                     SetupMutexName(false, 4));
    }
    RegDeleteValueW(m_key.get(), L"ProductSuite");
    EXPECT_FALSE(IsTerminalServer(false, 4));
}

TEST(SetupMutexName, ByPlatform) {
    EXPECT_STREQ(L"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}", SetupMutexName(true, 4));
    EXPECT_STREQ(L"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}", SetupMutexName(true, 5));
    EXPECT_STREQ(L"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}", SetupMutexName(false, 5));
    EXPECT_STREQ(L"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}", SetupMutexName(false, 10));
}

TEST(IsAnotherSetupRunning, TheFirstCallTakesTheMutex) {
    EXPECT_FALSE(IsAnotherSetupRunning(false, 10));
    EXPECT_TRUE(IsAnotherSetupRunning(false, 10));
    HANDLE mine = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}");
    EXPECT_NE(nullptr, mine) << "the mutex stays for the life of the process";
    CloseHandle(mine);
}

TEST(EnableShutdownPrivilege, EnablesItInTheToken) {
    ASSERT_TRUE(EnableShutdownPrivilege());
    OwnedHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()));
    LUID shutdown;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown));
    std::vector<BYTE> buffer(4096);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), (DWORD)buffer.size(), &size));
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    bool enabled = false;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        if (privileges->Privileges[i].Luid.LowPart == shutdown.LowPart &&
            privileges->Privileges[i].Luid.HighPart == shutdown.HighPart)
            enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    EXPECT_TRUE(enabled);
}

}  // namespace
