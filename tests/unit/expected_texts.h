// What the resources must say, per language: every string of the string table as the user
// is to read it, and the dialogs' captions and button texts.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "res/resource.h"

struct ExpectedString {
    UINT id;
    const wchar_t* text;
};

struct ExpectedLanguage {
    LANGID langId;
    const char* name;  // for test names and screenshots
    const ExpectedString* strings;  // ends with id 0
    const wchar_t* progressCaption;
    const wchar_t* languageCaption;
    const wchar_t* ok;
    const wchar_t* cancel;
};

inline const ExpectedString kEnglishStrings[] = {
    {IDS_OUT_OF_MEMORY, L"Out of Memory"},
    {IDS_PACKAGE_NOT_FOUND, L"Setup was unable to find the MSI package or patch '%1'."},
    {IDS_MISSING_STRING, L"The required data with code %1!d! is missing."},
    {IDS_WAIT_DOWNLOAD, L"Please wait while '%1' is downloaded..."},
    {IDS_THE_PRODUCT, L"the product"},
    {IDS_DOWNLOADING, L"Downloading package '%1' ..."},
    {IDS_VERIFYING, L"Verifying digital signature of '%1'..."},
    {IDS_PREREQUISITE_PROMPT, L"This installation requires package '%1'. Do you wish to install it now?\nIf you already installed '%1', you can choose 'No'."},
    {IDS_NO_SIGNATURE_SUPPORT, L"This version of Windows does not support digital signatures."},
    {IDS_NOT_TRUSTED, L"Installation failed. '%1' is not trusted."},
    {IDS_INVALID_PATH, L"The path '%1' is invalid."},
    {IDS_CANCELLED, L"Setup was cancelled."},
    {IDS_INVALID_MSI_VERSION, L"'%1!d!' is an invalid MSI version. Be sure that it is numeric and is at least '%2!d!'."},
    {IDS_ADMIN_REQUIRED, L"Admin priviledges are required for upgrading the Windows Installer."},
    {IDS_DOWNLOADING_INSTMSI, L"Downloading Windows Installer upgrade executable"},
    {IDS_INSTMSI_NOT_FOUND, L"Setup was unable to find the InstMSI file '%1'."},
    {IDS_UPGRADE_FAILED, L"Setup was unable to upgrade the Windows Installer."},
    {IDS_REBOOT_PROMPT, L"You must restart your system for the configuration changes to take effect. Click Yes to restart now or No if you plan to manually restart later."},
    {IDS_INVALID_INSTMSI, L"The provided InstMSI upgrade executable '%1' is invalid."},
    {IDS_INSTALL_ERROR, L"An error occured installing the package. Windows Installer returned '%1!d!'."},
    {IDS_UPGRADE_PROMPT, L"This package requires a newer version of the Windows Installer. Do you want to update the version of the Windows Installer on your system?"},
    {IDS_INVALID_OPERATION, L"The setup was authored with an incorrect operation resource '%1' and cannot continue."},
    {IDS_NO_PACKAGE_FOR_OS, L"The setup was unable to find appropriate install package for your operating system."},
    {IDS_USAGE, L"Usage:\n   /? :  Show this dialog.\n   /a :  Prepare an administrative install.\n   /a <full path to existing administrative install> :  Prepare/Patch administrative install in given folder.\n   /v <full path to file> :  Verify signature on file.\n"},
    {IDS_APP_TITLE, L"Windows Installer Installation Wrapper"},
    {0, nullptr},
};

inline const ExpectedString kItalianStrings[] = {
    {IDS_OUT_OF_MEMORY, L"Memoria insufficiente"},
    {IDS_PACKAGE_NOT_FOUND, L"Non trovo datoteca MSI '%1'."},
    {IDS_MISSING_STRING, L"Non trovo dato con codice %1!d!."},
    {IDS_WAIT_DOWNLOAD, L"Prego attendere. Trasferisco datoteca '%1'..."},
    {IDS_THE_PRODUCT, L"prodotto"},
    {IDS_DOWNLOADING, L"Trasferimento datoteca '%1' ..."},
    {IDS_VERIFYING, L"Verifica firma digitale '%1'..."},
    {IDS_PREREQUISITE_PROMPT, L"Questo tipo di installazione richiede il pacchetto di programmi '%1'. Vuoi installare questo pacchetto di programmi subito?\nSe il pacchetto di programmi '%1' è già installato, puoi scegliere 'No'."},
    {IDS_NO_SIGNATURE_SUPPORT, L"Questa versione del sistema operativo non permette la verifica di firme digitali."},
    {IDS_NOT_TRUSTED, L"L'installazione non è riuscita. '%1' non è degno di fiducia."},
    {IDS_INVALID_PATH, L"Percorso '%1' sbagliato."},
    {IDS_CANCELLED, L"L'installazione è stata interrotta."},
    {IDS_INVALID_MSI_VERSION, L"'%1!d!' è MSI di versione errata. Verifica se il valore è numerico e di almeno '%2!d!'."},
    {IDS_ADMIN_REQUIRED, L"Per l'upgrade del programma Windows Installer devi avere lo status di amministratore."},
    {IDS_DOWNLOADING_INSTMSI, L"Trasferimento del programma Windows Installer"},
    {IDS_INSTMSI_NOT_FOUND, L"Setup non trova datoteca InstMSI '%1'."},
    {IDS_UPGRADE_FAILED, L"L'upgrade del programma Windows Installer non è riuscito."},
    {IDS_REBOOT_PROMPT, L"Per la continuazione devi riavviare il computer. Clicca »Si« per riavviarlo subito o »No«, se vuoi avviare il computer più tardi."},
    {IDS_INVALID_INSTMSI, L"La datoteca per l'upgrade del InstMSI '%1' è sbagliata."},
    {IDS_INSTALL_ERROR, L"Nell'installazione del pacchetto è occorso un errore. Windows Installer ha restituito il codice '%1!d!'."},
    {IDS_UPGRADE_PROMPT, L"Questo pacchetto richiede una versione più recente del programma Windows Installer. Vuoi eseguire l'upgrade del programma Windows Installer sul tuo computer?"},
    {IDS_INVALID_OPERATION, L"L'installazione ha eseguito un'operazione errata '%1' è non può continuare l'azione."},
    {IDS_NO_PACKAGE_FOR_OS, L"La procedura di installazione non trova il pacchetto installer per il suo sistema operativo."},
    {IDS_USAGE, L"Uso:\n   /? :  Mostra queste istruzioni.\n   /a :  Esegui installazione in modalità amministratore.\n   /a <percorso completo fino ad installazione in modalità amministratore> :  Prepara/Correggi l'installazione su modalità amministratore sul dato directory.\n   /v <percorso intero fino al file > :  Verifica firma file.\n"},
    {IDS_APP_TITLE, L"Avvio programma Windows Installer"},
    {0, nullptr},
};

inline const ExpectedString kAlbanianStrings[] = {
    {IDS_OUT_OF_MEMORY, L"Nuk ka memorie"},
    {IDS_PACKAGE_NOT_FOUND, L"Parametrizimi nuk ishte në gjendje të gjente paketën MSI ose korrigjimin '%1'."},
    {IDS_MISSING_STRING, L"Të dhënat e kërkuara me kodin %1!d! mungojnë."},
    {IDS_WAIT_DOWNLOAD, L"Të lutem, prit derisa të shkarkohet '%1' ..."},
    {IDS_THE_PRODUCT, L"produkti"},
    {IDS_DOWNLOADING, L"Duke shkarkuar paketën '%1' ..."},
    {IDS_VERIFYING, L"Verifikuar nënshkrimin digjital të '%1' ..."},
    {IDS_PREREQUISITE_PROMPT, L"Ky instalim kërkon paketën '%1' . A dëshiron ta instalosh tani?\nNëse tashmë e ke instaluar '%1, mund të zgjedhësh 'Jo'."},
    {IDS_NO_SIGNATURE_SUPPORT, L"Ky version i Windows-it nuk e mbështet nënshkrimin digjital."},
    {IDS_NOT_TRUSTED, L"Instalimi dështoi. '%1' nuk është i besueshëm."},
    {IDS_INVALID_PATH, L"Shtegu '%1' është i pavlefshëm."},
    {IDS_CANCELLED, L"Parametrizimi u anulua."},
    {IDS_INVALID_MSI_VERSION, L"'%1!d!' është një version i pavlefshëm MSI. Sigurohu që të jetë numër dhe të paktën '%2!d!'."},
    {IDS_ADMIN_REQUIRED, L"Kërkohen privilegjet e administratorit për të përmirësuar Windows Installer."},
    {IDS_DOWNLOADING_INSTMSI, L"Duke shkarkuar paketën e ekzekutueshme Windows Installer"},
    {IDS_INSTMSI_NOT_FOUND, L"Parametrizimi nuk ishte në gjendje të gjente skedarin InstMSI '%1'."},
    {IDS_UPGRADE_FAILED, L"Parametrizimi nuk ishte në gjendje të përmirësonte Windows Installer-in."},
    {IDS_REBOOT_PROMPT, L"Duhet të rinisësh sistemin tënd që të kenë efekt ndryshimet e konfigurimit. Kliko Po për të rinisur tani ose Jo nëse planifikon ta rinisësh me dorë më vonë."},
    {IDS_INVALID_INSTMSI, L"Përmirësimi i siguruar InstMSI i ekzekutueshëm '%1' është i pavlefshëm."},
    {IDS_INSTALL_ERROR, L"Ndodhi një gabim gjatë instalimit të paketës. Windows Installer ktheu '%1!d!'."},
    {IDS_UPGRADE_PROMPT, L"Kjo paketë kërkon një version më të ri të Windows Installer. A dëshiron ta përditësosh versionin e Windows Installer në sistemin tënd?"},
    {IDS_INVALID_OPERATION, L"Parametrizimi u autorizua me një burim të pasaktë operacioni '%1' dhe nuk mund të vazhdojë."},
    {IDS_NO_PACKAGE_FOR_OS, L"Parametrizimi nuk ishte në gjendje të gjente paketën e duhur të instalimit për sistemin tënd operativ."},
    {IDS_USAGE, L"Përdorimi:\n   /? :  Shfaqe këtë dialog.\n   /a :  Përgatit një instalim administrativ.\n   /a <full path to existing administrative install> :  Përgatit/Korrigjo instalimin administrativ në dosjen e dhënë.\n   /v <full path to file> :  Verifiko nënshkrimin në skedar.\n"},
    {IDS_APP_TITLE, L"Paketa e instalimit të Windows Installer-it."},
    {0, nullptr},
};

inline const ExpectedString kSlovenianStrings[] = {
    {IDS_OUT_OF_MEMORY, L"Premalo pomnilnika"},
    {IDS_PACKAGE_NOT_FOUND, L"Ne najdem datoteke MSI '%1'."},
    {IDS_MISSING_STRING, L"Ne najdem podatka s kodo %1!d!."},
    {IDS_WAIT_DOWNLOAD, L"Prosimo, počakajte. Prenašanje datoteke '%1' ..."},
    {IDS_THE_PRODUCT, L"izdelek"},
    {IDS_DOWNLOADING, L"Prenos datoteke '%1' ..."},
    {IDS_VERIFYING, L"Preverjanje digitalnega podpisa '%1' ..."},
    {IDS_PREREQUISITE_PROMPT, L"Ta namestitev zahteva paket '%1'. Ali ga želite namestiti zdaj?\nČe ste paket '%1' že namestili, lahko izberete 'Ne'."},
    {IDS_NO_SIGNATURE_SUPPORT, L"Ta verzija operacijskega sistema ne omogoča preverjanja digitalnih podpisov."},
    {IDS_NOT_TRUSTED, L"Namestitev ni uspela. Datoteka '%1' ni vredna zaupanja."},
    {IDS_INVALID_PATH, L"Pot '%1' je napačna."},
    {IDS_CANCELLED, L"Namestitev je bila preklicana."},
    {IDS_INVALID_MSI_VERSION, L"'%1!d!' je MSI napačne verzije. Preverite, da je vrednost število in je najmanj '%2!d!'."},
    {IDS_ADMIN_REQUIRED, L"Za nadgradnjo programa Windows Installer morate imeti skrbniške pravice."},
    {IDS_DOWNLOADING_INSTMSI, L"Prenos programa Windows Installer"},
    {IDS_INSTMSI_NOT_FOUND, L"Namestitveni program ne najde datoteke InstMSI '%1'."},
    {IDS_UPGRADE_FAILED, L"Nadgradnja programa Windows Installer ni uspela."},
    {IDS_REBOOT_PROMPT, L"Za nadaljevanje morate ponovno zagnati svoj računalnik. Kliknite »Da« za takojšen ponovni zagon ali »Ne«, če želite računalnik zagnati kasneje."},
    {IDS_INVALID_INSTMSI, L"Datoteka za nadgradnjo InstMSI '%1' je napačna."},
    {IDS_INSTALL_ERROR, L"Pri namestitvi paketa je prišlo do napake. Windows Installer je vrnil kodo '%1!d!'."},
    {IDS_UPGRADE_PROMPT, L"Ta paket zahteva novejšo verzijo programa Windows Installer. Ali želite nadgraditi program Windows Installer na svojem računalniku?"},
    {IDS_INVALID_OPERATION, L"Namestitveni program je bil pripravljen z napačnim virom operacije '%1' in ne more nadaljevati."},
    {IDS_NO_PACKAGE_FOR_OS, L"Namestitveni program ne najde ustreznega namestitvenega paketa za vaš operacijski sistem."},
    {IDS_USAGE, L"Uporaba:\n   /? :  Prikaži to okno.\n   /a :  Pripravi skrbniško namestitev.\n   /a <polna pot do obstoječe skrbniške namestitve> :  Pripravi/popravi skrbniško namestitev v podani mapi.\n   /v <polna pot do datoteke> :  Preveri podpis datoteke.\n"},
    {IDS_APP_TITLE, L"Zaganjalnik programa Windows Installer"},
    {0, nullptr},
};

inline const ExpectedLanguage kExpectedLanguages[] = {
    {0x0409, "en", kEnglishStrings, L"Windows Installer Installation Wrapper", L"Choose setup language",
     L"&OK", L"Cancel"},
    {0x0410, "it", kItalianStrings, L"Avvio programma Windows Installer", L"Scegli la lingua del setup",
     L"&OK", L"Annula"},
    {0x041C, "sq", kAlbanianStrings, L"Paketa e instalimit të Windows Installer-it.", L"Zgjidh gjuhën e instalimit",
     L"&Në rregull", L"Anulo"},
    {0x0424, "sl", kSlovenianStrings, L"Zaganjalnik programa Windows Installer", L"Izberite jezik namestitve",
     L"&V redu", L"Prekliči"},
};

// The expectations for the language the resource loader picks for this process's user.
inline const ExpectedLanguage& ExpectedForUser() {
    for (const ExpectedLanguage& language : kExpectedLanguages)
        if (language.langId == GetUserDefaultUILanguage()) return language;
    return kExpectedLanguages[0];  // the loader falls back to English
}

inline const wchar_t* ExpectedText(const ExpectedLanguage& language, UINT id) {
    for (const ExpectedString* s = language.strings; s->id; ++s)
        if (s->id == id) return s->text;
    return nullptr;
}

// The UI language the test runner asked Wine for through LANG; 0 when it named none of ours.
inline LANGID LanguageAskedFor() {
    const char* lang = getenv("LANG");
    const struct {
        const char* locale;
        LANGID langId;
    } kLocales[] = {{"en_US", 0x0409}, {"it_IT", 0x0410}, {"sq_AL", 0x041C}, {"sl_SI", 0x0424}};
    for (const auto& locale : kLocales)
        if (lang && strncmp(lang, locale.locale, 5) == 0) return locale.langId;
    return 0;
}
