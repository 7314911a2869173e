// Generated command lines by the ten thousand: the scanner, the classification, the verify
// mode and the /a folder against a plain model of the rules, with every line placed right
// against a no-access page, so that a read or write beyond either end of it faults.
// FUZZ_SEED=<number> in the environment replays another series.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDefaultSeed = 0x5EED0009;
constexpr int kLines = 60000;
constexpr size_t kLongestLine = 20000;  // characters, terminator not counted

uint32_t Seed() {
    const char* text = getenv("FUZZ_SEED");
    return text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : kDefaultSeed;
}

// ---- The model: the rules read plainly, positions as indices, the terminator at size(). ----

const wchar_t kBlanks[] = L" \t";

struct ModelToken {
    size_t start;
    size_t stop;  // the closing quote, blank, tab or terminator that ended it
    bool quoted;
};

bool ModelNextToken(const std::wstring& line, size_t from, ModelToken* token) {
    size_t at = line.find_first_not_of(kBlanks, from);
    if (at == std::wstring::npos) return false;
    token->quoted = line[at] == L'"';
    token->start = token->quoted ? at + 1 : at;
    if (token->start == line.size()) {  // a lone opening quote at the end: empty, ends there
        token->stop = token->start;
        return true;
    }
    // The first character belongs to the token whatever it is; the search begins after it.
    size_t stop = token->quoted ? line.find(L'"', token->start + 1)
                                : line.find_first_of(kBlanks, token->start + 1);
    token->stop = stop == std::wstring::npos ? line.size() : stop;
    return true;
}

std::wstring TokenText(const std::wstring& line, const ModelToken& token) {
    return line.substr(token.start, token.stop - token.start);
}

CommandMode ModelMode(const std::wstring& line) {
    ModelToken first;
    if (!ModelNextToken(line, 0, &first)) return CommandNone;
    std::wstring text = TokenText(line, first);
    if (first.quoted || text.size() != 2 || (text[0] != L'/' && text[0] != L'-')) return CommandOther;
    if (text[1] == L'a' || text[1] == L'A') return CommandAdmin;
    if (text[1] == L'v' || text[1] == L'V') return CommandVerify;
    return CommandOther;
}

// What "/v file" does with a line: the code, and when the comparison runs, the file it gets
// and where the terminator goes.
struct ModelVerify {
    DWORD code;
    bool compared;
    ModelToken file;
};

DWORD VerdictCode(int verdict) {
    if (verdict == 0) return 0x800B0001;
    if (verdict == 1) return 0;
    return 0x800B0004;
}

ModelVerify ModelVerifyCommand(const std::wstring& line, int verdict) {
    ModelVerify result{ERROR_BAD_ARGUMENTS, false, {}};
    ModelToken flag, extra;
    if (!ModelNextToken(line, 0, &flag) || !ModelNextToken(line, flag.stop, &result.file)) return result;
    if (result.file.stop < line.size() && ModelNextToken(line, result.file.stop + 1, &extra)) return result;
    result.code = VerdictCode(verdict);
    result.compared = true;
    return result;
}

// ---- Placing lines against no-access pages. ----

// Room for the longest line between two no-access pages. A line is placed either with its
// terminator as the room's last character or with its first character as the room's first.
class GuardedRoom {
public:
    static constexpr wchar_t kFill = 0xA5A5;

    GuardedRoom() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_pageBytes = info.dwPageSize;
        size_t roomBytes = ((kLongestLine + 1) * sizeof(wchar_t) + m_pageBytes - 1) / m_pageBytes * m_pageBytes;
        m_chars = roomBytes / sizeof(wchar_t);
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, roomBytes + 2 * m_pageBytes,
                                                 MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
        DWORD old = 0;
        if (m_base && VirtualProtect(m_base + m_pageBytes, roomBytes, PAGE_READWRITE, &old)) {
            m_room = reinterpret_cast<wchar_t*>(m_base + m_pageBytes);
            for (size_t i = 0; i < m_chars; ++i) m_room[i] = kFill;
        }
    }
    ~GuardedRoom() {
        if (m_base) VirtualFree(m_base, 0, MEM_RELEASE);
    }
    GuardedRoom(const GuardedRoom&) = delete;
    GuardedRoom& operator=(const GuardedRoom&) = delete;

    bool ready() const { return m_room != nullptr; }
    const BYTE* lowGuard() const { return m_base; }
    const BYTE* highGuard() const { return m_base + m_pageBytes + m_chars * sizeof(wchar_t); }
    bool InGuard(const void* address) const {
        const BYTE* at = static_cast<const BYTE*>(address);
        return (at >= lowGuard() && at < lowGuard() + m_pageBytes) ||
               (at >= highGuard() && at < highGuard() + m_pageBytes);
    }

    // Copies the line and its terminator into the room; the rest of the room holds kFill.
    wchar_t* Place(const std::wstring& line, bool atEnd) {
        Clear();
        m_at = atEnd ? m_chars - line.size() - 1 : 0;
        m_used = line.size() + 1;
        wmemcpy(m_room + m_at, line.c_str(), m_used);
        return m_room + m_at;
    }

    // The placed line is now `expected` (and its terminator), and the characters of the room
    // around it still hold kFill. Gives the first index (-1 before the line) that differs, or
    // kSame.
    static constexpr ptrdiff_t kSame = PTRDIFF_MAX;
    ptrdiff_t FirstDifference(const std::wstring& expected) const {
        const wchar_t* line = m_room + m_at;
        for (size_t i = 0; i <= expected.size(); ++i)
            if (line[i] != expected.c_str()[i]) return static_cast<ptrdiff_t>(i);
        const size_t margin = 64;
        for (size_t i = 1; i <= margin && i <= m_at; ++i)
            if (line[-static_cast<ptrdiff_t>(i)] != kFill) return -static_cast<ptrdiff_t>(i);
        for (size_t i = m_at + m_used; i < m_at + m_used + margin && i < m_chars; ++i)
            if (m_room[i] != kFill) return static_cast<ptrdiff_t>(i - m_at);
        return kSame;
    }

private:
    void Clear() {
        for (size_t i = 0; i < m_used; ++i) m_room[m_at + i] = kFill;
        m_used = 0;
    }

    size_t m_pageBytes = 0;
    size_t m_chars = 0;
    BYTE* m_base = nullptr;
    wchar_t* m_room = nullptr;
    size_t m_at = 0;
    size_t m_used = 0;
};

// ---- Generated lines. ----

// Characters of words: ASCII path characters, quotes, characters that look like blanks but
// are not separators, controls, non-ASCII, a surrogate pair and both lone surrogates.
const wchar_t kWordChars[] = {
    L'a', L'A', L'v', L'V', L'x', L'z', L'0', L'9', L'/', L'-', L'?', L'\\', L':', L'.', L'"', L'"',
    L'%', L'\'', 0x00E9, 0x0161, 0x4E2D, 0x00A0, 0x3000, 0x000A, 0x000D, 0x0001, 0x001F, 0x007F,
    0xFEFF, 0xFFFF, 0xFFFD, 0xD800, 0xDC00, 0xDBFF, 0xDFFF, 0x0301,
};
const wchar_t* const kSwitches[] = {L"/a", L"-A", L"/A", L"-a", L"/v", L"-V", L"/V", L"-v",
                                    L"/x", L"/?", L"--a", L"/", L"-", L"/av", L"\x2044v"};

class LineMaker {
public:
    // Each line has its own generator, so that one line can be replayed alone.
    LineMaker(uint32_t seed, int index) {
        std::seed_seq sequence{seed, static_cast<uint32_t>(index)};
        m_random.seed(sequence);
    }

    std::wstring Make() {
        std::wstring line;
        if (Chance(30)) AddBlanks(&line);
        if (Chance(4)) return line;
        if (Chance(60)) {
            AddSwitch(&line);
        } else {
            AddPiece(&line);
        }
        for (int pieces = Below(6); pieces > 0; --pieces) {
            if (Chance(85)) AddBlanks(&line);
            AddPiece(&line);
        }
        if (Chance(20)) AddBlanks(&line);
        if (Chance(10)) line += L'"';
        return line;
    }

    int Verdict() { return static_cast<int>(Below(5)) - 1; }  // -1 .. 3: 0, 1, 2 and others
    size_t Position(size_t last) { return std::uniform_int_distribution<size_t>(0, last)(m_random); }

private:
    uint32_t Below(uint32_t bound) { return std::uniform_int_distribution<uint32_t>(0, bound - 1)(m_random); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    wchar_t WordChar() { return kWordChars[Below(sizeof kWordChars / sizeof kWordChars[0])]; }

    void AddBlanks(std::wstring* line) {
        for (uint32_t n = 1 + Below(3); n > 0; --n) *line += Chance(70) ? L' ' : L'\t';
    }
    void AddSwitch(std::wstring* line) {
        bool quoted = Chance(10);
        if (quoted) *line += L'"';
        *line += kSwitches[Below(sizeof kSwitches / sizeof kSwitches[0])];
        if (quoted) *line += L'"';
    }
    void AddWord(std::wstring* line, size_t length, bool withBlanks) {
        for (size_t i = 0; i < length; ++i)
            *line += withBlanks && Chance(15) ? kBlanks[Below(2)] : WordChar();
    }
    void AddPiece(std::wstring* line) {
        switch (Below(8)) {
            case 0:
                AddSwitch(line);
                break;
            case 1:
                *line += L"\"\"";
                break;
            case 2:
                *line += L'"';
                break;
            case 3: {  // quoted, blanks inside, closing quote or not
                *line += L'"';
                AddWord(line, Below(12), true);
                if (Chance(75)) *line += L'"';
                break;
            }
            case 4:  // now and then thousands of characters, sometimes quoted
                if (Chance(15) && line->size() < kLongestLine / 2) {
                    bool quoted = Chance(40);
                    if (quoted) *line += L'"';
                    AddWord(line, 1000 + Below(8000), quoted);
                    break;
                }
                [[fallthrough]];
            default:
                AddWord(line, 1 + Below(12), false);
                break;
        }
    }

    std::mt19937 m_random;
};

// ---- What runs, and what a failure or a fault tells. ----

std::string Printable(const std::wstring& line) {
    std::string out;
    char hex[16];
    for (wchar_t c : line) {
        if (c >= 0x20 && c < 0x7F && c != L'\\') {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
            out += hex;
        }
    }
    return out;
}

// The case in progress, for the messages and for the fault handler.
struct Current {
    uint32_t seed = 0;
    int index = 0;
    const char* placement = "";
    const char* step = "";
    const std::wstring* line = nullptr;
    const GuardedRoom* room = nullptr;
} g_current;

std::string Describe() {
    char head[160];
    snprintf(head, sizeof head, "seed 0x%08X, line %d, placed %s, step %s, %u characters: [",
             static_cast<unsigned>(g_current.seed), g_current.index, g_current.placement, g_current.step,
             g_current.line ? static_cast<unsigned>(g_current.line->size()) : 0u);
    return head + (g_current.line ? Printable(*g_current.line) : std::string()) + "]";
}

// A touch of a guard page ends the run at once, naming the line that did it.
LONG CALLBACK ReportGuardFault(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2 || !g_current.room ||
        !g_current.room->InGuard(reinterpret_cast<const void*>(record->ExceptionInformation[1])))
        return EXCEPTION_CONTINUE_SEARCH;
    fprintf(stderr, "\nACCESS VIOLATION: %s of a no-access page at %p by code at %p\n%s\n",
            record->ExceptionInformation[0] ? "write" : "read",
            reinterpret_cast<void*>(record->ExceptionInformation[1]), record->ExceptionAddress,
            Describe().c_str());
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

constexpr wchar_t kSetupPath[] = L"C:\\Downloads\\setup.exe";

struct Comparison {
    int calls;
    const wchar_t* setupPath;
    const wchar_t* file;
    std::wstring fileText;
    HWND owner;
    int verdict;
} g_comparison;

int RecordComparison(const wchar_t* setupPath, const wchar_t* file, HWND owner) {
    ++g_comparison.calls;
    g_comparison.setupPath = setupPath;
    g_comparison.file = file;
    g_comparison.fileText = file;  // reads up to the terminator: a missing one faults
    g_comparison.owner = owner;
    return g_comparison.verdict;
}

class CommandLineFuzz : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_room.ready());
        MEMORY_BASIC_INFORMATION low, high;
        ASSERT_NE(0u, VirtualQuery(m_room.lowGuard(), &low, sizeof low));
        ASSERT_NE(0u, VirtualQuery(m_room.highGuard(), &high, sizeof high));
        ASSERT_EQ(static_cast<DWORD>(PAGE_NOACCESS), low.Protect);
        ASSERT_EQ(static_cast<DWORD>(PAGE_NOACCESS), high.Protect);
        g_current = Current();
        g_current.seed = Seed();
        g_current.room = &m_room;
        m_handler = AddVectoredExceptionHandler(1, ReportGuardFault);
        ASSERT_NE(nullptr, m_handler);
        printf("seed 0x%08X (FUZZ_SEED replays it), %d lines\n", static_cast<unsigned>(g_current.seed), kLines);
    }
    void TearDown() override {
        if (m_handler) RemoveVectoredExceptionHandler(m_handler);
        g_current = Current();
    }

    // The line is now `expected`, and nothing around it changed.
    void ExpectText(const std::wstring& expected) {
        ptrdiff_t at = m_room.FirstDifference(expected);
        EXPECT_EQ(GuardedRoom::kSame, at) << "first changed character at " << at << "\n" << Describe();
    }

    // One call of the scanner against the model: whether a token was found, and where it ended.
    bool CheckTokenFrom(wchar_t* placed, const std::wstring& line, size_t from, size_t* stop) {
        ModelToken expected;
        CommandToken token{nullptr, nullptr, false};
        bool found = ModelNextToken(line, from, &expected);
        DWORD code = NextCommandToken(placed + from, &token);
        EXPECT_EQ(found ? 0u : static_cast<DWORD>(ERROR_NO_MORE_ITEMS), code) << "from " << from << "\n" << Describe();
        if (!found || code != 0) return false;
        EXPECT_EQ(placed + expected.start, token.start) << "from " << from << "\n" << Describe();
        EXPECT_EQ(placed + expected.stop, token.end) << "from " << from << "\n" << Describe();
        EXPECT_EQ(expected.quoted, token.quoted) << "from " << from << "\n" << Describe();
        *stop = expected.stop;
        return !HasFailure();
    }

    // Every token, each looked for from where the one before ended, then one from a random
    // position; the scanner changes nothing.
    void CheckTokens(wchar_t* placed, const std::wstring& line, size_t randomStart) {
        g_current.step = "NextCommandToken";
        size_t from = 0;
        while (CheckTokenFrom(placed, line, from, &from)) {
        }
        CheckTokenFrom(placed, line, randomStart, &from);
        ExpectText(line);
    }

    void CheckMode(wchar_t* placed, const std::wstring& line) {
        g_current.step = "ClassifyCommandLine";
        EXPECT_EQ(ModelMode(line), ClassifyCommandLine(placed)) << Describe();
        ExpectText(line);
    }

    void CheckVerify(wchar_t* placed, const std::wstring& line, int verdict) {
        g_current.step = "RunVerifyCommand";
        ModelVerify expected = ModelVerifyCommand(line, verdict);
        g_comparison = Comparison{0, nullptr, nullptr, std::wstring(), HWND(1), verdict};
        EXPECT_EQ(expected.code, RunVerifyCommand(kSetupPath, placed, RecordComparison)) << Describe();
        ASSERT_EQ(expected.compared ? 1 : 0, g_comparison.calls) << Describe();
        std::wstring after = line;
        if (expected.compared) {
            EXPECT_EQ(kSetupPath, g_comparison.setupPath) << Describe();
            EXPECT_EQ(nullptr, g_comparison.owner) << Describe();
            EXPECT_EQ(placed + expected.file.start, g_comparison.file) << "the file stays inside the line\n" << Describe();
            EXPECT_EQ(TokenText(line, expected.file), g_comparison.fileText) << Describe();
            if (expected.file.stop < line.size()) after[expected.file.stop] = L'\0';
            ++m_compared;
        }
        ExpectText(after);
    }

    void CheckAdminFolder(wchar_t* placed, const std::wstring& line) {
        g_current.step = "GetAdminTargetFolder";
        ModelToken flag, folder;
        bool anyToken = ModelNextToken(line, 0, &flag);
        bool hasFolder = anyToken && ModelNextToken(line, flag.stop, &folder);
        std::wstring after = line;
        if (hasFolder && folder.stop < line.size()) after[folder.stop] = L'\0';
        m_folders += hasFolder;
        for (int call = 1; call <= 2; ++call) {  // the second call finds the same folder
            const wchar_t* found = L"not set";
            DWORD code = GetAdminTargetFolder(placed, &found);
            if (!anyToken) {
                EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_ARGUMENTS), code) << Describe();
                ExpectText(line);
                return;
            }
            EXPECT_EQ(0u, code) << "call " << call << "\n" << Describe();
            if (hasFolder) {
                EXPECT_EQ(placed + folder.start, found) << "call " << call << "\n" << Describe();
                if (found == placed + folder.start) {
                    EXPECT_EQ(TokenText(line, folder), std::wstring(found)) << "call " << call << "\n" << Describe();
                }
            } else {
                EXPECT_EQ(nullptr, found) << "call " << call << "\n" << Describe();
            }
            ExpectText(after);
        }
    }

    GuardedRoom m_room;
    PVOID m_handler = nullptr;
    int m_compared = 0;  // lines whose file reached the comparison
    int m_folders = 0;   // lines with a folder after their first token
};

TEST_F(CommandLineFuzz, GeneratedLinesFollowTheRulesAndStayInsideTheLine) {
    const struct {
        const char* name;
        bool atEnd;
    } placements[] = {{"with its terminator before a no-access page", true},
                      {"right after a no-access page", false}};
    int modes[4] = {};
    for (int index = 0; index < kLines && !HasFailure(); ++index) {
        LineMaker maker(g_current.seed, index);
        const std::wstring line = maker.Make();
        const int verdict = maker.Verdict();
        const size_t randomStart = maker.Position(line.size());
        ASSERT_LE(line.size(), kLongestLine);
        ASSERT_EQ(std::wstring::npos, line.find(L'\0'));
        g_current.index = index;
        g_current.line = &line;
        ++modes[ModelMode(line)];
        for (const auto& placement : placements) {
            g_current.placement = placement.name;
            wchar_t* placed = m_room.Place(line, placement.atEnd);
            CheckTokens(placed, line, randomStart);
            CheckMode(placed, line);
            CheckVerify(placed, line, verdict);
            placed = m_room.Place(line, placement.atEnd);
            CheckAdminFolder(placed, line);
            if (HasFailure()) break;
        }
    }
    printf("modes: none %d, other %d, verify %d, admin %d; files compared %d, folders %d\n", modes[0],
           modes[1], modes[2], modes[3], m_compared, m_folders);
    if (HasFailure()) return;  // stopped early: the counts say nothing
    // The generator must reach every outcome often, or the run proves little.
    for (int count : modes) EXPECT_GT(count, kLines / 50);
    EXPECT_GT(m_compared, kLines / 20);
    EXPECT_GT(m_folders, kLines / 20);
}

}  // namespace
