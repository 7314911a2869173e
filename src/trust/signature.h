// Whether a file may be trusted: the platform's Authenticode check, and the policy that a
// file must carry the setup program's own signing certificate or pass the full trust prompt.
#pragma once
#include <windows.h>
#include <wincrypt.h>

// Verdicts.
constexpr int kTrustUnavailable = 0;
constexpr int kTrusted = 1;
constexpr int kNotTrusted = 2;

int VerifyFileTrust(const wchar_t* path, HWND owner, DWORD uiChoice, BOOL* isSigned,
                    PCCERT_CONTEXT* signer);

int CompareFileSigners(const wchar_t* setupPath, const wchar_t* filePath, HWND owner);

// Runs CompareFileSigners in a second copy of the setup program ("/v") and returns that
// process's exit code (TRUST_E_SUBJECT_NOT_TRUSTED when it cannot be read), or the runner's
// own failure code.
DWORD VerifyInSeparateProcess(const wchar_t* setupPath, const wchar_t* filePath);
