// The Windows Installer version check and upgrade on real files: test-built msi.dll files and
// redistributable stand-ins with chosen versions, named by a real "InstallerLocation" value,
// and stand-ins run as real processes with a chosen exit code, which also try what another
// program would do to the downloaded file they were started from. The user's answers, the status
// line, the cancel flag, the download and the second process that checks it are scripted: the
// end-to-end scenarios run those for real.
#include "engine/installer_upgrade.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/native_machine.h"
#include "engine/file_version.h"
#include "engine/installer_api.h"
#include "res/resource.h"
#include "child_stub_record.h"
#include "message_box_capture.h"
#include "sharing_probe.h"

namespace {

// Quorvel's redistributable settings, which the expected addresses below spell out.
const RedistSettings kRedist = {L"https://msi.quorvel.example/MSI/2.0/", L"InstMSIA.exe", L"InstMSIW.exe", 200};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// A registry value set for one test and put back (or removed) afterwards.
class ScopedValue {
public:
    ScopedValue(HKEY root, const wchar_t* key, const wchar_t* name) : m_name(name) {
        RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
        DWORD size = 0;
        m_existed = RegQueryValueExW(m_key, name, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS;
        m_saved.resize(size);
        if (m_existed) RegQueryValueExW(m_key, name, nullptr, &m_type, m_saved.data(), &size);
    }
    ~ScopedValue() {
        if (m_existed) RegSetValueExW(m_key, m_name, 0, m_type, m_saved.data(), static_cast<DWORD>(m_saved.size()));
        else RegDeleteValueW(m_key, m_name);
        RegCloseKey(m_key);
    }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

    void Set(const std::wstring& text) {
        RegSetValueExW(m_key, m_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void Delete() { RegDeleteValueW(m_key, m_name); }

private:
    HKEY m_key = nullptr;
    const wchar_t* m_name;
    bool m_existed = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_saved;
};

std::wstring StandIn(const wchar_t* version) {
    return FixturePath((std::wstring(L"instmsi_v") + version + L"\\InstMSIW.exe").c_str());
}

// Wine hands out its own msi.dll (and its version) for any file of that name unless told to
// prefer the one found; the tests' msi.dll files are named by "InstallerLocation".
class UpgradeTest : public ::testing::Test {
protected:
    void SetUp() override { m_override.Set(L"native,builtin"); }
    void TearDown() override {
        SetEnvironmentVariableW(L"CHILD_STUB_EXIT", nullptr);
        SetDllDirectoryW(nullptr);
    }

    // The exit code of the next stand-in.
    static void ExitWith(UINT code) { SetEnvironmentVariableW(L"CHILD_STUB_EXIT", std::to_wstring(code).c_str()); }

    ScopedValue m_override{HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"msi"};
    ScopedValue m_location{HKEY_LOCAL_MACHINE, kInstallerKeyPath, L"InstallerLocation"};
    ChildStubRecord m_record{L"installer_upgrade_test"};
    const std::wstring m_scratch = m_record.Folder();
};

TEST_F(UpgradeTest, FileVersionFromTheFixedPart) {
    struct Case {
        std::wstring path;
        DWORD result;
        DWORD versionMS;
        DWORD number;
    };
    const Case cases[] = {
        {FixturePath(L"msi_v1_20\\msi.dll"), 0, 0x00010014, 120},
        {FixturePath(L"msi_v2_0\\msi.dll"), 0, 0x00020000, 200},
        {FixturePath(L"msi_v1_100\\msi.dll"), 0, 0x00010064, 200},
        {FixturePath(L"msi_v3_1\\msi.dll"), 0, 0x00030001, 301},
        {StandIn(L"9_99"), 0, 0x00090063, 999},
        {StandIn(L"11_99"), 0, 0x000B0063, 1199},
        {FixturePath(L"msi_vnofixed\\msi.dll"), 0, kUnknownFileVersion, 6619035},
        {FixturePath(L"child_stub.exe"), ERROR_RESOURCE_DATA_NOT_FOUND, kUnknownFileVersion, 6619035},
        {FixturePath(L"no such file.dll"), ERROR_FILE_NOT_FOUND, kUnknownFileVersion, 6619035},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        DWORD versionMS = 12345;
        EXPECT_EQ(c.result, GetFileVersionMS(c.path.c_str(), &versionMS));
        EXPECT_EQ(c.versionMS, versionMS);
        EXPECT_EQ(c.number, VersionNumber(versionMS));
        EXPECT_EQ(c.result, GetFileVersionMS(c.path.c_str(), nullptr)) << "the version may go nowhere";
    }
}

TEST_F(UpgradeTest, UpgradeNeededByTheConfiguredOrTheLoadedMsi) {
    struct Case {
        const char* shape;
        const wchar_t* location;  // folder under the fixtures; null: no value
        const wchar_t* searched;  // folder the plain name is found in first; null: the system's
        bool needed;
    };
    const Case cases[] = {
        {"1.20", L"msi_v1_20", nullptr, true},
        {"2.0", L"msi_v2_0", nullptr, false},
        {"1.100 is 200", L"msi_v1_100", nullptr, false},
        {"3.1", L"msi_v3_1", nullptr, false},
        {"no fixed version information", L"msi_vnofixed", nullptr, false},
        {"a folder without msi.dll, though the plain name loads", L"instmsi_v12_0", L"msi_v2_0", true},
        {"no location: Wine's own msi.dll", nullptr, nullptr, false},
        {"no location: an old msi.dll by plain name", nullptr, L"msi_v1_20", true},
        {"no location: a new msi.dll by plain name", nullptr, L"msi_v3_1", false},
        {"an empty location: the plain name", L"", L"msi_v1_20", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        if (!c.location) m_location.Delete();
        else m_location.Set(*c.location ? FixturePath(c.location) : L"");
        SetDllDirectoryW(c.searched ? FixturePath(c.searched).c_str() : nullptr);
        EXPECT_EQ(c.needed, IsInstallerUpgradeNeeded(kRedist.minInstallerVersion));
        EXPECT_FALSE(GetModuleHandleW(L"msi.dll")) << "released again";
    }
}

// What the upgrade asked of the user and the system, in order.
struct ScriptedPlatform : UpgradePlatform {
    std::vector<std::string> calls;
    int answer = IDYES;
    USHORT machine = kMachineX86;
    int cancelAtPoll = -1;  // the poll at which Cancel has been pressed (0 = first)
    bool cancelDuringDownload = false;
    bool heldForWriting = false;  // another program still has the download open for writing
    HANDLE writer = INVALID_HANDLE_VALUE;
    HRESULT downloadResult = S_OK;
    std::wstring downloadedPath;
    DWORD verdict = 0;
    int polls = 0;
    bool cancelled = false;

    ~ScriptedPlatform() {
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
    void Record(const std::string& call) { calls.push_back(call); }
    int Show(UINT id, UINT style) override {
        Record("Show(" + std::to_string(id) + "," + std::to_string(style) + ")");
        return id == IDS_UPGRADE_PROMPT ? answer : IDOK;
    }
    void ShowError(UINT id, const wchar_t* insert) override {
        Record("ShowError(" + std::to_string(id) + "," + Narrow(insert) + ")");
    }
    void SetStatus(UINT id, const wchar_t* insert) override {
        Record("SetStatus(" + std::to_string(id) + "," + (insert ? Narrow(insert) : "null") + ")");
    }
    bool IsCancelled() override {
        if (polls++ == cancelAtPoll) cancelled = true;
        return cancelled;
    }
    USHORT NativeMachine() override {
        Record("NativeMachine");
        return machine;
    }
    bool FileExists(const wchar_t* path) override { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }
    HRESULT Download(const wchar_t* url, wchar_t* path, DWORD capacity) override {
        Record("Download(" + Narrow(url) + "," + std::to_string(capacity) + ")");
        if (cancelDuringDownload) cancelled = true;
        if (SUCCEEDED(downloadResult)) wcsncpy(path, downloadedPath.c_str(), capacity);
        if (heldForWriting)
            writer = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
        return downloadResult;
    }
    DWORD VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath) override {
        Record("Verify(" + Narrow(setupPath) + "," + Narrow(filePath) + ")");
        return verdict;
    }
};

using Calls = std::vector<std::string>;
const std::string kPrompt = "Show(33,36)";
const std::string kCancelled = "Show(24,48)";
const std::string kDownload = "Download(https://msi.quorvel.example/MSI/2.0/InstMSIW.exe,520)";

TEST_F(UpgradeTest, EachOutcomeShowsItsMessageAndReturnsItsCode) {
    // Setup programs in folders with or without a copy of the redistributable beside them.
    const std::wstring alone = m_scratch + L"alone\\";
    const std::wstring besideNT = FixturePath(L"instmsi_v12_0\\");
    const std::wstring beside9x = m_scratch + L"beside 9x\\";
    const std::wstring folderNamedLikeIt = m_scratch + L"folder\\";
    for (const std::wstring& folder : {alone, beside9x, folderNamedLikeIt}) CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(StandIn(L"12_0").c_str(), (beside9x + L"InstMSIA.exe").c_str(), FALSE);
    CreateDirectoryW((folderNamedLikeIt + L"InstMSIW.exe").c_str(), nullptr);
    const std::wstring genuine = StandIn(L"12_0");
    const std::wstring forged = StandIn(L"10_0");
    const std::string verify = "Verify(C:\\Setup\\setup.exe," + Narrow(genuine) + ")";
    // A download that the stand-in, started from it, probes: made afresh, since what the probe
    // manages to do changes it.
    const std::wstring cached = m_scratch + L"InstMSIW[1].exe";
    const std::string kOnlyReaders = "write 32, rename 32, replace 5, delete 32, read 0";
    const std::string verifying = "SetStatus(19,InstMSIW.exe)";

    struct Case {
        const char* name;
        bool notNT, isAdmin;
        const std::wstring& folder;
        void (*script)(ScriptedPlatform&);
        UINT exitCode;  // of the stand-in, if it runs
        UINT result;
        Calls tail;       // the last calls
        std::wstring ran;  // the stand-in that ran, if one did
        bool probed = false;  // the download is `cached`, which the stand-in probes
    };
    auto none = [](ScriptedPlatform&) {};
    const Case cases[] = {
        {"not an administrator", false, false, alone, none, 0, 1603, {"Show(26,16)"}, L""},
        {"the question answered No", false, true, alone, [](ScriptedPlatform& p) { p.answer = IDNO; }, 0, 1602,
         {kPrompt, kCancelled}, L""},
        {"x64", false, true, besideNT, [](ScriptedPlatform& p) { p.machine = kMachineX64; }, 0, 1633,
         {kPrompt, "NativeMachine"}, L""},
        {"ARM64", false, true, besideNT, [](ScriptedPlatform& p) { p.machine = kMachineArm64; }, 0, 1633,
         {kPrompt, "NativeMachine"}, L""},
        {"processor unknown", false, true, besideNT, [](ScriptedPlatform& p) { p.machine = 0; }, 0, 1633,
         {kPrompt, "NativeMachine"}, L""},
        {"beside the setup program", false, true, besideNT, none, 0, 0, {kPrompt, "NativeMachine"}, genuine},
        {"beside it, restart required", false, true, besideNT, none, 3010, 0, {kPrompt, "NativeMachine"}, genuine},
        {"beside it, restart initiated", false, true, besideNT, none, 1641, 1641, {kPrompt, "NativeMachine"},
         genuine},
        {"non-NT takes InstMSIA.exe beside it", true, true, beside9x, none, 0, 0, {kPrompt}, beside9x + L"InstMSIA.exe"},
        {"a folder named like it", false, true, folderNamedLikeIt, none, 0, 87,
         {"NativeMachine", "ShowError(31," + Narrow(folderNamedLikeIt) + "InstMSIW.exe)"}, L""},
        {"cancelled before the download", false, true, alone, [](ScriptedPlatform& p) { p.cancelAtPoll = 0; }, 0,
         1602, {"NativeMachine", "SetStatus(27,null)", kCancelled}, L""},
        {"cancelled during the download", false, true, alone,
         [](ScriptedPlatform& p) {
             p.cancelDuringDownload = true;
             p.downloadResult = E_ABORT;
         },
         0, 1602, {kDownload, kCancelled}, L""},
        {"cancelled during a download that completed", false, true, alone,
         [](ScriptedPlatform& p) { p.cancelDuringDownload = true; }, 0, 1602, {kDownload, kCancelled}, L""},
        {"download failed", false, true, alone,
         [](ScriptedPlatform& p) { p.downloadResult = static_cast<HRESULT>(0x800C0005); }, 0, 2,
         {kDownload, "ShowError(28,https://msi.quorvel.example/MSI/2.0/InstMSIW.exe)"}, L""},
        {"download gave no file", false, true, alone, [](ScriptedPlatform& p) { p.downloadedPath = L""; }, 0, 2,
         {kDownload, "ShowError(28,https://msi.quorvel.example/MSI/2.0/InstMSIW.exe)"}, L""},
        {"cancelled before verification", false, true, alone, [](ScriptedPlatform& p) { p.cancelAtPoll = 2; }, 0,
         1602, {kDownload, verifying, kCancelled}, L""},
        {"cancelled during verification", false, true, alone, [](ScriptedPlatform& p) { p.cancelAtPoll = 3; }, 0,
         1602, {verify, kCancelled}, L""},
        {"no signature support", false, true, alone, [](ScriptedPlatform& p) { p.verdict = 0x800B0001; }, 0, 120,
         {verifying, verify, "Show(21,16)"}, L""},
        {"not trusted", false, true, alone, [](ScriptedPlatform& p) { p.verdict = 0x800B0004; }, 0, 4,
         {verify, "ShowError(22," + Narrow(genuine) + ")"}, L""},
        {"bad arguments in the second copy", false, true, alone, [](ScriptedPlatform& p) { p.verdict = 160; }, 0, 4,
         {verify, "ShowError(22," + Narrow(genuine) + ")"}, L""},
        {"downloaded and trusted", false, true, alone, none, 0, 0, {verifying, verify}, genuine},
        {"downloaded, held while it runs", false, true, alone, none, 0, 0,
         {verifying, "Verify(C:\\Setup\\setup.exe," + Narrow(cached) + ")"}, cached, true},
        {"download still open for writing", false, true, alone,
         [](ScriptedPlatform& p) { p.heldForWriting = true; }, 0, 2,
         {verifying, "ShowError(28,https://msi.quorvel.example/MSI/2.0/InstMSIW.exe)"}, L""},
        {"downloaded, restart required", false, true, alone, none, 3010, 0, {verify}, genuine},
        {"downloaded, failed", false, true, alone, none, 1, 1, {verify, "Show(29,16)"}, genuine},
        {"downloaded, trusted but not plausible", false, true, alone,
         [](ScriptedPlatform& p) { p.downloadedPath = StandIn(L"10_0"); }, 0, 87,
         {"ShowError(31," + Narrow(forged) + ")"}, L""},
    };
    m_location.Set(m_scratch);  // no msi.dll there: an upgrade is needed
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPlatform platform;
        platform.downloadedPath = genuine;
        if (c.probed) {
            ASSERT_TRUE(CopyFileW(genuine.c_str(), cached.c_str(), FALSE));
            platform.downloadedPath = cached;
            SetEnvironmentVariableW(L"CHILD_STUB_PROBE", L"1");
        }
        c.script(platform);
        ExitWith(c.exitCode);
        BOOL restartNeeded = FALSE;
        UpgradeContext context = {c.notNT, c.isAdmin, c.folder.c_str(), L"C:\\Setup\\setup.exe", &restartNeeded,
                                  kRedist};
        EXPECT_EQ(c.result, EnsureInstallerVersion(context, platform));
        ASSERT_GE(platform.calls.size(), c.tail.size());
        EXPECT_EQ(c.tail, Calls(platform.calls.end() - c.tail.size(), platform.calls.end()));
        EXPECT_EQ(c.exitCode == 3010, restartNeeded != FALSE);
        std::wstring expectedLine = c.ran.empty() ? L"" : L"\"" + c.ran + L"\" /c:\"msiinst /delayreboot\"";
        std::string expected = Narrow(expectedLine) + (c.probed ? "\n" + kOnlyReaders : "");
        EXPECT_EQ(expected, Narrow(m_record.Take()));
        if (c.probed) {
            SetEnvironmentVariableW(L"CHILD_STUB_PROBE", nullptr);
            EXPECT_EQ("write 0, rename 0, replace 0, delete 0, read 0", Narrow(ProbeSharing(cached)))
                << "let go once the redistributable has ended";
        }
        if (&c.folder != &alone) {
            EXPECT_EQ(0, platform.polls) << "a copy beside the setup program is run without a cancel test";
            for (const std::string& call : platform.calls) EXPECT_EQ(std::string::npos, call.find("SetStatus"));
        }
    }
}

TEST_F(UpgradeTest, NoUpgradeNeededAsksNothing) {
    m_location.Set(FixturePath(L"msi_v2_0"));
    ScriptedPlatform platform;
    BOOL restartNeeded = FALSE;
    UpgradeContext context = {false, false, m_scratch.c_str(), L"C:\\Setup\\setup.exe", &restartNeeded,
                                  kRedist};
    EXPECT_EQ(0u, EnsureInstallerVersion(context, platform));
    EXPECT_EQ(Calls{}, platform.calls);
    EXPECT_EQ(0, platform.polls);
}

TEST_F(UpgradeTest, RedistributableExitCodesAndVersions) {
    struct Case {
        const wchar_t* version;
        UINT exitCode;
        UINT result;
        std::string shown;  // empty: nothing
        bool runs;
    };
    const Case cases[] = {
        {L"12_0", 0, 0, "", true},
        {L"12_0", 1, 1, "Show(29,16)", true},
        {L"12_0", 2, 2, "ShowError(28,PATH)", true},
        {L"12_0", 1602, 1602, kCancelled, true},
        {L"12_0", 1603, 1603, "Show(29,16)", true},
        {L"12_0", 1641, 1641, "", true},
        {L"12_0", 3010, 3010, "", true},
        {L"9_99", 0, 0, "", true},
        {L"nofixed", 0, 0, "", true},
        {L"10_0", 0, 87, "ShowError(31,PATH)", false},
        {L"11_99", 0, 87, "ShowError(31,PATH)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.version) + " exiting with " + std::to_string(c.exitCode));
        const std::wstring path = StandIn(c.version);
        EXPECT_EQ(c.runs, IsPlausibleInstMsi(path.c_str()));
        ExitWith(c.exitCode);
        ScriptedPlatform platform;
        EXPECT_EQ(c.result, RunInstMsi(path.c_str(), platform));
        std::string shown = c.shown;
        if (shown.find("PATH") != std::string::npos) shown.replace(shown.find("PATH"), 4, Narrow(path));
        EXPECT_EQ(shown.empty() ? Calls{} : Calls{shown}, platform.calls);
        EXPECT_EQ(c.runs, !m_record.Take().empty());
    }
    for (const std::wstring& path : {FixturePath(L"child_stub.exe"), FixturePath(L"missing\\InstMSIW.exe")}) {
        EXPECT_FALSE(IsPlausibleInstMsi(path.c_str())) << Narrow(path) << ": no version information";
    }
}

TEST_F(UpgradeTest, LaunchedWithTheDelayedRestartAtA200CharacterPath) {
    std::wstring folder = m_scratch;
    while (folder.size() + wcslen(L"\\InstMSIW.exe") < 200) folder += L'x';
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\InstMSIW.exe";
    ASSERT_EQ(200u, program.size());
    ASSERT_TRUE(CopyFileW(StandIn(L"12_0").c_str(), program.c_str(), FALSE));
    ExitWith(0x800B0004);
    EXPECT_EQ(0x800B0004u, LaunchInstMsi(program.c_str())) << "the exit code comes back unchanged";
    std::wstring line = m_record.Take();
    EXPECT_EQ(228u, line.size());
    EXPECT_EQ(Narrow(L"\"" + program + L"\" /c:\"msiinst /delayreboot\""), Narrow(line));
    EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), LaunchInstMsi((m_scratch + L"gone.exe").c_str()));
    DeleteFileW(program.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
