#include "trust/signature.h"

#include <softpub.h>
#include <wchar.h>
#include <wintrust.h>

#include "base/owned.h"
#include "base/unicode_layer.h"
#include "engine/child_process.h"

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, void*);
using ProvDataFromStateDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFromChainFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using ProvCertFromChainFn = CRYPT_PROVIDER_CERT*(WINAPI*)(CRYPT_PROVIDER_SGNR*, DWORD);
using DuplicateCertificateFn = PCCERT_CONTEXT(WINAPI*)(PCCERT_CONTEXT);
using CompareCertificateFn = BOOL(WINAPI*)(DWORD, PCERT_INFO, PCERT_INFO);
using FreeCertificateFn = BOOL(WINAPI*)(PCCERT_CONTEXT);

constexpr LONG kProviderUnknown = static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN);
constexpr LONG kNoSignature = static_cast<LONG>(TRUST_E_NOSIGNATURE);
constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct TrustFunctions {
    WinVerifyTrustFn verify;
    ProvDataFromStateDataFn providerData;
    ProvSignerFromChainFn signer;
    ProvCertFromChainFn certificate;
};

bool LookupTrustFunctions(HMODULE wintrust, TrustFunctions* f) {
    f->verify = LookupProc<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
    f->providerData = LookupProc<ProvDataFromStateDataFn>(wintrust, "WTHelperProvDataFromStateData");
    f->signer = LookupProc<ProvSignerFromChainFn>(wintrust, "WTHelperGetProvSignerFromChain");
    f->certificate = LookupProc<ProvCertFromChainFn>(wintrust, "WTHelperGetProvCertFromChain");
    return f->verify && f->providerData && f->signer && f->certificate;
}

// Releases the verification state, whether or not one was asked for.
void CloseVerification(const TrustFunctions& f, GUID* action, WINTRUST_DATA* data) {
    data->dwUIChoice = WTD_UI_NONE;
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    f.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), action, data);
}

// The first certificate of the first signer in the verification state, duplicated for the
// caller; null when any step of the walk finds nothing.
PCCERT_CONTEXT DuplicateSignerCertificate(const TrustFunctions& f, HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = f.providerData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? f.signer(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer ? f.certificate(signer, 0) : nullptr;
    if (!certificate || !certificate->pCert) return nullptr;
    OwnedModule crypt32(UniLoadLibrary(L"crypt32.dll"));
    if (!crypt32) return nullptr;
    auto duplicate = LookupProc<DuplicateCertificateFn>(crypt32.get(), "CertDuplicateCertificateContext");
    return duplicate ? duplicate(certificate->pCert) : nullptr;
}

bool HaveSameSigner(CompareCertificateFn compare, PCCERT_CONTEXT setup, PCCERT_CONTEXT other) {
    return setup && other && compare(kCertificateEncoding, setup->pCertInfo, other->pCertInfo);
}

}  // namespace

int VerifyFileTrust(const wchar_t* path, HWND owner, DWORD uiChoice, BOOL* isSigned,
                    PCCERT_CONTEXT* signer) {
    if (isSigned) *isSigned = FALSE;
    if (signer) *signer = nullptr;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = uiChoice;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = signer ? WTD_STATEACTION_VERIFY : WTD_STATEACTION_IGNORE;

    OwnedModule wintrust(UniLoadLibrary(L"wintrust.dll"));
    TrustFunctions f;
    if (!wintrust || !LookupTrustFunctions(wintrust.get(), &f)) return kTrustUnavailable;

    // A silent check must not let the provider show anything, not even on the desktop.
    HWND window = uiChoice == WTD_UI_NONE ? static_cast<HWND>(INVALID_HANDLE_VALUE) : owner;
    LONG answer = f.verify(window, &action, &data);
    if (answer == kProviderUnknown) {
        CloseVerification(f, &action, &data);
        return kTrustUnavailable;
    }
    if (isSigned) *isSigned = answer != kNoSignature;
    if (answer == kNoSignature) {
        CloseVerification(f, &action, &data);
        return kNotTrusted;
    }
    // Even a signature that failed verification names its signer.
    if (signer) {
        *signer = DuplicateSignerCertificate(f, data.hWVTStateData);
        CloseVerification(f, &action, &data);
    }
    return answer == 0 ? kTrusted : kNotTrusted;
}

int CompareFileSigners(const wchar_t* setupPath, const wchar_t* filePath, HWND owner) {
    OwnedModule crypt32(UniLoadLibrary(L"crypt32.dll"));
    if (!crypt32) return kTrustUnavailable;
    auto compare = LookupProc<CompareCertificateFn>(crypt32.get(), "CertCompareCertificate");
    auto release = LookupProc<FreeCertificateFn>(crypt32.get(), "CertFreeCertificateContext");
    if (!compare || !release) return kTrustUnavailable;

    // Only the signed flags and certificates of the silent passes count, not their verdicts:
    // the final pass alone decides.
    BOOL setupSigned = FALSE, fileSigned = FALSE;
    PCCERT_CONTEXT setupCertificate = nullptr, fileCertificate = nullptr;
    int verdict = VerifyFileTrust(setupPath, owner, WTD_UI_NONE, &setupSigned, &setupCertificate);
    if (verdict != kTrustUnavailable) {
        if (!setupSigned) {
            verdict = VerifyFileTrust(filePath, owner, WTD_UI_ALL, nullptr, nullptr);
        } else {
            verdict = VerifyFileTrust(filePath, owner, WTD_UI_NONE, &fileSigned, &fileCertificate);
            if (verdict != kTrustUnavailable) {
                // The same signer is trusted without asking; anyone else must pass the full prompt.
                DWORD level = fileSigned && HaveSameSigner(compare, setupCertificate, fileCertificate)
                                  ? WTD_UI_NOGOOD
                                  : WTD_UI_ALL;
                verdict = VerifyFileTrust(filePath, owner, level, nullptr, nullptr);
            }
        }
    }
    if (setupCertificate) release(setupCertificate);
    if (fileCertificate) release(fileCertificate);
    return verdict;
}

DWORD VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath) {
    // Quotes around both paths, " /v " and the terminator.
    unsigned long long capacity = 9ull + wcslen(setupPath) + wcslen(filePath);
    // An answer that cannot be read is no answer: 0 would read as trusted.
    return RunChildProcess(capacity, {L"\"", setupPath, L"\" /v \"", filePath, L"\""},
                           static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED));
}
