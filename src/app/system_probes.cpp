#include "app/system_probes.h"

#include <wchar.h>

#include "base/owned.h"
#include "base/unicode_layer.h"

namespace {

const wchar_t kGlobalMutexName[] = L"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";
const wchar_t kLocalMutexName[] = L"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";
const wchar_t kTerminalServer[] = L"Terminal Server";
constexpr DWORD kTokenGroupsFirstTry = 1024;

OwnedSid AdministratorsSid() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    OwnedSid sid;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, sid.out()))
        return OwnedSid();
    return OwnedSid(sid.release());
}

// Old NT has no CheckTokenMembership: walk the token's groups.
bool TokenGroupsHold(PSID wanted) {
    OwnedBlock buffer(malloc(kTokenGroupsFirstTry));
    if (!buffer) return false;
    OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | STANDARD_RIGHTS_READ, token.out()))
        return false;
    DWORD size = kTokenGroupsFirstTry;
    bool read = GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &size) == 1;
    if (!read && size > kTokenGroupsFirstTry) {
        buffer.reset(malloc(size));
        read = buffer && GetTokenInformation(token.get(), TokenGroups, buffer.get(), size,
                                             &size) == 1;
    }
    token.reset();
    if (!read) return false;
    const TOKEN_GROUPS* groups = static_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD i = 0; i < groups->GroupCount; ++i)
        if (EqualSid(wanted, groups->Groups[i].Sid)) return true;
    return false;
}

bool CheckMembership(PSID wanted) {
    using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
    OwnedModule advapi(UniLoadLibrary(L"advapi32.dll"));
    if (!advapi) return false;
    auto check = LookupProc<CheckTokenMembershipFn>(advapi.get(), "CheckTokenMembership");
    BOOL member = FALSE;
    return check && check(nullptr, wanted, &member) && member;
}

}  // namespace

// The ANSI structure: the non-NT platform only stubs GetVersionExW, and this probe chooses the
// Unicode layer's route, so it must work before that route is known.
bool QueryOsVersion(DWORD* majorVersion) {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (majorVersion) *majorVersion = info.dwMajorVersion;
    return info.dwPlatformId != VER_PLATFORM_WIN32_NT;
}

bool IsUserAdmin(bool notNT, DWORD majorVersion) {
    if (notNT) return true;
    OwnedSid admins = AdministratorsSid();
    if (!admins) return false;
    return majorVersion < 5 ? TokenGroupsHold(admins.get()) : CheckMembership(admins.get());
}

USHORT GetNativeMachineFrom(HMODULE kernel32, USHORT* cache) {
    if (*cache) return *cache;
    if (!kernel32) return 0;
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    USHORT machine = 0;
    if (auto wow2 = LookupProc<IsWow64Process2Fn>(kernel32, "IsWow64Process2")) {
        USHORT processMachine = 0;
        if (!wow2(GetCurrentProcess(), &processMachine, &machine)) return 0;
    } else if (auto wow = LookupProc<IsWow64ProcessFn>(kernel32, "IsWow64Process")) {
        BOOL underWow = FALSE;
        if (!wow(GetCurrentProcess(), &underWow)) return 0;
        machine = underWow ? kMachineX64 : kMachineOwn;
    } else {
        // Windows before XP SP2 and Server 2003 SP1 has no WOW64: it runs this program natively.
        machine = kMachineOwn;
    }
    *cache = machine;
    return machine;
}

USHORT GetNativeMachine() {
    static USHORT cache;  // only the worker thread asks
    return GetNativeMachineFrom(GetModuleHandleA("kernel32.dll"), &cache);
}

bool IsTerminalServer(bool notNT, DWORD majorVersion) {
    (void)majorVersion;
    if (notNT) return false;
    OwnedKey key;
    if (UniRegOpenKeyEx(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\ProductOptions", 0,
                        KEY_READ, key.out()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (UniRegQueryValueEx(key.get(), L"ProductSuite", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0 || type != REG_MULTI_SZ)
        return false;
    OwnedBlock data(calloc(1, size));
    if (!data) return false;
    if (UniRegQueryValueEx(key.get(), L"ProductSuite", nullptr, nullptr,
                           static_cast<BYTE*>(data.get()), &size) != ERROR_SUCCESS)
        return false;

    // The value may lack its terminators: a string ends at its NUL or at the end of the data,
    // and nothing past the bytes that came back is read.
    const wchar_t* text = static_cast<const wchar_t*>(data.get());
    const size_t chars = size / sizeof(wchar_t);
    const size_t wanted = sizeof kTerminalServer / sizeof(wchar_t) - 1;
    size_t at = 0;
    while (at < chars && text[at] != L'\0') {
        size_t length = 0;
        while (at + length < chars && text[at + length] != L'\0') ++length;
        if (length == wanted && wmemcmp(text + at, kTerminalServer, wanted) == 0) return true;
        at += length + 1;
    }
    return false;
}

const wchar_t* SetupMutexName(bool notNT, DWORD majorVersion) {
    bool global = (!notNT && majorVersion >= 5) || IsTerminalServer(notNT, majorVersion);
    return global ? kGlobalMutexName : kLocalMutexName;
}

bool IsAnotherSetupRunning(bool notNT, DWORD majorVersion) {
    HANDLE mutex = UniCreateMutex(nullptr, FALSE, SetupMutexName(notNT, majorVersion));
    if (!mutex) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS;  // the handle lives as long as the process
}

bool EnableShutdownPrivilege() {
    using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
    using LookupPrivilegeValueFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PLUID);
    using AdjustTokenPrivilegesFn =
        BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
    OwnedModule advapi(UniLoadLibrary(L"advapi32.dll"));
    if (!advapi) return false;
    auto openToken = LookupProc<OpenProcessTokenFn>(advapi.get(), "OpenProcessToken");
    auto lookup = LookupProc<LookupPrivilegeValueFn>(advapi.get(), "LookupPrivilegeValueW");
    auto adjust = LookupProc<AdjustTokenPrivilegesFn>(advapi.get(), "AdjustTokenPrivileges");
    if (!openToken || !lookup || !adjust) return false;
    OwnedHandle token;
    if (!openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.out()))
        return false;
    TOKEN_PRIVILEGES privileges;
    ZeroMemory(&privileges, sizeof privileges);
    privileges.PrivilegeCount = 1;
    lookup(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Success is judged by the last error: a privilege the token lacks gives NOT_ALL_ASSIGNED.
    SetLastError(ERROR_SUCCESS);
    adjust(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}
