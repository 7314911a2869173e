#include "install/setup_tables.h"

namespace {

const LanguageEntry kQuorvelLanguages[] = {
    {0x0424, L"Sloven\u0161\u010dina", nullptr, L"Quorvel.Win32.Sl.msi", L"Quorvel.x64.Sl.msi",
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {0x0409, L"English", nullptr, L"Quorvel.Win32.En.msi", L"Quorvel.x64.En.msi", nullptr,
     nullptr, nullptr, nullptr, nullptr},
    {},
};

const ProductEntry kProducts[] = {
    {L"https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket=", L"INSTALL", L"Quorvel",
     nullptr, L"3.5.1", 0, 5, kQuorvelLanguages},
    {},
};

}  // namespace

const SetupSettings g_setupSettings = {
    L"https://msi.quorvel.example/MSI/2.0/",
    L"InstMSIA.exe",
    L"InstMSIW.exe",
    nullptr,
    nullptr,
    200,
    kProducts,
    0,
};
