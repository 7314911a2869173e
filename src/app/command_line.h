// The command line: its tokens, its classification, the verify mode and the /a folder.
// Everything here works inside the caller's writable command line; nothing is copied.
#pragma once
#include <windows.h>

enum CommandMode : DWORD {
    CommandNone = 0,
    CommandOther = 1,
    CommandVerify = 2,
    CommandAdmin = 3,
};

// A token of the command line. `end` is the character that ended the token (closing quote,
// blank, tab or the terminator), so an empty token has start == end.
struct CommandToken {
    wchar_t* start;
    wchar_t* end;
    bool quoted;
};

// 0 and the token, or ERROR_NO_MORE_ITEMS (259) when none follows `position`.
DWORD NextCommandToken(wchar_t* position, CommandToken* token);

CommandMode ClassifyCommandLine(wchar_t* commandLine);

// What follows the program name in the process's whole command line (GetCommandLineW), as the
// C runtime hands it to WinMain: the name ends at a blank or control character outside
// quotes, and the blanks after it are skipped.
const wchar_t* SkipProgramName(const wchar_t* commandLine);

// The signer comparison that the verify mode runs: 0 unavailable, 1 trusted, 2 not trusted.
using SignerComparison = int (*)(const wchar_t* setupPath, const wchar_t* filePath, HWND owner);

// Exit code of "/v file": 0, TRUST_E_PROVIDER_UNKNOWN or TRUST_E_SUBJECT_NOT_TRUSTED, or
// ERROR_BAD_ARGUMENTS (160). Ends the file path inside the command line with a terminator.
DWORD RunVerifyCommand(const wchar_t* modulePath, wchar_t* commandLine,
                       SignerComparison compare);

// 0 with the folder after the switch (null when there is none), or 160 without any token.
// Ends the folder inside the command line, so repeated calls give the same folder.
DWORD GetAdminTargetFolder(wchar_t* commandLine, const wchar_t** folder);
