/* Stands in for kernel32 in the processor probe's tests: ARM64 Windows, a failing call and a
   system without IsWow64Process2 or without IsWow64Process cannot be had under Wine. Each build answers one way and
   counts its calls, so the tests can see when the probe asked the system. */
/* The headers declare these as imports; this file defines them itself. */
#define IsWow64Process HeaderIsWow64Process
#define IsWow64Process2 HeaderIsWow64Process2
#include <windows.h>
#undef IsWow64Process
#undef IsWow64Process2

static LONG calls;

__declspec(dllexport) LONG CallCount(void) { return calls; }

#if defined(ANSWER_ARM64) || defined(ANSWER_FAILS)
__declspec(dllexport) BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* processMachine,
                                                  USHORT* nativeMachine) {
    (void)process;
    ++calls;
#ifdef ANSWER_FAILS
    (void)processMachine;
    (void)nativeMachine;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
#else
    *processMachine = IMAGE_FILE_MACHINE_I386;
    *nativeMachine = 43620;
    return TRUE;
#endif
}
#endif

#if defined(ANSWER_WOW64) || defined(ANSWER_WOW64_FAILS)
__declspec(dllexport) BOOL WINAPI IsWow64Process(HANDLE process, PBOOL underWow) {
    (void)process;
    ++calls;
#ifdef ANSWER_WOW64_FAILS
    (void)underWow;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
#else
    *underWow = TRUE;
    return TRUE;
#endif
}
#endif
