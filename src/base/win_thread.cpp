#include "base/win_thread.h"

#include <stdlib.h>

CWinThread* CWinThread::BeginSuspended(LPTHREAD_START_ROUTINE procedure, void* parameter) {
    auto* thread = static_cast<CWinThread*>(calloc(1, sizeof(CWinThread)));
    if (!thread) return nullptr;
    thread->m_hThread =
        CreateThread(nullptr, 0, procedure, parameter, CREATE_SUSPENDED, &thread->m_nThreadID);
    if (!thread->m_hThread) {
        free(thread);
        return nullptr;
    }
    return thread;
}

void CWinThread::Delete(CWinThread* thread) {
    if (!thread) return;
    CloseHandle(thread->m_hThread);
    free(thread);
}
