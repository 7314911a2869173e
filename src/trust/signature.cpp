#include "trust/signature.h"

// Placeholder until the trust checks land.
int CompareFileSigners(const wchar_t*, const wchar_t*, HWND) { return kTrustUnavailable; }
