#include "base/unicode_layer.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

bool g_ansi = false;

// A wide text in an ANSI code page for the length of one call; a null text stays null.
// Nothing here may change the last error that the call it serves leaves behind.
class AnsiText {
public:
    explicit AnsiText(const wchar_t* text, int length = -1, UINT codePage = CP_ACP) {
        if (!text) return;
        int bytes = length == 0 ? 0 : WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
        m_text = static_cast<char*>(malloc(static_cast<size_t>(bytes) + 1));
        if (!m_text || (length != 0 && (bytes == 0 ||
                                        !WideCharToMultiByte(codePage, 0, text, length, m_text, bytes, nullptr,
                                                             nullptr)))) {
            free(m_text);
            m_text = nullptr;
            m_failed = true;
            return;
        }
        m_text[bytes] = '\0';
    }
    ~AnsiText() {
        DWORD error = GetLastError();
        free(m_text);
        SetLastError(error);
    }
    AnsiText(const AnsiText&) = delete;
    AnsiText& operator=(const AnsiText&) = delete;

    const char* get() const { return m_text; }
    char* buffer() { return m_text; }
    bool failed() const { return m_failed; }
    // The text for the caller to free.
    char* release() {
        char* text = m_text;
        m_text = nullptr;
        return text;
    }

private:
    char* m_text = nullptr;
    bool m_failed = false;
};

template <typename T>
T OutOfMemory(T result) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return result;
}

// `bytes` ANSI bytes as UTF-16; false when they cannot be converted or memory runs out.
bool FromAnsi(const char* ansi, int bytes, WideString* text) {
    text->Clear();
    if (bytes <= 0) return bytes == 0;
    int chars = MultiByteToWideChar(CP_ACP, 0, ansi, bytes, nullptr, 0);
    if (chars <= 0 || !text->Reserve(static_cast<size_t>(chars))) return false;
    MultiByteToWideChar(CP_ACP, 0, ansi, bytes, text->buffer(), chars);
    text->buffer()[chars] = L'\0';
    text->SyncLength();
    return true;
}

// Copies what fits of `text` into a caller's buffer of `capacity` (at least 1) characters,
// always terminated; returns the characters copied.
DWORD CopyOut(const WideString& text, wchar_t* out, DWORD capacity) {
    DWORD length = text.length() < capacity ? static_cast<DWORD>(text.length()) : capacity - 1;
    wmemcpy(out, text.c_str(), length);
    out[length] = L'\0';
    return length;
}

// An ANSI buffer that holds as many characters as a UTF-16 one of `capacity`: a character of
// a double-byte code page takes at most two bytes.
DWORD AnsiCapacity(DWORD capacity) { return capacity > MAXDWORD / 2 ? MAXDWORD : capacity * 2; }

// A numbered resource's name is the same number in either character set.
const char* ResourceA(const wchar_t* name) { return reinterpret_cast<const char*>(name); }

UINT LocaleCodePage(LCID locale) {
    char digits[8];
    UINT codePage = 0;
    if (!GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits)) return CP_ACP;
    for (const char* c = digits; *c >= '0' && *c <= '9'; ++c) codePage = codePage * 10 + static_cast<UINT>(*c - '0');
    return codePage ? codePage : CP_ACP;
}

// The kind of each insert a pattern names (1 to 99): a wide string, or a number when it has
// a format other than s.
enum InsertKind : unsigned char { kUnused, kText, kNumber };
constexpr int kMaxInserts = 99;

int ReadInsertKinds(const wchar_t* pattern, InsertKind* kinds) {
    int highest = 0;
    for (const wchar_t* at = pattern; *at; ++at) {
        if (*at != L'%') continue;
        if (at[1] == L'%') {
            ++at;
            continue;
        }
        if (at[1] < L'1' || at[1] > L'9') continue;
        int number = *++at - L'0';
        if (at[1] >= L'0' && at[1] <= L'9') number = number * 10 + (*++at - L'0');
        InsertKind kind = kText;
        if (at[1] == L'!') {
            const wchar_t* format = at + 2;
            const wchar_t* end = wcschr(format, L'!');
            if (end && end > format && end[-1] != L's') kind = kNumber;
            if (end) at = end;
        }
        kinds[number - 1] = kind;
        if (number > highest) highest = number;
    }
    return highest;
}

bool FormatMessageAnsi(const wchar_t* pattern, va_list* inserts, WideString* text) {
    InsertKind kinds[kMaxInserts] = {};
    int count = ReadInsertKinds(pattern, kinds);
    // Each insert is one 32-bit argument; the texts are converted and handed over by position.
    DWORD_PTR arguments[kMaxInserts] = {};
    char* converted[kMaxInserts] = {};
    bool ready = true;
    va_list walk;
    va_copy(walk, *inserts);
    for (int i = 0; i < count; ++i) {
        if (kinds[i] != kText) {
            arguments[i] = va_arg(walk, DWORD_PTR);
            continue;
        }
        const wchar_t* insert = va_arg(walk, const wchar_t*);
        converted[i] = AnsiText(insert ? insert : L"").release();
        ready = ready && converted[i];
        arguments[i] = reinterpret_cast<DWORD_PTR>(converted[i]);
    }
    va_end(walk);

    AnsiText ansiPattern(pattern);
    char* formatted = nullptr;
    DWORD length = 0;
    if (ready && ansiPattern.get())
        length = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                    FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                ansiPattern.get(), 0, 0, reinterpret_cast<char*>(&formatted), 0,
                                reinterpret_cast<va_list*>(arguments));
    for (char* insert : converted) free(insert);
    bool done = length && FromAnsi(formatted, static_cast<int>(length), text);
    if (formatted) LocalFree(formatted);
    return done;
}

}  // namespace

void UniChooseRoute(bool notNT) { g_ansi = notNT; }

DWORD UniGetModuleFileName(HMODULE module, wchar_t* path, DWORD capacity) {
    if (!g_ansi) return GetModuleFileNameW(module, path, capacity);
    if (capacity == 0) return 0;
    DWORD ansiCapacity = AnsiCapacity(capacity);
    char* ansi = static_cast<char*>(malloc(ansiCapacity));
    if (!ansi) return OutOfMemory(0);
    DWORD bytes = GetModuleFileNameA(module, ansi, ansiCapacity);
    WideString wide;
    bool read = bytes && FromAnsi(ansi, static_cast<int>(bytes), &wide);
    free(ansi);
    if (!read) return 0;
    DWORD length = CopyOut(wide, path, capacity);
    // Cut short, as the Unicode function tells it: the whole capacity.
    return length < wide.length() ? capacity : length;
}

HANDLE UniCreateMutex(SECURITY_ATTRIBUTES* security, BOOL owned, const wchar_t* name) {
    if (!g_ansi) return CreateMutexW(security, owned, name);
    AnsiText ansi(name);
    if (ansi.failed()) return OutOfMemory<HANDLE>(nullptr);
    return CreateMutexA(security, owned, ansi.get());
}

BOOL UniCreateProcess(const wchar_t* application, wchar_t* commandLine, SECURITY_ATTRIBUTES* process,
                      SECURITY_ATTRIBUTES* thread, BOOL inherit, DWORD flags, void* environment,
                      const wchar_t* folder, STARTUPINFOW* startup, PROCESS_INFORMATION* started) {
    if (!g_ansi)
        return CreateProcessW(application, commandLine, process, thread, inherit, flags, environment, folder,
                              startup, started);
    AnsiText ansiApplication(application), ansiCommandLine(commandLine), ansiFolder(folder);
    AnsiText reserved(startup->lpReserved), desktop(startup->lpDesktop), title(startup->lpTitle);
    if (ansiApplication.failed() || ansiCommandLine.failed() || ansiFolder.failed() || reserved.failed() ||
        desktop.failed() || title.failed())
        return OutOfMemory(FALSE);
    static_assert(sizeof(STARTUPINFOA) == sizeof(STARTUPINFOW), "the two differ in their texts only");
    STARTUPINFOA ansiStartup;
    memcpy(&ansiStartup, startup, sizeof ansiStartup);
    ansiStartup.lpReserved = reserved.buffer();
    ansiStartup.lpDesktop = desktop.buffer();
    ansiStartup.lpTitle = title.buffer();
    return CreateProcessA(ansiApplication.get(), ansiCommandLine.buffer(), process, thread, inherit, flags,
                          environment, ansiFolder.get(), &ansiStartup, started);
}

HMODULE UniLoadLibrary(const wchar_t* name) { return UniLoadLibraryEx(name, nullptr, 0); }

HMODULE UniLoadLibraryEx(const wchar_t* name, HANDLE file, DWORD flags) {
    if (!g_ansi) return LoadLibraryExW(name, file, flags);
    AnsiText ansi(name);
    if (ansi.failed()) return OutOfMemory<HMODULE>(nullptr);
    return LoadLibraryExA(ansi.get(), file, flags);
}

DWORD UniGetFileAttributes(const wchar_t* path) {
    if (!g_ansi) return GetFileAttributesW(path);
    AnsiText ansi(path);
    if (ansi.failed()) return OutOfMemory(INVALID_FILE_ATTRIBUTES);
    return GetFileAttributesA(ansi.get());
}

HANDLE UniCreateFile(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                     DWORD attributes, HANDLE templateFile) {
    if (!g_ansi) return CreateFileW(path, access, share, security, disposition, attributes, templateFile);
    AnsiText ansi(path);
    if (ansi.failed()) return OutOfMemory(INVALID_HANDLE_VALUE);
    return CreateFileA(ansi.get(), access, share, security, disposition, attributes, templateFile);
}

int UniCompareString(LCID locale, DWORD flags, const wchar_t* a, int lengthA, const wchar_t* b, int lengthB) {
    if (!g_ansi) return CompareStringW(locale, flags, a, lengthA, b, lengthB);
    // The ANSI function reads its texts in the locale's code page.
    UINT codePage = LocaleCodePage(locale);
    AnsiText ansiA(a, lengthA, codePage), ansiB(b, lengthB, codePage);
    if (ansiA.failed() || ansiB.failed()) return OutOfMemory(0);
    return CompareStringA(locale, flags, ansiA.get(), -1, ansiB.get(), -1);
}

bool UniFormatMessage(const wchar_t* pattern, va_list* inserts, WideString* text) {
    text->Clear();
    if (g_ansi) return FormatMessageAnsi(pattern, inserts, text);
    wchar_t* formatted = nullptr;
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, pattern, 0, 0,
                        reinterpret_cast<wchar_t*>(&formatted), 0, inserts))
        return false;
    bool done = text->Assign(formatted);
    LocalFree(formatted);
    return done;
}

LONG UniRegOpenKeyEx(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access, HKEY* key) {
    if (!g_ansi) return RegOpenKeyExW(parent, subKey, options, access, key);
    AnsiText ansi(subKey);
    if (ansi.failed()) return ERROR_NOT_ENOUGH_MEMORY;
    return RegOpenKeyExA(parent, ansi.get(), options, access, key);
}

LONG UniRegQueryValueEx(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    if (!g_ansi) return RegQueryValueExW(key, name, reserved, type, data, size);
    AnsiText ansiName(name);
    if (ansiName.failed()) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD valueType = REG_NONE, bytes = 0;
    LONG result = RegQueryValueExA(key, ansiName.get(), reserved, &valueType, nullptr, &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type) *type = valueType;
    if (valueType != REG_SZ && valueType != REG_EXPAND_SZ && valueType != REG_MULTI_SZ)
        return RegQueryValueExA(key, ansiName.get(), reserved, nullptr, data, size);

    // Texts are read whole and told in UTF-16 bytes, terminators included, as the Unicode
    // function tells them.
    char* ansi = static_cast<char*>(malloc(bytes ? bytes : 1));
    if (!ansi) return ERROR_NOT_ENOUGH_MEMORY;
    result = RegQueryValueExA(key, ansiName.get(), reserved, nullptr, reinterpret_cast<BYTE*>(ansi), &bytes);
    int chars = 0;
    if (result == ERROR_SUCCESS && bytes) {
        chars = MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(bytes), nullptr, 0);
        if (chars <= 0) result = static_cast<LONG>(GetLastError());
    }
    DWORD needed = static_cast<DWORD>(chars) * sizeof(wchar_t);
    if (result == ERROR_SUCCESS && data) {
        if (!size || *size < needed)
            result = ERROR_MORE_DATA;
        else if (chars)
            MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(bytes), reinterpret_cast<wchar_t*>(data), chars);
    }
    free(ansi);
    if (size && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) *size = needed;
    return result;
}

DWORD UniGetFileVersionInfoSize(const wchar_t* path, DWORD* handle) {
    if (!g_ansi) return GetFileVersionInfoSizeW(path, handle);
    AnsiText ansi(path);
    if (ansi.failed()) return OutOfMemory(0);
    return GetFileVersionInfoSizeA(ansi.get(), handle);
}

BOOL UniGetFileVersionInfo(const wchar_t* path, DWORD handle, DWORD size, void* block) {
    if (!g_ansi) return GetFileVersionInfoW(path, handle, size, block);
    AnsiText ansi(path);
    if (ansi.failed()) return OutOfMemory(FALSE);
    return GetFileVersionInfoA(ansi.get(), handle, size, block);
}

BOOL UniVerQueryValue(const void* block, const wchar_t* subBlock, void** value, UINT* length) {
    if (!g_ansi) return VerQueryValueW(block, subBlock, value, length);
    AnsiText ansi(subBlock);
    if (ansi.failed()) return OutOfMemory(FALSE);
    return VerQueryValueA(block, ansi.get(), value, length);
}

HWND UniCreateDialogParam(HINSTANCE instance, const wchar_t* dialog, HWND parent, DLGPROC procedure, LPARAM param) {
    return g_ansi ? CreateDialogParamA(instance, ResourceA(dialog), parent, procedure, param)
                  : CreateDialogParamW(instance, dialog, parent, procedure, param);
}

INT_PTR UniDialogBoxParam(HINSTANCE instance, const wchar_t* dialog, HWND parent, DLGPROC procedure, LPARAM param) {
    return g_ansi ? DialogBoxParamA(instance, ResourceA(dialog), parent, procedure, param)
                  : DialogBoxParamW(instance, dialog, parent, procedure, param);
}

BOOL UniSetWindowText(HWND window, const wchar_t* text) {
    if (!g_ansi) return SetWindowTextW(window, text);
    AnsiText ansi(text);
    if (ansi.failed()) return OutOfMemory(FALSE);
    return SetWindowTextA(window, ansi.get());
}

LONG_PTR UniGetWindowLongPtr(HWND window, int index) {
    return g_ansi ? GetWindowLongPtrA(window, index) : GetWindowLongPtrW(window, index);
}

LONG_PTR UniSetWindowLongPtr(HWND window, int index, LONG_PTR value) {
    return g_ansi ? SetWindowLongPtrA(window, index, value) : SetWindowLongPtrW(window, index, value);
}

HANDLE UniLoadImage(HINSTANCE instance, const wchar_t* name, UINT type, int width, int height, UINT flags) {
    return g_ansi ? LoadImageA(instance, ResourceA(name), type, width, height, flags)
                  : LoadImageW(instance, name, type, width, height, flags);
}

HICON UniLoadIcon(HINSTANCE instance, const wchar_t* name) {
    return g_ansi ? LoadIconA(instance, ResourceA(name)) : LoadIconW(instance, name);
}

HCURSOR UniLoadCursor(HINSTANCE instance, const wchar_t* name) {
    return g_ansi ? LoadCursorA(instance, ResourceA(name)) : LoadCursorW(instance, name);
}

int UniLoadString(HINSTANCE instance, UINT id, wchar_t* text, int capacity) {
    if (!g_ansi) return LoadStringW(instance, id, text, capacity);
    if (capacity <= 0) return 0;
    DWORD ansiCapacity = AnsiCapacity(static_cast<DWORD>(capacity));
    char* ansi = static_cast<char*>(malloc(ansiCapacity));
    if (!ansi) return OutOfMemory(0);
    int bytes = LoadStringA(instance, id, ansi, static_cast<int>(ansiCapacity));
    WideString wide;
    bool read = bytes > 0 && FromAnsi(ansi, bytes, &wide);
    free(ansi);
    text[0] = L'\0';
    return read ? static_cast<int>(CopyOut(wide, text, static_cast<DWORD>(capacity))) : 0;
}

ATOM UniRegisterClass(const WNDCLASSW* windowClass) {
    if (!g_ansi) return RegisterClassW(windowClass);
    AnsiText name(windowClass->lpszClassName);
    if (name.failed()) return OutOfMemory<ATOM>(0);
    WNDCLASSA ansi = {windowClass->style, windowClass->lpfnWndProc, windowClass->cbClsExtra,
                      windowClass->cbWndExtra, windowClass->hInstance, windowClass->hIcon,
                      windowClass->hCursor, windowClass->hbrBackground, ResourceA(windowClass->lpszMenuName),
                      name.get()};
    return RegisterClassA(&ansi);
}

HWND UniCreateWindowEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                       int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    if (!g_ansi)
        return CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance,
                               param);
    AnsiText ansiClass(className);
    AnsiText ansiName(windowName);
    if (ansiClass.failed() || ansiName.failed()) return OutOfMemory<HWND>(nullptr);
    return CreateWindowExA(exStyle, ansiClass.get(), ansiName.get(), style, x, y, width, height, parent, menu,
                           instance, param);
}

LRESULT UniDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_ansi ? DefWindowProcA(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

BOOL UniPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_ansi ? PostMessageA(window, message, wParam, lParam) : PostMessageW(window, message, wParam, lParam);
}

BOOL UniSendNotifyMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_ansi ? SendNotifyMessageA(window, message, wParam, lParam)
                  : SendNotifyMessageW(window, message, wParam, lParam);
}

LRESULT UniSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_ansi ? SendMessageA(window, message, wParam, lParam) : SendMessageW(window, message, wParam, lParam);
}

LRESULT UniSendTextMessage(HWND window, UINT message, WPARAM wParam, const wchar_t* text) {
    if (!g_ansi) return SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(text));
    AnsiText ansi(text);
    if (ansi.failed()) return OutOfMemory<LRESULT>(-1);
    return SendMessageA(window, message, wParam, reinterpret_cast<LPARAM>(ansi.get()));
}

BOOL UniPostThreadMessage(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_ansi ? PostThreadMessageA(thread, message, wParam, lParam)
                  : PostThreadMessageW(thread, message, wParam, lParam);
}

BOOL UniGetMessage(MSG* message, HWND window, UINT first, UINT last) {
    return g_ansi ? GetMessageA(message, window, first, last) : GetMessageW(message, window, first, last);
}

BOOL UniPeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    return g_ansi ? PeekMessageA(message, window, first, last, remove)
                  : PeekMessageW(message, window, first, last, remove);
}

LRESULT UniDispatchMessage(const MSG* message) {
    return g_ansi ? DispatchMessageA(message) : DispatchMessageW(message);
}

BOOL UniIsDialogMessage(HWND dialog, MSG* message) {
    return g_ansi ? IsDialogMessageA(dialog, message) : IsDialogMessageW(dialog, message);
}
