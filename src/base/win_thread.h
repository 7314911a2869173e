// The worker thread object: created suspended, owned by the application, deleted by it once
// the thread has ended.
#pragma once
#include <windows.h>

class CWinThread {
public:
    // Null when the thread cannot be created.
    static CWinThread* BeginSuspended(LPTHREAD_START_ROUTINE procedure, void* parameter);
    static void Delete(CWinThread* thread);

    HANDLE m_hThread;
    DWORD m_nThreadID;
};
