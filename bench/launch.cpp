// The bench's launcher: starts a program and times it the way a user meets it, the same way
// for setup.exe and for the floors. It takes the UI robot's command line, so the end-to-end
// harness runs it in the robot's place (download host included):
//
//   launch.exe --log FILE [--timeout SECONDS] [--on TEXT ACTION[,ACTION...]]... -- PROGRAM [ARGS...]
//
// Times are milliseconds since just before CreateProcess (QueryPerformanceCounter), whose
// reading "started" gives as "clock_ms" for programs that log the same clock. Each of the
// program's top-level windows is logged when first seen visible ("window") and when it is
// no longer ("gone"); a rule fires once on a window whose title contains TEXT (empty: any).
// Actions: select:TEXT (a combo box item, with its change notification), press:ID, end (stop
// the program: start-up runs). The last line, "exit", has the exit code and the process's
// peak working set, sampled while it runs (Wine reads it from the Linux side's high-water mark).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Rule {
    std::wstring text;
    std::wstring actions;
};

FILE* g_log;
LARGE_INTEGER g_start, g_frequency;

double Elapsed() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - g_start.QuadPart) * 1000.0 / g_frequency.QuadPart;
}

// Titles are the program's own texts: plain ASCII but for quotes and backslashes.
std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') out += '\\';
        out += c < 0x20 || c > 0x7e ? '?' : static_cast<char>(c);
    }
    return out + "\"";
}

void Log(const char* event, const std::string& fields) {
    fprintf(g_log, "{\"event\":\"%s\",\"ms\":%.3f%s}\n", event, Elapsed(), fields.c_str());
    fflush(g_log);
}

std::wstring TitleOf(HWND window) {
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    return title;
}

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<Search*>(search);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == s->pid && IsWindowVisible(window)) s->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK SelectItem(HWND child, LPARAM item) {
    wchar_t name[16] = L"";
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"ComboBox") != 0) return TRUE;
    LRESULT index = SendMessageW(child, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), item);
    if (index == CB_ERR) return TRUE;
    SendMessageW(child, CB_SETCURSEL, index, 0);
    PostMessageW(GetParent(child), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(child));
    return FALSE;
}

// Performs a rule's actions on a window; false once the program has been ended.
bool Perform(HWND window, const std::wstring& actions, HANDLE process) {
    size_t start = 0;
    while (start <= actions.size()) {
        size_t end = actions.find(L',', start);
        if (end == std::wstring::npos) end = actions.size();
        std::wstring action = actions.substr(start, end - start);
        start = end + 1;
        if (action.compare(0, 7, L"select:") == 0) {
            EnumChildWindows(window, SelectItem, reinterpret_cast<LPARAM>(action.c_str() + 7));
        } else if (action.compare(0, 6, L"press:") == 0) {
            int id = _wtoi(action.c_str() + 6);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
        } else if (action == L"end") {
            TerminateProcess(process, ERROR_CANCELLED);
            return false;
        }
    }
    return true;
}

SIZE_T PeakWorkingSet(HANDLE process, SIZE_T known) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return known;
    return counters.PeakWorkingSetSize > known ? counters.PeakWorkingSetSize : known;
}

std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    return L"\"" + argument + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring logPath, commandLine;
    DWORD timeoutMs = 60000;
    std::vector<Rule> rules;
    int i = 1;
    for (; i + 1 < argc && std::wstring(argv[i]) != L"--"; ++i) {
        std::wstring option = argv[i];
        if (option == L"--log") logPath = argv[++i];
        else if (option == L"--timeout") timeoutMs = static_cast<DWORD>(_wtof(argv[++i]) * 1000);
        else if (option == L"--on" && i + 2 < argc) rules.push_back({argv[i + 1], argv[i + 2]}), i += 2;
        else break;
    }
    if (i + 1 >= argc || std::wstring(argv[i]) != L"--" || logPath.empty()) {
        fwprintf(stderr, L"usage: launch.exe --log FILE [--timeout S] [--on TEXT ACTIONS]... -- PROGRAM [ARGS...]\n");
        return 2;
    }
    for (++i; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (!commandLine.empty()) commandLine += L" ";
        commandLine += argument.compare(0, 4, L"RAW:") == 0 ? argument.substr(4) : Quote(argument);
    }
    g_log = _wfopen(logPath.c_str(), L"w");
    if (!g_log) return 2;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Log("start-failed", ",\"error\":" + std::to_string(GetLastError()));
        return 1;
    }
    char clock[32];
    snprintf(clock, sizeof clock, "%.3f", g_start.QuadPart * 1000.0 / g_frequency.QuadPart);
    Log("started", std::string(",\"clock_ms\":") + clock);

    // Until the first window the program is looked at every millisecond, then every ten:
    // the look itself costs the machine time the program would otherwise have.
    std::map<HWND, std::wstring> shown;
    std::vector<bool> fired(rules.size());
    SIZE_T peak = 0;
    bool running = true;
    while (running) {
        running = WaitForSingleObject(process.hProcess, shown.empty() ? 1 : 10) == WAIT_TIMEOUT;
        if (!running) break;
        peak = PeakWorkingSet(process.hProcess, peak);
        Search search = {process.dwProcessId, {}};
        EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
        for (auto at = shown.begin(); at != shown.end();) {
            bool still = false;
            for (HWND window : search.found) still = still || window == at->first;
            if (still) {
                ++at;
                continue;
            }
            Log("gone", ",\"title\":" + Json(at->second));
            at = shown.erase(at);
        }
        for (HWND window : search.found) {
            if (shown.count(window)) continue;
            std::wstring title = TitleOf(window);
            shown[window] = title;
            Log("window", ",\"title\":" + Json(title) + ",\"controls\":[]");
            for (size_t r = 0; r < rules.size() && running; ++r) {
                if (fired[r] || title.find(rules[r].text) == std::wstring::npos) continue;
                fired[r] = true;
                running = Perform(window, rules[r].actions, process.hProcess);
            }
        }
        if (running && Elapsed() > timeoutMs) {
            Log("timeout", "");
            TerminateProcess(process.hProcess, 1);
            return 3;
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    Log("exit", ",\"code\":" + std::to_string(code) + ",\"peak_working_set\":" + std::to_string(peak));
    fclose(g_log);
    return 0;
}
