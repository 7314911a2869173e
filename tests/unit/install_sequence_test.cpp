// The installation of one product, driven through a scripted platform and a recording
// installer table: each case checks the exact calls, messages and the result code.
// (Dialogs, downloads, signatures and Windows Installer itself are exercised for real by the
// end-to-end scenarios; here the decisions between them are checked case by case.) The
// downloads land as real files, so that the hold on a downloaded package is Wine's own: the
// recording installer tries what another program would do to the package while it installs.
#include "install/install_sequence.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/native_machine.h"
#include "base/unicode_layer.h"
#include "res/resource.h"
#include "sharing_probe.h"

namespace {

std::string Narrow(const wchar_t* text) {
    if (!text) return "(null)";
    std::string out;
    for (; *text; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

std::vector<std::string> g_calls;  // what the platform and the installer were asked, in order
std::string g_sharingWhileInstalling;  // ProbeSharing of the package the installer was given
const std::string kOnlyReaders = "write 32, rename 32, replace 5, delete 32, read 0";
const std::string kUnlocked = "write 0, rename 0, replace 0, delete 0, read 0";
void Record(const std::string& call) { g_calls.push_back(call); }

// ---- the installer table -------------------------------------------------------------
struct FakePackage {
    std::wstring productVersion;  // empty: the query fetches no record
    std::wstring productCode;
};
std::map<std::wstring, FakePackage> g_packages;
UINT g_installResult = 0;
INSTALLSTATE g_productState = INSTALLSTATE_UNKNOWN;
int g_openHandles = 0;
std::map<MSIHANDLE, std::wstring> g_handles;  // handle -> package path or query
MSIHANDLE g_nextHandle = 100;

MSIHANDLE NewHandle(const std::wstring& what) {
    ++g_openHandles;
    g_handles[++g_nextHandle] = what;
    return g_nextHandle;
}

INSTALLUILEVEL WINAPI FakeSetInternalUI(INSTALLUILEVEL level, HWND* window) {
    Record("MsiSetInternalUI(" + std::to_string(level) + (window ? ",window)" : ",null)"));
    return INSTALLUILEVEL_NOCHANGE;
}
UINT WINAPI FakeInstallProduct(LPCWSTR path, LPCWSTR commandLine) {
    g_sharingWhileInstalling = Narrow(ProbeSharing(path).c_str());
    Record("MsiInstallProductW(" + Narrow(path) + "|" + Narrow(commandLine) + ")");
    return g_installResult;
}
UINT WINAPI FakeApplyPatch(LPCWSTR path, LPCWSTR package, INSTALLTYPE type, LPCWSTR commandLine) {
    g_sharingWhileInstalling = Narrow(ProbeSharing(path).c_str());
    Record("MsiApplyPatchW(" + Narrow(path) + "|" + Narrow(package) + "|" + std::to_string(type) + "|" +
           Narrow(commandLine) + ")");
    return g_installResult;
}
UINT WINAPI FakeReinstall(LPCWSTR, DWORD) {
    Record("MsiReinstallProductW");
    return 0;
}
INSTALLSTATE WINAPI FakeQueryState(LPCWSTR code) {
    Record("MsiQueryProductStateW(" + Narrow(code) + ")");
    return g_productState;
}
UINT WINAPI FakeOpenDatabase(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database) {
    EXPECT_EQ(MSIDBOPEN_READONLY, persist);
    if (!g_packages.count(path)) return ERROR_OPEN_FAILED;
    *database = NewHandle(path);
    return 0;
}
UINT WINAPI FakeOpenView(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
    *view = NewHandle(g_handles[database] + L"\n" + query);
    return 0;
}
UINT WINAPI FakeExecute(MSIHANDLE, MSIHANDLE parameters) {
    EXPECT_EQ(0u, parameters);
    return 0;
}
UINT WINAPI FakeFetch(MSIHANDLE view, MSIHANDLE* record) {
    std::wstring what = g_handles[view];
    const FakePackage& package = g_packages[what.substr(0, what.find(L'\n'))];
    std::wstring query = what.substr(what.find(L'\n') + 1);
    std::wstring value;
    if (query == L"SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'") value = package.productVersion;
    else if (query == L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'") value = package.productCode;
    else ADD_FAILURE() << "unexpected query " << Narrow(query.c_str());
    if (value.empty()) return ERROR_NO_MORE_ITEMS;
    *record = NewHandle(value);
    return 0;
}
UINT WINAPI FakeGetString(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* size) {
    EXPECT_EQ(1u, field);
    const std::wstring& value = g_handles[record];
    if (value.size() >= *size) {
        *size = static_cast<DWORD>(value.size());
        return ERROR_MORE_DATA;
    }
    wcscpy(buffer, value.c_str());
    *size = static_cast<DWORD>(value.size());
    return 0;
}
UINT WINAPI FakeCloseHandle(MSIHANDLE handle) {
    EXPECT_TRUE(g_handles.count(handle));
    --g_openHandles;
    return 0;
}

const InstallerApi kFakeApi = {reinterpret_cast<HMODULE>(1), FakeSetInternalUI, FakeInstallProduct,
                               FakeApplyPatch, FakeReinstall, FakeQueryState, FakeOpenDatabase, FakeOpenView,
                               FakeExecute, FakeFetch, FakeGetString, FakeCloseHandle};

// ---- the platform ----------------------------------------------------------------------
struct ScriptedPlatform : SetupPlatform {
    int answer = IDYES;
    int languageChoice = 0;  // index into the table, -1: cancelled
    USHORT machine = kMachineX64;
    std::vector<std::wstring> existing;
    HRESULT downloadResult = S_OK;
    std::wstring downloadedPath = L"C:\\cache\\Quorvel.x64.En[1].msi";
    bool cancelDuringDownload = false;
    bool heldForWriting = false;  // another program still has the download open for writing
    HANDLE writer = INVALID_HANDLE_VALUE;
    int cancelAtPoll = -1;  // the poll at which the user has pressed Cancel (0 = first)
    int verdict = 1;
    int polls = 0;
    bool cancelled = false;

    ~ScriptedPlatform() {
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
    int Ask(UINT id, const wchar_t* insert) override {
        Record("Ask(" + std::to_string(id) + "," + Narrow(insert) + ")");
        return answer;
    }
    int Show(UINT id, UINT style) override {
        Record("Show(" + std::to_string(id) + "," + std::to_string(style) + ")");
        return IDOK;
    }
    void ShowError(UINT id, const wchar_t* insert) override {
        Record("ShowError(" + std::to_string(id) + "," + Narrow(insert) + ")");
    }
    const LanguageEntry* ChooseLanguage(const LanguageEntry* languages, LANGID preselect) override {
        Record("ChooseLanguage(" + std::to_string(preselect) + ")");
        return languageChoice < 0 ? nullptr : &languages[languageChoice];
    }
    void SetTitle(UINT id, const wchar_t* insert) override {
        Record("SetTitle(" + std::to_string(id) + "," + Narrow(insert) + ")");
    }
    void SetStatus(UINT id, const wchar_t* insert) override {
        Record("SetStatus(" + std::to_string(id) + "," + Narrow(insert) + ")");
    }
    bool IsCancelled() override {
        if (polls++ == cancelAtPoll) cancelled = true;
        return cancelled;
    }
    void HideProgress() override { Record("HideProgress"); }
    USHORT NativeMachine() override {
        Record("NativeMachine");
        return machine;
    }
    bool FileExists(const wchar_t* path) override {
        for (const auto& file : existing)
            if (file == path) return true;
        return false;
    }
    HRESULT Download(const wchar_t* url, wchar_t* path, DWORD capacity) override {
        Record("Download(" + Narrow(url) + "," + std::to_string(capacity) + ")");
        if (cancelDuringDownload) cancelled = true;
        if (FAILED(downloadResult)) return downloadResult;
        wcsncpy(path, downloadedPath.c_str(), capacity);
        if (downloadedPath.empty()) return downloadResult;
        CreateDirectoryW(L"C:\\cache", nullptr);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                  0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << Narrow(path);
        if (heldForWriting) writer = file;
        else CloseHandle(file);
        return downloadResult;
    }
    int CompareSigners(const wchar_t* setupPath, const wchar_t* filePath) override {
        Record("CompareSigners(" + Narrow(setupPath) + "," + Narrow(filePath) + ")");
        return verdict;
    }
    void ReportInstallerResult(UINT code) override { Record("Report(" + std::to_string(code) + ")"); }
    DWORD VerifyInSeparateProcess(const wchar_t*, const wchar_t*) override {
        ADD_FAILURE() << "a product's download is compared in this process";
        return 0;
    }
};

const LanguageEntry kTwoLanguages[] = {
    {0x0424, L"Sloven\u0161\u010dina", nullptr, L"Quorvel.Win32.Sl.msi", L"Quorvel.x64.Sl.msi", nullptr,
     nullptr, nullptr, nullptr, nullptr},
    {0x0409, L"English", nullptr, L"Quorvel.Win32.En.msi", L"Quorvel.x64.En.msi", nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {},
};
const LanguageEntry kOneLanguage[] = {
    {0x0409, L"English", L"Q.9x.msi", L"Q.x86.msi", L"Q.x64.msi", L"Q.arm64.msi", L"P.9x.msp", L"P.x86.msp",
     L"P.x64.msp", L"P.arm64.msp"},
    {},
};
const LanguageEntry kPatchesOnly[] = {
    {0x0409, L"English", nullptr, nullptr, nullptr, nullptr, L"P.9x.msp", L"P.x86.msp", L"P.x64.msp", nullptr},
    {},
};
const LanguageEntry kNoLanguages[] = {{}};

const wchar_t kBase[] = L"https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=";

ProductEntry Product(const LanguageEntry* languages = kTwoLanguages) {
    return {kBase, L"INSTALL", L"Quorvel", nullptr, L"3.5.1", 0, 5, languages};
}

struct Outcome {
    UINT code;
    std::vector<std::string> calls;
    LANGID langId;
};

Outcome RunSequence(const ProductEntry& product, ScriptedPlatform& platform, bool notNT = false,
                    const wchar_t* commandLine = L"", LANGID langId = 0x0409) {
    g_calls.clear();
    g_openHandles = 0;
    std::wstring line = commandLine;
    // The /a folder is read as the application object reads it.
    bool admin = ClassifyCommandLine(&line[0]) == CommandAdmin;
    const wchar_t* targetFolder = nullptr;
    if (admin) GetAdminTargetFolder(&line[0], &targetFolder);
    InstallContext context = {&langId, notNT, admin, targetFolder, L"C:\\Downloads\\",
                              L"C:\\Downloads\\setup.exe", &kFakeApi};
    UINT code = InstallProduct(product, context, platform);
    EXPECT_EQ(0, g_openHandles) << "every installer handle is closed";
    return {code, g_calls, langId};
}

using Calls = std::vector<std::string>;

const std::string kTitle = "SetTitle(16,Quorvel)";
const std::string kDownloadX64En =
    "Download(https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.En.msi,520)";
const std::string kCompare = "CompareSigners(C:\\Downloads\\setup.exe,C:\\cache\\Quorvel.x64.En[1].msi)";

TEST(InstallProduct, BuiltInProductDownloadedVerifiedAndInstalled) {
    ScriptedPlatform platform;
    platform.languageChoice = 1;
    Outcome out = RunSequence(Product(), platform);
    EXPECT_EQ(0u, out.code);
    EXPECT_EQ((Calls{"ChooseLanguage(1033)", kTitle, "NativeMachine", "SetStatus(18,Quorvel.x64.En.msi)",
                     kDownloadX64En, "SetStatus(19,Quorvel.x64.En.msi)", kCompare, "HideProgress",
                     "MsiSetInternalUI(5,null)", "MsiInstallProductW(C:\\cache\\Quorvel.x64.En[1].msi|)"}),
              out.calls);
    EXPECT_EQ(0x0409, out.langId);
    EXPECT_EQ(kOnlyReaders, g_sharingWhileInstalling) << "held while the installer runs";
    EXPECT_EQ(kUnlocked, Narrow(ProbeSharing(platform.downloadedPath).c_str())) << "let go after it returned";
}

TEST(InstallProduct, FailureRowsShowTheirMessageAndReturnTheirCode) {
    struct Case {
        const char* name;
        void (*setUp)(ScriptedPlatform&, ProductEntry&);
        UINT code;
        Calls tail;  // the last calls, ending with the message
    };
    const Case cases[] = {
        {"question answered No", [](ScriptedPlatform& p, ProductEntry& e) { e.askFirst = 1; p.answer = IDNO; },
         0, {"Ask(20,Quorvel)"}},
        {"no languages", [](ScriptedPlatform&, ProductEntry& e) { e.languages = kNoLanguages; }, 160, {}},
        {"null languages", [](ScriptedPlatform&, ProductEntry& e) { e.languages = nullptr; }, 160, {}},
        {"language dialog cancelled", [](ScriptedPlatform& p, ProductEntry&) { p.languageChoice = -1; }, 1602,
         {"ChooseLanguage(1033)"}},
        {"cancelled before the file is chosen", [](ScriptedPlatform& p, ProductEntry&) { p.cancelAtPoll = 0; },
         1602, {kTitle, "Show(24,48)"}},
        {"no package or patch for ARM64", [](ScriptedPlatform& p, ProductEntry&) { p.machine = kMachineArm64; },
         1602, {"NativeMachine", "NativeMachine", "Show(36,16)"}},
        {"unknown machine", [](ScriptedPlatform& p, ProductEntry&) { p.machine = 0; }, 1602,
         {"NativeMachine", "NativeMachine", "Show(36,16)"}},
        {"patch keyword for a package",
         [](ScriptedPlatform&, ProductEntry& e) { e.operation = L"MAJPATCH"; }, 87,
         {"NativeMachine", "ShowError(34,MAJPATCH)"}},
        {"unknown keyword", [](ScriptedPlatform&, ProductEntry& e) { e.operation = L"REMOVE"; }, 87,
         {"NativeMachine", "ShowError(34,REMOVE)"}},
        {"no download address", [](ScriptedPlatform&, ProductEntry& e) { e.downloadBase = nullptr; }, 2,
         {"NativeMachine", "ShowError(13,C:\\Downloads\\Quorvel.x64.Sl.msi)"}},
        {"cancelled before the download", [](ScriptedPlatform& p, ProductEntry&) { p.cancelAtPoll = 1; }, 1602,
         {"SetStatus(18,Quorvel.x64.Sl.msi)", "Show(24,48)"}},
        {"download failed", [](ScriptedPlatform& p, ProductEntry&) { p.downloadResult = static_cast<HRESULT>(0x800C0008); /* INET_E_DOWNLOAD_FAILURE */ },
         2,
         {"Download(https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi,520)",
          "ShowError(13,https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi)"}},
        {"download gave no path", [](ScriptedPlatform& p, ProductEntry&) { p.downloadedPath = L""; }, 2,
         {"ShowError(13,https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi)"}},
        {"cancelled during a download that completed",
         [](ScriptedPlatform& p, ProductEntry&) { p.cancelDuringDownload = true; }, 1602,
         {"Download(https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi,520)",
          "Show(24,48)"}},
        {"cancelled during a download that was aborted",
         [](ScriptedPlatform& p, ProductEntry&) {
             p.cancelDuringDownload = true;
             p.downloadResult = E_ABORT;
         },
         1602,
         {"Download(https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi,520)",
          "Show(24,48)"}},
        {"cancelled before verification", [](ScriptedPlatform& p, ProductEntry&) { p.cancelAtPoll = 3; }, 1602,
         {"SetStatus(19,Quorvel.x64.Sl.msi)", "Show(24,48)"}},
        {"cancelled during verification", [](ScriptedPlatform& p, ProductEntry&) { p.cancelAtPoll = 4; }, 1602,
         {kCompare, "Show(24,48)"}},
        {"no signature support", [](ScriptedPlatform& p, ProductEntry&) { p.verdict = 0; }, 120,
         {kCompare, "Show(21,16)"}},
        {"not trusted", [](ScriptedPlatform& p, ProductEntry&) { p.verdict = 2; }, 4,
         {kCompare, "ShowError(22,C:\\cache\\Quorvel.x64.En[1].msi)"}},
        {"a verdict that is not trusted", [](ScriptedPlatform& p, ProductEntry&) { p.verdict = 3; }, 4,
         {kCompare, "ShowError(22,C:\\cache\\Quorvel.x64.En[1].msi)"}},
        {"download still open for writing", [](ScriptedPlatform& p, ProductEntry&) { p.heldForWriting = true; }, 2,
         {"SetStatus(19,Quorvel.x64.Sl.msi)",
          "ShowError(13,https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel.x64.Sl.msi)"}},
        {"installer failed", [](ScriptedPlatform&, ProductEntry&) { g_installResult = 1603; }, 1603,
         {"MsiInstallProductW(C:\\cache\\Quorvel.x64.En[1].msi|)", "Report(1603)"}},
        {"restart required", [](ScriptedPlatform&, ProductEntry&) { g_installResult = 3010; }, 3010,
         {"MsiInstallProductW(C:\\cache\\Quorvel.x64.En[1].msi|)", "Report(3010)"}},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform;
        ProductEntry product = Product();
        g_installResult = 0;
        c.setUp(platform, product);
        Outcome out = RunSequence(product, platform);
        g_installResult = 0;
        EXPECT_EQ(c.code, out.code) << c.name;
        ASSERT_GE(out.calls.size(), c.tail.size()) << c.name;
        EXPECT_EQ(c.tail, Calls(out.calls.end() - c.tail.size(), out.calls.end())) << c.name;
        bool installed = false;
        for (const auto& call : out.calls) installed = installed || call.rfind("Msi", 0) == 0;
        EXPECT_EQ(c.code == 1603 || c.code == 3010, installed) << c.name << ": the installer runs only at the end";
        if (c.code == 160 || c.code == 0) {
            EXPECT_EQ(0x0409, out.langId) << c.name;
        }
    }
}

TEST(InstallProduct, QuestionAnsweredYesGoesOn) {
    ScriptedPlatform platform;
    ProductEntry product = Product(kOneLanguage);
    product.askFirst = 1;
    Outcome out = RunSequence(product, platform);
    EXPECT_EQ(0u, out.code);
    EXPECT_EQ("Ask(20,Quorvel)", out.calls.front());
}

TEST(InstallProduct, OneLanguageIsTakenWithoutDialog) {
    ScriptedPlatform platform;
    Outcome out = RunSequence(Product(kOneLanguage), platform, false, L"", 0x0424);
    EXPECT_EQ(0u, out.code);
    EXPECT_EQ(kTitle, out.calls.front());
    EXPECT_EQ(0x0409, out.langId) << "the only language replaces the user's";
}

TEST(InstallProduct, FileForEachPlatformWithoutWidening) {
    struct Case {
        bool notNT;
        USHORT machine;
        const LanguageEntry* languages;
        std::string install;  // the installer call
        int machineQuestions;
    };
    const Case cases[] = {
        {true, 0, kOneLanguage, "MsiInstallProductW(C:\\cache\\Q.9x.msi|)", 0},
        {false, kMachineX86, kOneLanguage, "MsiInstallProductW(C:\\cache\\Q.x86.msi|)", 1},
        {false, kMachineX64, kOneLanguage, "MsiInstallProductW(C:\\cache\\Q.x64.msi|)", 1},
        {false, kMachineArm64, kOneLanguage, "MsiInstallProductW(C:\\cache\\Q.arm64.msi|)", 1},
        {true, 0, kPatchesOnly, "MsiApplyPatchW(C:\\cache\\P.9x.msp|(null)|0|REINSTALL=ALL REINSTALLMODE=omus)", 0},
        {false, kMachineX86, kPatchesOnly,
         "MsiApplyPatchW(C:\\cache\\P.x86.msp|(null)|0|REINSTALL=ALL REINSTALLMODE=omus)", 2},
        {false, kMachineX64, kPatchesOnly,
         "MsiApplyPatchW(C:\\cache\\P.x64.msp|(null)|0|REINSTALL=ALL REINSTALLMODE=omus)", 2},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform;
        platform.machine = c.machine;
        ProductEntry product = Product(c.languages);
        product.operation = nullptr;  // DEFAULT: INSTALL for a package, MINPATCH for a patch
        product.productVersion = nullptr;
        const LanguageEntry& l = c.languages[0];
        const wchar_t* file = nullptr;
        for (const wchar_t* f : {l.package9x, l.packageX86, l.packageX64, l.packageArm64, l.patch9x, l.patchX86,
                                 l.patchX64})
            if (f && c.install.find(Narrow(f)) != std::string::npos) file = f;
        ASSERT_NE(nullptr, file);
        platform.downloadedPath = std::wstring(L"C:\\cache\\") + file;
        Outcome out = RunSequence(product, platform, c.notNT);
        EXPECT_EQ(0u, out.code) << c.install;
        EXPECT_EQ(c.install, out.calls.back());
        EXPECT_EQ(kOnlyReaders, g_sharingWhileInstalling) << c.install;
        int asked = 0;
        for (const auto& call : out.calls) asked += call == "NativeMachine";
        EXPECT_EQ(c.machineQuestions, asked) << c.install;
    }
}

TEST(InstallProduct, KeywordsByKindOfFile) {
    struct Case {
        const wchar_t* keyword;
        const LanguageEntry* languages;
        UINT code;
        std::string install;
    };
    const std::string package = "MsiInstallProductW(C:\\cache\\Q.x64.msi|)";
    const std::string patch = "MsiApplyPatchW(C:\\cache\\P.x64.msp|(null)|0|";
    const Case cases[] = {
        {L"INSTALL", kOneLanguage, 0, package},
        {L"install", kOneLanguage, 0, package},
        {L"InStAlLuPd", kOneLanguage, 0, package},  // update wanted, product absent: empty
        {L"DEFAULT", kOneLanguage, 0, package},
        {nullptr, kOneLanguage, 0, package},
        {L"MINPATCH", kOneLanguage, 87, ""},
        {L"MAJPATCH", kOneLanguage, 87, ""},
        {L"MINPATCH", kPatchesOnly, 0, patch + "REINSTALL=ALL REINSTALLMODE=omus)"},
        {L"majpatch", kPatchesOnly, 0, patch + "(null))"},
        {L"DEFAULT", kPatchesOnly, 0, patch + "REINSTALL=ALL REINSTALLMODE=omus)"},
        {nullptr, kPatchesOnly, 0, patch + "REINSTALL=ALL REINSTALLMODE=omus)"},
        {L"INSTALL", kPatchesOnly, 87, ""},
        {L"INSTALLUPD", kPatchesOnly, 87, ""},
        {L"INSTAL", kOneLanguage, 87, ""},
        {L"", kOneLanguage, 87, ""},
    };
    // Compared by CompareStringW, or on the non-NT platform by CompareStringA.
    for (bool notNT : {false, true}) {
        UniChooseRoute(notNT);
        for (const Case& c : cases) {
            ScriptedPlatform platform;
            ProductEntry product = Product(c.languages);
            product.operation = c.keyword;
            product.productVersion = nullptr;
            platform.downloadedPath = c.languages == kOneLanguage ? L"C:\\cache\\Q.x64.msi" : L"C:\\cache\\P.x64.msp";
            Outcome out = RunSequence(product, platform);
            std::string label = Narrow(c.keyword) + (notNT ? " (ANSI)" : "");
            EXPECT_EQ(c.code, out.code) << label;
            EXPECT_EQ(c.code == 87 ? "ShowError(34," + Narrow(c.keyword) + ")" : c.install, out.calls.back()) << label;
        }
    }
    UniChooseRoute(false);
}

TEST(InstallProduct, UpdateReinstallsOnlyAnInstalledOrAdvertisedProduct) {
    struct Case {
        INSTALLSTATE state;
        bool codeReadable;
        std::string commandLine;
    };
    const Case cases[] = {
        {INSTALLSTATE_DEFAULT, true, "REINSTALL=ALL REINSTALLMODE=vomus"},
        {INSTALLSTATE_ADVERTISED, true, "REINSTALL=ALL REINSTALLMODE=vomus"},
        {INSTALLSTATE_ABSENT, true, ""},
        {INSTALLSTATE_UNKNOWN, true, ""},
        {INSTALLSTATE_DEFAULT, false, ""},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform;
        ProductEntry product = Product(kOneLanguage);
        product.operation = L"INSTALLUPD";
        product.productVersion = nullptr;
        platform.existing = {L"C:\\Downloads\\Q.x64.msi"};
        g_packages.clear();
        if (c.codeReadable) g_packages[L"C:\\Downloads\\Q.x64.msi"] = {L"3.5.1", L"{1A2B3C4D-0000-4000-8000-000000000001}"};
        g_productState = c.state;
        Outcome out = RunSequence(product, platform);
        EXPECT_EQ("MsiInstallProductW(C:\\Downloads\\Q.x64.msi|" + c.commandLine + ")", out.calls.back()) << c.state;
        if (c.codeReadable) {
            EXPECT_EQ("MsiQueryProductStateW({1A2B3C4D-0000-4000-8000-000000000001})", out.calls[out.calls.size() - 2]);
        }
    }
    g_packages.clear();
}

TEST(InstallProduct, PropertiesReplaceTheDefaultsAndAdminTextsFollow) {
    struct Case {
        const wchar_t* commandLine;
        const wchar_t* properties;
        const LanguageEntry* languages;
        std::string install;
    };
    const Case cases[] = {
        {L"/a", nullptr, kOneLanguage, "MsiInstallProductW(C:\\cache\\f| ACTION=ADMIN)"},
        {L"/a \"D:\\Admin Point\"", nullptr, kOneLanguage,
         "MsiInstallProductW(C:\\cache\\f| ACTION=ADMIN TARGETDIR=\"D:\\Admin Point\")"},
        {L"-A D:\\Admin Point", L"A=1", kOneLanguage,
         "MsiInstallProductW(C:\\cache\\f|A=1 ACTION=ADMIN TARGETDIR=\"D:\\Admin\")"},
        {L"", L"A=1", kOneLanguage, "MsiInstallProductW(C:\\cache\\f|A=1)"},
        {L"/a", nullptr, kPatchesOnly, "MsiApplyPatchW(C:\\cache\\f|(null)|1|REINSTALL=ALL REINSTALLMODE=omus)"},
        {L"/a \"D:\\Admin Point\"", L"B=2", kPatchesOnly, "MsiApplyPatchW(C:\\cache\\f|D:\\Admin Point|1|B=2)"},
        {L"", L"B=2", kPatchesOnly, "MsiApplyPatchW(C:\\cache\\f|(null)|0|B=2)"},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform;
        ProductEntry product = Product(c.languages);
        product.operation = c.languages == kOneLanguage ? L"INSTALLUPD" : nullptr;
        product.properties = c.properties;
        product.productVersion = nullptr;
        platform.downloadedPath = L"C:\\cache\\f";
        g_productState = INSTALLSTATE_DEFAULT;
        Outcome out = RunSequence(product, platform, false, c.commandLine);
        EXPECT_EQ(c.install, out.calls.back()) << Narrow(c.commandLine);
    }
}

TEST(InstallProduct, CopyBesideTheSetupProgram) {
    struct Case {
        const char* name;
        const wchar_t* wanted;      // the table's productVersion
        const wchar_t* present;     // null: no copy beside setup.exe
        const wchar_t* version;     // the copy's ProductVersion; empty: no such property
        bool readable;              // false: the database does not open
        bool fromBeside;
    };
    const Case cases[] = {
        {"same version", L"3.5.1", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.1", true, true},
        {"case of the text ignored", L"3.5.1-RC", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.1-rc", true, true},
        {"no version wanted", nullptr, L"C:\\Downloads\\Quorvel.x64.En.msi", L"9", false, true},
        {"four parts are another text", L"3.5.1", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.1.0", true, false},
        {"other version", L"3.5.1", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.2", true, false},
        {"fifteen characters fit", L"3.5.1.123456789", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.1.123456789",
         true, true},
        {"sixteen characters never match", L"3.5.1.1234567890", L"C:\\Downloads\\Quorvel.x64.En.msi",
         L"3.5.1.1234567890", true, false},
        {"no ProductVersion property", L"3.5.1", L"C:\\Downloads\\Quorvel.x64.En.msi", L"", true, false},
        {"unreadable package", L"3.5.1", L"C:\\Downloads\\Quorvel.x64.En.msi", L"3.5.1", false, false},
        {"no copy", L"3.5.1", nullptr, L"", false, false},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform;
        platform.languageChoice = 1;
        ProductEntry product = Product();
        product.productVersion = c.wanted;
        g_packages.clear();
        if (c.present) platform.existing = {c.present};
        if (c.present && c.readable) g_packages[c.present] = {c.version, L"{X}"};
        Outcome out = RunSequence(product, platform);
        EXPECT_EQ(0u, out.code) << c.name;
        if (c.fromBeside) {
            EXPECT_EQ("MsiInstallProductW(C:\\Downloads\\Quorvel.x64.En.msi|)", out.calls.back()) << c.name;
            for (const auto& call : out.calls)
                EXPECT_TRUE(call.rfind("Download", 0) && call.rfind("CompareSigners", 0) && call.rfind("SetStatus", 0))
                    << c.name << ": " << call;
        } else {
            EXPECT_EQ("MsiInstallProductW(C:\\cache\\Quorvel.x64.En[1].msi|)", out.calls.back()) << c.name;
        }
    }
    // A copy of another version and no address: the message names the path beside setup.exe.
    ScriptedPlatform platform;
    platform.languageChoice = 1;
    ProductEntry product = Product();
    product.downloadBase = nullptr;
    platform.existing = {L"C:\\Downloads\\Quorvel.x64.En.msi"};
    g_packages = {{L"C:\\Downloads\\Quorvel.x64.En.msi", {L"3.5.0", L"{X}"}}};
    Outcome out = RunSequence(product, platform);
    EXPECT_EQ(2u, out.code);
    EXPECT_EQ("ShowError(13,C:\\Downloads\\Quorvel.x64.En.msi)", out.calls.back());
    g_packages.clear();
}

TEST(InstallProduct, DownloadAddressIsTheBaseAndTheBareName) {
    static const LanguageEntry odd[] = {
        {0x0409, L"English", nullptr, nullptr, L"Quorvel x64 & more.msi", nullptr, nullptr, nullptr, nullptr, nullptr},
        {}};
    ScriptedPlatform platform;
    platform.downloadedPath = L"C:\\cache\\q.msi";
    Outcome out = RunSequence(Product(odd), platform);
    EXPECT_EQ(0u, out.code);
    EXPECT_EQ("Download(https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=Quorvel x64 & more.msi,520)",
              out.calls[3]);
    EXPECT_EQ("SetStatus(18,Quorvel x64 & more.msi)", out.calls[2]);
}

}  // namespace
