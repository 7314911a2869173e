#include "app/command_line.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

DWORD NextCommandToken(wchar_t* position, CommandToken* token) {
    if (!position) return ERROR_NO_MORE_ITEMS;
    while (IsSeparator(*position)) ++position;
    if (*position == L'\0') return ERROR_NO_MORE_ITEMS;

    bool quoted = *position == L'"';
    if (quoted) ++position;
    wchar_t* start = position;
    // The first character belongs to the token whatever it is; only a lone opening quote
    // at the end of the line leaves an empty token that ends at the terminator.
    wchar_t* end = start;
    if (*end != L'\0') {
        do {
            ++end;
        } while (*end != L'\0' && (quoted ? *end != L'"' : !IsSeparator(*end)));
    }
    token->start = start;
    token->end = end;
    token->quoted = quoted;
    return ERROR_SUCCESS;
}

CommandMode ClassifyCommandLine(wchar_t* commandLine) {
    CommandToken first;
    if (NextCommandToken(commandLine, &first) != ERROR_SUCCESS) return CommandNone;
    if (first.quoted || first.end - first.start != 2) return CommandOther;
    if (first.start[0] != L'/' && first.start[0] != L'-') return CommandOther;
    switch (first.start[1]) {
        case L'a':
        case L'A':
            return CommandAdmin;
        case L'v':
        case L'V':
            return CommandVerify;
        default:
            return CommandOther;
    }
}

const wchar_t* SkipProgramName(const wchar_t* commandLine) {
    bool quoted = false;
    while (*commandLine > L' ' || (*commandLine && quoted)) {
        if (*commandLine == L'"') quoted = !quoted;
        ++commandLine;
    }
    while (*commandLine && *commandLine <= L' ') ++commandLine;
    return commandLine;
}

DWORD RunVerifyCommand(const wchar_t* modulePath, wchar_t* commandLine,
                       SignerComparison compare) {
    CommandToken flag, file, extra;
    if (NextCommandToken(commandLine, &flag) != ERROR_SUCCESS) return ERROR_BAD_ARGUMENTS;
    if (NextCommandToken(flag.end, &file) != ERROR_SUCCESS) return ERROR_BAD_ARGUMENTS;
    if (*file.end != L'\0' && NextCommandToken(file.end + 1, &extra) == ERROR_SUCCESS)
        return ERROR_BAD_ARGUMENTS;
    *file.end = L'\0';

    switch (compare(modulePath, file.start, nullptr)) {
        case 0:
            return static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
        case 1:
            return ERROR_SUCCESS;
        default:
            return static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
    }
}

DWORD GetAdminTargetFolder(wchar_t* commandLine, const wchar_t** folder) {
    CommandToken flag, target;
    if (NextCommandToken(commandLine, &flag) != ERROR_SUCCESS) return ERROR_BAD_ARGUMENTS;
    if (NextCommandToken(flag.end, &target) != ERROR_SUCCESS) {
        *folder = nullptr;
        return ERROR_SUCCESS;
    }
    *target.end = L'\0';
    *folder = target.start;
    return ERROR_SUCCESS;
}
