// Registry values of random types, sizes and contents against the two readers of the
// registry: the installer location (in a scratch key of the current user) and ProductSuite
// (in HKEY_LOCAL_MACHINE, put back afterwards), each against a plain model of its rules.
// FUZZ_SEED=<number> in the environment replays another series.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wctype.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/system_probes.h"
#include "base/owned.h"
#include "engine/installer_api.h"

namespace {

constexpr uint32_t kDefaultSeed = 0x5EED0009;
constexpr int kCases = 3000;

uint32_t Seed() {
    const char* text = getenv("FUZZ_SEED");
    return text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : kDefaultSeed;
}

// A value as written, or its absence.
struct Value {
    bool present;
    DWORD type;
    std::vector<BYTE> bytes;
};

std::string Describe(uint32_t seed, int index, const Value& value) {
    char text[96];
    if (!value.present) {
        snprintf(text, sizeof text, "seed 0x%08X, case %d: no value", static_cast<unsigned>(seed), index);
        return text;
    }
    snprintf(text, sizeof text, "seed 0x%08X, case %d: type %lu, %u bytes:", static_cast<unsigned>(seed), index,
             static_cast<unsigned long>(value.type), static_cast<unsigned>(value.bytes.size()));
    std::string out = text;
    for (size_t i = 0; i < value.bytes.size() && i < 512; ++i) {
        snprintf(text, sizeof text, " %02X", value.bytes[i]);
        out += text;
    }
    if (value.bytes.size() > 512) out += " ...";
    return out;
}

// Writes the value, or deletes it, and reads it back so that a registry that stores something
// else is told apart from a reader that misreads it.
void Store(HKEY key, const wchar_t* name, const Value& value) {
    if (!value.present) {
        LONG deleted = RegDeleteValueW(key, name);
        ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);
        return;
    }
    // The registry counts a NUL lying right behind a string's bytes in: a guard keeps an
    // unterminated value unterminated.
    std::vector<BYTE> guarded = value.bytes;
    guarded.insert(guarded.end(), 4, 0xFF);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, value.type, guarded.data(),
                                            static_cast<DWORD>(value.bytes.size())));
    DWORD type = REG_NONE, size = static_cast<DWORD>(guarded.size());
    std::vector<BYTE> back(guarded.size());
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name, nullptr, &type, back.data(), &size));
    back.resize(size);
    ASSERT_EQ(value.type, type);
    ASSERT_TRUE(value.bytes == back) << "the registry stored other bytes";
}

// ---- Random values. ----

class ValueMaker {
public:
    ValueMaker(uint32_t seed, int index, uint32_t kind) {
        std::seed_seq sequence{seed, static_cast<uint32_t>(index), kind};
        m_random.seed(sequence);
    }

    uint32_t Below(uint32_t bound) { return std::uniform_int_distribution<uint32_t>(0, bound - 1)(m_random); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }

    DWORD OtherType() {
        const DWORD types[] = {REG_NONE, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK,
                               REG_RESOURCE_LIST, REG_QWORD, 0x4321, REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ};
        return types[Below(sizeof types / sizeof types[0])];
    }

    wchar_t Character() {
        const wchar_t unusual[] = {0x00E9, 0x4E2D, 0xD800, 0xDC00, 0xFFFF, 0xFEFF, 0x0001, L'"', L'%', 0x0100};
        if (Chance(85)) return static_cast<wchar_t>(L' ' + Below(95));
        return unusual[Below(sizeof unusual / sizeof unusual[0])];
    }
    std::wstring Text(size_t length) {
        std::wstring text;
        for (size_t i = 0; i < length; ++i) text += Character();
        return text;
    }
    // Mostly short, now and then hundreds or thousands of characters.
    size_t Length() {
        uint32_t pick = Below(100);
        if (pick < 75) return Below(40);
        if (pick < 95) return 40 + Below(600);
        return 600 + Below(9000);
    }

    // The text's bytes with the byte count bent now and then: a byte short (odd), a byte
    // over, or a few bytes short.
    std::vector<BYTE> Bytes(const std::wstring& text) {
        const BYTE* start = reinterpret_cast<const BYTE*>(text.data());
        std::vector<BYTE> bytes(start, start + text.size() * sizeof(wchar_t));
        uint32_t pick = Below(100);
        if (pick < 10 && !bytes.empty()) {
            bytes.pop_back();
        } else if (pick < 15) {
            bytes.push_back(static_cast<BYTE>(Chance(50) ? 0 : Below(256)));
        } else if (pick < 20) {
            bytes.resize(bytes.size() - std::min<size_t>(bytes.size(), 1 + Below(5)));
        }
        return bytes;
    }

private:
    std::mt19937 m_random;
};

// ---- The installer location. ----

Value MakeLocation(ValueMaker& maker) {
    Value value{!maker.Chance(3), REG_SZ, {}};
    uint32_t pick = maker.Below(100);
    value.type = pick < 45 ? REG_SZ : pick < 70 ? REG_EXPAND_SZ : maker.OtherType();
    if (maker.Chance(5)) return value;  // no bytes at all
    std::wstring text = maker.Text(maker.Length());
    for (int nuls = maker.Chance(10) ? 1 + maker.Below(3) : 0; nuls > 0; --nuls)
        text.insert(maker.Below(static_cast<uint32_t>(text.size()) + 1), 1, L'\0');
    pick = maker.Below(100);
    if (pick < 55) {
        text += L'\0';
    } else if (pick < 70) {
        text += std::wstring(2, L'\0');
    }
    value.bytes = maker.Bytes(text);
    return value;
}

struct LocationOutcome {
    bool read;
    bool untouched;  // the text keeps what it held
    std::wstring text;
};

LocationOutcome ModelLocation(const Value& value) {
    if (!value.present) return {false, true, L""};
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return {false, false, L""};
    if (value.bytes.empty()) return {true, false, L""};
    if (value.bytes.size() % 2 != 0) return {false, false, L""};
    std::wstring chars(value.bytes.size() / 2, L'\0');
    memcpy(&chars[0], value.bytes.data(), value.bytes.size());
    if (chars.back() != L'\0') return {false, false, L""};
    return {true, false, chars.substr(0, chars.find(L'\0'))};
}

// A scratch key under the current user, gone afterwards.
class ScratchKey {
public:
    static constexpr const wchar_t* kPath = L"Software\\QuorvelTests\\RegistryFuzz";
    ScratchKey() {
        RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.out(), nullptr);
    }
    ~ScratchKey() {
        m_key.reset();
        RegDeleteKeyW(HKEY_CURRENT_USER, kPath);
    }
    HKEY get() const { return m_key.get(); }

private:
    OwnedKey m_key;
};

TEST(RegistryFuzz, InstallerLocationOfAnyTypeSizeAndContent) {
    const uint32_t seed = Seed();
    printf("seed 0x%08X (FUZZ_SEED replays it), %d values\n", static_cast<unsigned>(seed), kCases);
    ScratchKey key;
    ASSERT_TRUE(key.get());
    int outcomes[3] = {};  // read, refused, untouched
    for (int index = 0; index < kCases && !::testing::Test::HasFailure(); ++index) {
        ValueMaker maker(seed, index, 1);
        const Value value = MakeLocation(maker);
        // Whatever the text held before: nothing, a little, or more than the value needs.
        const std::wstring stale = maker.Text(maker.Chance(50) ? maker.Below(8) : maker.Below(3000));
        ASSERT_NO_FATAL_FAILURE(Store(key.get(), L"InstallerLocation", value)) << Describe(seed, index, value);

        WideString text;
        if (!maker.Chance(20)) {
            ASSERT_TRUE(text.Assign(stale.c_str()));
        }
        const std::wstring before = text.c_str();
        const LocationOutcome expected = ModelLocation(value);
        EXPECT_EQ(expected.read, ReadInstallerLocation(key.get(), &text)) << Describe(seed, index, value);
        const std::wstring wanted = expected.untouched ? before : expected.text;
        EXPECT_EQ(wanted, std::wstring(text.c_str())) << Describe(seed, index, value);
        EXPECT_EQ(wanted.size(), text.length()) << Describe(seed, index, value);
        ++outcomes[expected.untouched ? 2 : expected.read ? 0 : 1];
    }
    printf("read %d, refused %d, absent %d\n", outcomes[0], outcomes[1], outcomes[2]);
    if (::testing::Test::HasFailure()) return;
    for (int count : outcomes) EXPECT_GT(count, kCases / 100) << "the generator misses an outcome";
}

// ---- ProductSuite. ----

const std::wstring kTerminalServer = L"Terminal Server";

std::wstring SuiteEntry(ValueMaker& maker) {
    std::wstring entry = kTerminalServer;
    switch (maker.Below(9)) {
        case 0:
        case 1:
            return entry;
        case 2:
            return entry.substr(0, 1 + maker.Below(static_cast<uint32_t>(entry.size()) - 1));  // a prefix
        case 3:
            return entry.substr(1 + maker.Below(static_cast<uint32_t>(entry.size()) - 1));  // a suffix
        case 4: {  // one more character before or after
            wchar_t extra = maker.Chance(50) ? L' ' : maker.Character();
            return maker.Chance(50) ? entry + extra : extra + entry;
        }
        case 5: {  // the case of one character or of all of them changed
            if (maker.Chance(30)) {
                for (wchar_t& c : entry) c = maker.Chance(50) ? towupper(c) : towlower(c);
            } else {
                wchar_t& c = entry[maker.Below(static_cast<uint32_t>(entry.size()))];
                c = iswupper(c) ? towlower(c) : towupper(c);
            }
            return entry;
        }
        case 6:
            return L"";
        case 7: {
            const wchar_t* const others[] = {L"Small Business", L"Enterprise", L"DataCenter", L"Personal",
                                             L"Terminal Server Extra", L"Small Business(Restricted)"};
            return others[maker.Below(sizeof others / sizeof others[0])];
        }
        default:
            return maker.Text(maker.Length());
    }
}

Value MakeProductSuite(ValueMaker& maker) {
    Value value{!maker.Chance(3), maker.Chance(80) ? static_cast<DWORD>(REG_MULTI_SZ) : maker.OtherType(), {}};
    std::wstring data;
    for (uint32_t entries = maker.Below(6); entries > 0; --entries) {
        data += SuiteEntry(maker);
        data += L'\0';
    }
    uint32_t pick = maker.Below(100);
    if (pick < 40) {
        data += L'\0';  // the list's closing NUL
    } else if (pick < 70 && !data.empty()) {
        data.pop_back();  // the last entry runs to the end of the data
    }
    value.bytes = maker.Bytes(data);
    return value;
}

// Terminal Server when an entry equals the text exactly; the walk ends at the first empty
// entry or with the data, and a trailing half character is no character.
bool ModelTerminalServer(const Value& value) {
    if (!value.present || value.type != REG_MULTI_SZ) return false;
    std::wstring chars(value.bytes.size() / 2, L'\0');
    if (!chars.empty()) memcpy(&chars[0], value.bytes.data(), chars.size() * 2);
    for (size_t at = 0; at < chars.size();) {
        size_t end = chars.find(L'\0', at);
        std::wstring entry = chars.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        if (entry.empty()) return false;
        if (entry == kTerminalServer) return true;
        if (end == std::wstring::npos) return false;
        at = end + 1;
    }
    return false;
}

// HKEY_LOCAL_MACHINE's ProductOptions as it was, put back at the end: the value, and the key
// itself when the test had to make it.
class SavedProductSuite {
public:
    static constexpr const wchar_t* kKey = L"System\\CurrentControlSet\\Control\\ProductOptions";
    static constexpr const wchar_t* kName = L"ProductSuite";

    SavedProductSuite() {
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, m_key.out(),
                            &disposition) != ERROR_SUCCESS)
            return;
        m_madeKey = disposition == REG_CREATED_NEW_KEY;
        DWORD size = 0;
        m_saved.present = RegQueryValueExW(m_key.get(), kName, nullptr, &m_saved.type, nullptr, &size) == ERROR_SUCCESS;
        m_saved.bytes.resize(size);
        if (m_saved.present &&
            RegQueryValueExW(m_key.get(), kName, nullptr, &m_saved.type, m_saved.bytes.data(), &size) != ERROR_SUCCESS)
            m_key.reset();  // not safely restorable: touch nothing
    }
    ~SavedProductSuite() {
        if (!m_key) return;
        if (m_saved.present) {
            RegSetValueExW(m_key.get(), kName, 0, m_saved.type, m_saved.bytes.data(),
                           static_cast<DWORD>(m_saved.bytes.size()));
        } else {
            RegDeleteValueW(m_key.get(), kName);
        }
        m_key.reset();
        if (m_madeKey) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    }
    HKEY get() const { return m_key.get(); }

private:
    OwnedKey m_key;
    bool m_madeKey = false;
    Value m_saved{false, REG_NONE, {}};
};

TEST(RegistryFuzz, ProductSuiteOfAnyTypeSizeAndContent) {
    const uint32_t seed = Seed();
    printf("seed 0x%08X (FUZZ_SEED replays it), %d values\n", static_cast<unsigned>(seed), kCases);
    SavedProductSuite suite;
    ASSERT_TRUE(suite.get());
    int found[2] = {};
    for (int index = 0; index < kCases && !::testing::Test::HasFailure(); ++index) {
        ValueMaker maker(seed, index, 2);
        const Value value = MakeProductSuite(maker);
        ASSERT_NO_FATAL_FAILURE(Store(suite.get(), SavedProductSuite::kName, value)) << Describe(seed, index, value);
        const bool expected = ModelTerminalServer(value);
        EXPECT_EQ(expected, IsTerminalServer(false, 4)) << Describe(seed, index, value);
        EXPECT_FALSE(IsTerminalServer(true, 4)) << "never on the non-NT platform\n" << Describe(seed, index, value);
        ++found[expected];
    }
    printf("Terminal Server %d, not %d\n", found[1], found[0]);
    if (::testing::Test::HasFailure()) return;
    for (int count : found) EXPECT_GT(count, kCases / 20) << "the generator misses an outcome";
}

}  // namespace
