#include "engine/child_process.h"

#include "base/owned.h"
#include "base/unicode_layer.h"

namespace {

constexpr size_t kMaxCapacity = 2147483647;
const HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// Copies into `room` (at least 1) characters, always terminating.
HRESULT CopyWithin(wchar_t* destination, size_t room, const wchar_t* text) {
    for (; room > 1 && *text; --room) *destination++ = *text++;
    *destination = L'\0';
    return *text ? kInsufficientBuffer : S_OK;
}

bool IsUsable(size_t capacity, const wchar_t* text) {
    return capacity != 0 && capacity <= kMaxCapacity && text;
}

HRESULT ComposeCommandLine(wchar_t* buffer, size_t capacity,
                           std::initializer_list<const wchar_t*> pieces) {
    HRESULT result = E_INVALIDARG;
    for (const wchar_t* const* piece = pieces.begin(); piece != pieces.end(); ++piece) {
        result = piece == pieces.begin() ? BoundedCopy(buffer, capacity, *piece)
                                         : BoundedAppend(buffer, capacity, *piece);
        if (FAILED(result)) break;
    }
    return result;
}

}  // namespace

HRESULT BoundedCopy(wchar_t* buffer, size_t capacity, const wchar_t* text) {
    if (!IsUsable(capacity, text)) return E_INVALIDARG;
    return CopyWithin(buffer, capacity, text);
}

HRESULT BoundedAppend(wchar_t* buffer, size_t capacity, const wchar_t* text) {
    if (!IsUsable(capacity, text)) return E_INVALIDARG;
    size_t used = 0;
    while (used < capacity && buffer[used]) ++used;
    if (used == capacity) return E_INVALIDARG;
    return CopyWithin(buffer + used, capacity - used, text);
}

DWORD WaitForProcessWithMessages(HANDLE process) {
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return ERROR_SUCCESS;
        if (woke != WAIT_OBJECT_0 + 1) return GetLastError();
        // Everything queued: the wait wakes only for input that arrived since the last look,
        // so messages left behind would sit there until something new came in.
        MSG message;
        while (UniPeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            UniDispatchMessage(&message);
        }
    }
}

DWORD RunChildProcess(unsigned long long capacity, std::initializer_list<const wchar_t*> pieces,
                      DWORD unreadExitCode) {
    if (capacity > MAXDWORD / sizeof(wchar_t)) return ERROR_OUTOFMEMORY;
    if (capacity == 0) return ERROR_INSTALL_FAILURE;
    OwnedBlock block(malloc(static_cast<size_t>(capacity) * sizeof(wchar_t)));
    if (!block) return ERROR_OUTOFMEMORY;
    wchar_t* commandLine = static_cast<wchar_t*>(block.get());
    if (FAILED(ComposeCommandLine(commandLine, static_cast<size_t>(capacity), pieces)))
        return ERROR_INSTALL_FAILURE;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started = {};
    if (!UniCreateProcess(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                          nullptr, nullptr, &startup, &started))
        return GetLastError();
    OwnedHandle process(started.hProcess);
    OwnedHandle thread(started.hThread);

    DWORD waited = WaitForProcessWithMessages(process.get());
    if (waited != ERROR_SUCCESS) return waited;
    DWORD exitCode = 0;
    return GetExitCodeProcess(process.get(), &exitCode) ? exitCode : unreadExitCode;
}
