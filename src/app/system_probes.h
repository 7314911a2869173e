// Probes of the running Windows: platform, administrator rights, processor, Terminal
// Server on old NT, the single-instance mutex and the shutdown privilege.
// A probe that fails gives the cautious answer; none shows anything.
#pragma once
#include <windows.h>

#include "base/native_machine.h"

// True when the platform is not NT; stores the major version when asked.
bool QueryOsVersion(DWORD* majorVersion);

bool IsUserAdmin(bool notNT, DWORD majorVersion);

// The native machine of the running Windows, or 0 when the probe fails; cached once known.
// A kernel32 without the WOW64 functions answers x86.
USHORT GetNativeMachine();
// The same probe against a given kernel32 and cache: 0 is never stored in the cache.
USHORT GetNativeMachineFrom(HMODULE kernel32, USHORT* cache);

bool IsTerminalServer(bool notNT, DWORD majorVersion);

// Takes the single-instance mutex (never released); true when another setup holds it or
// the mutex cannot be had.
bool IsAnotherSetupRunning(bool notNT, DWORD majorVersion);
// The mutex name that IsAnotherSetupRunning uses on this system.
const wchar_t* SetupMutexName(bool notNT, DWORD majorVersion);

bool EnableShutdownPrivilege();
