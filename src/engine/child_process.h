// Running a child process from a thread that owns windows: the command line composed within
// an exact capacity, the start, a wait that keeps dispatching the thread's messages, and the
// child's exit code.
#pragma once
#include <windows.h>

#include <initializer_list>

// Bounded text operations on a buffer of `capacity` characters. They return S_OK;
// E_INVALIDARG for a capacity of 0 or above 2147483647 characters, a null text, or (append) a
// buffer without a terminator within the capacity; or 0x8007007A when the text does not fit,
// leaving as much of it as fits, terminated.
HRESULT BoundedCopy(wchar_t* buffer, size_t capacity, const wchar_t* text);
HRESULT BoundedAppend(wchar_t* buffer, size_t capacity, const wchar_t* text);

// 0 once the process has ended, or the system error of a failed wait. Messages for the
// calling thread's windows are dispatched meanwhile.
DWORD WaitForProcessWithMessages(HANDLE process);

// Starts the command line made of `pieces`, in order, in a buffer of exactly `capacity`
// characters (terminator included), waits for it and returns its exit code unchanged, or
// `unreadExitCode` when the ended child's exit code cannot be read.
// Otherwise: ERROR_OUTOFMEMORY (14) when the buffer cannot be had, ERROR_INSTALL_FAILURE
// (1603) when the pieces do not fit (nothing is started), the system error of the start, or
// that of the wait (the child is then left running).
DWORD RunChildProcess(unsigned long long capacity, std::initializer_list<const wchar_t*> pieces,
                      DWORD unreadExitCode = ERROR_SUCCESS);
