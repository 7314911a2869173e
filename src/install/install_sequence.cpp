#include "install/install_sequence.h"

#include "base/file_lock.h"
#include "base/native_machine.h"
#include "base/unicode_layer.h"
#include "base/wide_string.h"
#include "engine/download_step.h"
#include "install/package_property.h"
#include "res/resource.h"
#include "trust/signature.h"

namespace {

constexpr DWORD kVersionCapacity = 16;
constexpr DWORD kProductCodeCapacity = 40;
constexpr DWORD kDownloadPathCapacity = 520;
constexpr LCID kEnglishUS = 1033;

bool SameText(const wchar_t* a, const wchar_t* b, int lengthOfB = -1) {
    return UniCompareString(kEnglishUS, NORM_IGNORECASE, a, -1, b, lengthOfB) == CSTR_EQUAL;
}

// The package (or, without one, the patch) for the platform; never a neighbouring platform's.
const wchar_t* PickFile(const LanguageEntry& language, bool notNT, SetupPlatform& platform,
                        bool patches) {
    if (notNT) return patches ? language.patch9x : language.package9x;
    switch (platform.NativeMachine()) {
        case kMachineX86:
            return patches ? language.patchX86 : language.packageX86;
        case kMachineX64:
            return patches ? language.patchX64 : language.packageX64;
        case kMachineArm64:
            return patches ? language.patchArm64 : language.packageArm64;
        default:
            return nullptr;
    }
}

class Sequence {
public:
    Sequence(const ProductEntry& product, const InstallContext& context, SetupPlatform& platform)
        : m_product(product), m_context(context), m_platform(platform) {}

    UINT Run();

private:
    bool CopyBesideMatches();
    UINT Download();
    UINT Install();
    UINT ApplyPatch();
    UINT InstallPackage();
    bool ProductIsPresent();

    const ProductEntry& m_product;
    const InstallContext& m_context;
    SetupPlatform& m_platform;
    const wchar_t* m_keyword = nullptr;
    const wchar_t* m_fileName = nullptr;
    bool m_patch = false;
    bool m_update = false;
    WideString m_packagePath;
    wchar_t m_downloaded[kDownloadPathCapacity] = {};
    // What Windows Installer is given: the copy beside the setup program, or the download that
    // passed the signature check, held by m_lock until the sequence returns. Nothing else.
    const wchar_t* m_installPath = nullptr;
    FileLock m_lock;
};

UINT Sequence::Run() {
    if (m_product.askFirst && m_platform.Ask(IDS_PREREQUISITE_PROMPT, m_product.productName) != IDYES)
        return ERROR_SUCCESS;

    const LanguageEntry* languages = m_product.languages;
    if (!languages || languages[0].langId == 0) return ERROR_BAD_ARGUMENTS;
    const LanguageEntry* language = &languages[0];
    if (languages[1].langId != 0) {
        language = m_platform.ChooseLanguage(languages, *m_context.setupLangId);
        if (!language) return ERROR_INSTALL_USEREXIT;
    }
    *m_context.setupLangId = language->langId;

    m_keyword = m_product.operation ? m_product.operation : L"DEFAULT";
    m_platform.SetTitle(IDS_WAIT_DOWNLOAD, m_product.productName);
    if (ShowIfCancelled(m_platform)) return ERROR_INSTALL_USEREXIT;

    m_fileName = PickFile(*language, m_context.notNT, m_platform, false);
    if (!m_fileName) {
        m_fileName = PickFile(*language, m_context.notNT, m_platform, true);
        if (!m_fileName) {
            m_platform.Show(IDS_NO_PACKAGE_FOR_OS, MB_OK | MB_ICONERROR);
            return ERROR_INSTALL_USEREXIT;
        }
        m_patch = true;
    }

    const wchar_t* const packageWords[] = {L"INSTALL", L"INSTALLUPD", L"DEFAULT"};
    const wchar_t* const patchWords[] = {L"MINPATCH", L"MAJPATCH", L"DEFAULT"};
    bool allowed = false;
    for (const wchar_t* word : m_patch ? patchWords : packageWords) allowed = allowed || SameText(m_keyword, word);
    if (!allowed) {
        m_platform.ShowError(IDS_INVALID_OPERATION, m_keyword);
        return ERROR_INVALID_PARAMETER;
    }
    m_update = SameText(m_keyword, L"MINPATCH") || SameText(m_keyword, L"INSTALLUPD") ||
               (m_patch && SameText(m_keyword, L"DEFAULT"));

    if (!m_packagePath.Assign(m_context.moduleFolder) || !m_packagePath.Append(m_fileName)) {
        m_platform.Show(IDS_OUT_OF_MEMORY, MB_OK | MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    if (m_platform.FileExists(m_packagePath.c_str()) && CopyBesideMatches()) {
        m_installPath = m_packagePath.c_str();
    } else {
        UINT code = Download();
        if (code != ERROR_SUCCESS) return code;
    }
    return Install();
}

bool Sequence::CopyBesideMatches() {
    if (!m_product.productVersion) return true;
    wchar_t version[kVersionCapacity];
    DWORD length = 0;
    // A text comparison: 3.5.1.0 is not 3.5.1, and a value that does not fit never matches.
    return ReadPackageProperty(*m_context.api, m_packagePath.c_str(), kProductVersionQuery, version,
                               kVersionCapacity, &length) &&
           SameText(m_product.productVersion, version, static_cast<int>(length));
}

UINT Sequence::Download() {
    if (!m_product.downloadBase) {
        m_platform.ShowError(IDS_PACKAGE_NOT_FOUND, m_packagePath.c_str());
        return ERROR_FILE_NOT_FOUND;
    }
    WideString address;
    if (!address.Assign(m_product.downloadBase) || !address.Append(m_fileName)) {
        m_platform.Show(IDS_OUT_OF_MEMORY, MB_OK | MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    UINT code = DownloadStep(m_platform, address.c_str(), IDS_DOWNLOADING, m_fileName, IDS_PACKAGE_NOT_FOUND,
                             m_fileName, m_downloaded, kDownloadPathCapacity);
    if (code != ERROR_SUCCESS) return code;
    // The URL cache is every program's of this user: what is checked must stay what is installed.
    if (!m_lock.Hold(m_downloaded)) {
        m_platform.ShowError(IDS_PACKAGE_NOT_FOUND, address.c_str());
        return ERROR_FILE_NOT_FOUND;
    }

    // Only a downloaded file is compared: a copy beside the setup program came with it.
    switch (m_platform.CompareSigners(m_context.modulePath, m_downloaded)) {
        case kTrustUnavailable:
            m_platform.Show(IDS_NO_SIGNATURE_SUPPORT, MB_OK | MB_ICONERROR);
            return ERROR_CALL_NOT_IMPLEMENTED;
        case kTrusted:
            // Cancel stays on offer through the check: pressed meanwhile, nothing is installed.
            if (ShowIfCancelled(m_platform)) return ERROR_INSTALL_USEREXIT;
            m_installPath = m_downloaded;
            return ERROR_SUCCESS;
        default:
            m_platform.ShowError(IDS_NOT_TRUSTED, m_downloaded);
            return 4;
    }
}

UINT Sequence::Install() {
    m_platform.HideProgress();
    m_context.api->MsiSetInternalUI(static_cast<INSTALLUILEVEL>(m_product.uiLevel), nullptr);
    UINT result = m_patch ? ApplyPatch() : InstallPackage();
    if (result != ERROR_SUCCESS) m_platform.ReportInstallerResult(result);
    return result;
}

UINT Sequence::ApplyPatch() {
    const wchar_t* commandLine = m_product.properties;
    if (!commandLine && m_update) commandLine = L"REINSTALL=ALL REINSTALLMODE=omus";
    bool admin = m_context.adminMode;
    return m_context.api->MsiApplyPatchW(m_installPath, admin ? m_context.adminTargetFolder : nullptr,
                                         admin ? INSTALLTYPE_NETWORK_IMAGE : INSTALLTYPE_DEFAULT,
                                         commandLine);
}

// An update reinstalls only a product that is installed for this user or advertised.
bool Sequence::ProductIsPresent() {
    wchar_t productCode[kProductCodeCapacity];
    DWORD length = 0;
    if (!ReadPackageProperty(*m_context.api, m_installPath, kProductCodeQuery, productCode,
                             kProductCodeCapacity, &length))
        return false;
    INSTALLSTATE state = m_context.api->MsiQueryProductStateW(productCode);
    return state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_DEFAULT;
}

UINT Sequence::InstallPackage() {
    if (m_update) m_update = ProductIsPresent();
    WideString commandLine;
    bool composed = commandLine.Assign(m_product.properties ? m_product.properties
                                       : m_update           ? L"REINSTALL=ALL REINSTALLMODE=vomus"
                                                            : L"");
    if (m_context.adminMode) {
        composed = composed && commandLine.Append(L" ACTION=ADMIN");
        if (m_context.adminTargetFolder)
            composed = composed && commandLine.Append(L" TARGETDIR=\"") &&
                       commandLine.Append(m_context.adminTargetFolder) && commandLine.Append(L"\"");
    }
    if (!composed) {
        m_platform.Show(IDS_OUT_OF_MEMORY, MB_OK | MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    return m_context.api->MsiInstallProductW(m_installPath, commandLine.c_str());
}

}  // namespace

UINT InstallProduct(const ProductEntry& product, const InstallContext& context, SetupPlatform& platform) {
    return Sequence(product, context, platform).Run();
}
