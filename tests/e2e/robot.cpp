// The UI robot: starts a program, records every window that programs started after it show
// (title, class, controls with ids, texts, styles, states, progress), answers windows
// as the rules say, and reports the program's exit code as Windows sees it (not cut to 8 bits).
//
//   robot.exe --log FILE [--timeout SECONDS] [--hold-mutex NAME]
//             [--on TEXT ACTION[,ACTION...]]... -- PROGRAM [ARGUMENTS...]
//
// A rule fires once for each new top-level window whose title or any control's text contains
// TEXT. Actions, in order: press:ID (a button's command), select:TEXT (a list item, as a user's
// pick, with the change notification), key:escape|enter, wait:MS, shot:NAME (a BMP of the
// window beside the log), close (WM_CLOSE).
// The log has one JSON object per line: "window" when a window appears or changes (and just
// before each act on it, as it then was, shown or not), "action",
// "exit" with the code, or "timeout" when the program had to be ended; each with "ms", the
// milliseconds since the robot started.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Rule {
    std::wstring text;
    std::vector<std::wstring> actions;
};

struct Options {
    std::wstring log;
    DWORD timeoutMs = 60000;
    std::wstring mutexName;
    std::vector<Rule> rules;
    std::wstring commandLine;
};

FILE* g_log;
DWORD g_started = GetTickCount();
std::wstring g_logFolder;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : Utf8(text)) {
        if (c == '"' || c == '\\') { out += '\\'; out += (char)c; }
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20) { char b[8]; snprintf(b, sizeof b, "\\u%04x", c); out += b; }
        else out += (char)c;
    }
    return out + "\"";
}

void LogLine(const std::string& line) {  // line: a JSON object
    fprintf(g_log, "{\"ms\":%lu,%s\n", GetTickCount() - g_started, line.c_str() + 1);
    fflush(g_log);
}

// How long a question to another program's window may wait. Briefly: under Wine, a question
// sent to a window as its thread destroys it goes unanswered until it gives up, and that
// thread's own work stalls meanwhile (a message box's button, read as the box closed, held
// the program's download for the whole wait). An unanswered window is read again next round.
const UINT kAnswerMs = 250;

// The window's text, or an empty one with *unanswered set when its thread did not answer: it
// is busy, or looks hung to the system, as a thread that has waited long without asking for
// messages does until its next message loop begins.
std::wstring TextOf(HWND window, bool* unanswered = nullptr) {
    // WM_GETTEXT works across processes for every standard control. The text may change
    // between the two questions: read until a read leaves room to spare.
    for (LRESULT room = 256;; room *= 4) {
        std::wstring text(room, L'\0');
        LRESULT copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, room, (LPARAM)&text[0], SMTO_ABORTIFHUNG, kAnswerMs,
                                 (PDWORD_PTR)&copied)) {
            if (unanswered) *unanswered = true;
            return std::wstring();
        }
        if (copied < room - 1 || room > (1 << 20)) {
            text.resize(copied);
            return text;
        }
    }
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

LRESULT Ask(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, kAnswerMs, &result);
    return (LRESULT)result;
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, Collect, (LPARAM)&children);
    return children;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(Collect, (LPARAM)&windows);
    return windows;
}

// A description of the window as it is now; a change of it is logged again. *unanswered is
// set when a text could not be read, and the description is then not the window's.
std::string Describe(HWND window, bool* unanswered) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::string line = "{\"event\":\"window\",\"hwnd\":" + std::to_string((unsigned long)(ULONG_PTR)window) +
                       ",\"pid\":" + std::to_string(pid) + ",\"title\":" + Json(TextOf(window, unanswered)) +
                       ",\"class\":" + Json(ClassOf(window)) +
                       ",\"style\":" + std::to_string((unsigned long)GetWindowLongW(window, GWL_STYLE)) +
                       ",\"visible\":" + (IsWindowVisible(window) ? "true" : "false") +
                       ",\"enabled\":" + (IsWindowEnabled(window) ? "true" : "false");
    // Window icons are not recorded: Wine answers WM_GETICON from another process with none.
    HWND owner = GetWindow(window, GW_OWNER);
    line += ",\"owner_title\":" + Json(owner ? TextOf(owner, unanswered) : std::wstring());
    line += ",\"controls\":[";
    bool first = true;
    for (HWND child : Children(window)) {
        if (GetParent(child) != window) continue;
        std::wstring cls = ClassOf(child);
        if (!first) line += ",";
        first = false;
        line += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"class\":" + Json(cls) +
                ",\"text\":" + Json(TextOf(child, unanswered)) +
                ",\"style\":" + std::to_string((unsigned long)GetWindowLongW(child, GWL_STYLE)) +
                ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
                ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false");
        if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
            line += ",\"pos\":" + std::to_string((long)Ask(child, PBM_GETPOS)) +
                    ",\"max\":" + std::to_string((long)Ask(child, PBM_GETRANGE, FALSE, 0));
        }
        if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) {
            LRESULT count = Ask(child, CB_GETCOUNT);
            LRESULT selected = Ask(child, CB_GETCURSEL);
            line += ",\"selected\":" + std::to_string((long)selected) + ",\"items\":[";
            for (LRESULT i = 0; i < count; ++i) {
                LRESULT length = Ask(child, CB_GETLBTEXTLEN, i);
                std::wstring item(length + 1, L'\0');
                Ask(child, CB_GETLBTEXT, i, (LPARAM)&item[0]);
                item.resize(wcslen(item.c_str()));
                line += (i ? "," : "") + Json(item);
            }
            line += "]";
        }
        line += "}";
    }
    return line + "]}";
}

bool Matches(HWND window, const std::wstring& text) {
    if (TextOf(window).find(text) != std::wstring::npos) return true;
    for (HWND child : Children(window))
        if (TextOf(child).find(text) != std::wstring::npos) return true;
    return false;
}

void SaveShot(HWND window, const std::wstring& name) {
    RECT r;
    if (!GetWindowRect(window, &r)) return;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD stride = ((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * h;
    std::wstring path = g_logFolder + name + L".bmp";
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(bits, stride * h, 1, out);
        fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

void Perform(HWND window, const std::wstring& action) {
    // What the window showed when the act came: a wait before it records nothing meanwhile.
    bool acts = action.compare(0, 5, L"wait:") != 0 && action.compare(0, 5, L"shot:") != 0;
    bool unanswered = false;
    std::string seen = acts && IsWindow(window) ? Describe(window, &unanswered) : std::string();
    if (!seen.empty() && !unanswered) LogLine(seen);
    LogLine("{\"event\":\"action\",\"action\":" + Json(action) + ",\"title\":" + Json(TextOf(window)) + "}");
    size_t colon = action.find(L':');
    std::wstring verb = action.substr(0, colon);
    std::wstring arg = colon == std::wstring::npos ? L"" : action.substr(colon + 1);
    if (verb == L"press") {
        int id = _wtoi(arg.c_str());
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
    } else if (verb == L"select") {
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"ComboBox") != 0) continue;
            LRESULT index = Ask(child, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)arg.c_str());
            if (index == CB_ERR) continue;
            Ask(child, CB_SETCURSEL, index);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), CBN_SELCHANGE), (LPARAM)child);
        }
    } else if (verb == L"key") {
        WPARAM key = arg == L"escape" ? VK_ESCAPE : VK_RETURN;
        // The switch reaches the window's thread later: keys go where the focus is once it has
        // arrived, as a user's go to the window they clicked. A user clicks again when the
        // window lost it meanwhile: Wine without a window manager at times gives the
        // foreground to the desktop late, as another window of the program goes away.
        DWORD thread = GetWindowThreadProcessId(window, nullptr);
        for (int i = 0; i < 200; ++i) {
            if (i % 10 == 0 && GetForegroundWindow() != window) SetForegroundWindow(window);
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            if (GetForegroundWindow() == window && GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
                (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
                break;
            Sleep(10);
        }
        INPUT inputs[2] = {};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = (WORD)key;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, inputs, sizeof(INPUT));
    } else if (verb == L"wait") {
        Sleep(_wtoi(arg.c_str()));
    } else if (verb == L"shot") {
        SaveShot(window, arg);
    } else if (verb == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::wstring::npos) return parts;
        start = at + 1;
    }
}

std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    return L"\"" + argument + L"\"";
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--") { ++i; break; }
        if (i + 1 >= argc) return false;
        if (arg == L"--log") options->log = argv[++i];
        else if (arg == L"--timeout") options->timeoutMs = (DWORD)(_wtof(argv[++i]) * 1000);
        else if (arg == L"--hold-mutex") options->mutexName = argv[++i];
        else if (arg == L"--on" && i + 2 < argc) {
            Rule rule;
            rule.text = argv[++i];
            rule.actions = Split(argv[++i], L',');
            options->rules.push_back(rule);
        } else return false;
    }
    if (i >= argc || options->log.empty()) return false;
    // The program's own command line is passed on unchanged after its quoted name; the
    // setup program's scanner is what is under test, so an argument "RAW:text" goes in as is.
    options->commandLine = Quote(argv[i]);
    for (++i; i < argc; ++i) {
        std::wstring arg = argv[i];
        options->commandLine += L" ";
        options->commandLine += arg.compare(0, 4, L"RAW:") == 0 ? arg.substr(4) : Quote(arg);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fwprintf(stderr, L"usage: robot.exe --log FILE [--timeout S] [--hold-mutex NAME] [--on TEXT ACTIONS]... -- PROGRAM [ARGS...]\n");
        return 2;
    }
    g_log = _wfopen(options.log.c_str(), L"w");
    if (!g_log) return 2;
    size_t slash = options.log.find_last_of(L"\\/");
    g_logFolder = slash == std::wstring::npos ? L"" : options.log.substr(0, slash + 1);

    HANDLE mutex = nullptr;
    if (!options.mutexName.empty()) mutex = CreateMutexW(nullptr, TRUE, options.mutexName.c_str());

    // Windows that exist before the program starts are not its own.
    std::vector<HWND> existing = TopLevelWindows();
    std::set<HWND> before(existing.begin(), existing.end());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = options.commandLine;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        LogLine("{\"event\":\"start-failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 1;
    }
    LogLine("{\"event\":\"started\",\"pid\":" + std::to_string(process.dwProcessId) + "}");

    std::map<HWND, std::string> seen;
    std::set<std::pair<HWND, size_t>> fired;
    DWORD myPid = GetCurrentProcessId();
    DWORD started = GetTickCount();
    bool ended = false;
    while (!ended) {
        ended = WaitForSingleObject(process.hProcess, 25) == WAIT_OBJECT_0;
        for (HWND window : TopLevelWindows()) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == myPid || before.count(window) || !IsWindowVisible(window)) continue;
            bool unanswered = false;
            std::string description = Describe(window, &unanswered);
            // Empty texts are not the window's: it went away while it was read, or did not
            // answer yet. It is read again on the next round.
            if (unanswered || !IsWindow(window)) continue;
            if (seen[window] != description) {
                seen[window] = description;
                LogLine(description);
            }
            for (size_t r = 0; r < options.rules.size(); ++r) {
                if (fired.count({window, r}) || !Matches(window, options.rules[r].text)) continue;
                fired.insert({window, r});
                for (const std::wstring& action : options.rules[r].actions) Perform(window, action);
            }
        }
        if (!ended && GetTickCount() - started > options.timeoutMs) {
            LogLine("{\"event\":\"timeout\"}");
            TerminateProcess(process.hProcess, 1);
            return 3;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    LogLine("{\"event\":\"exit\",\"code\":" + std::to_string(code) + "}");
    if (mutex) CloseHandle(mutex);
    fclose(g_log);
    return 0;
}
