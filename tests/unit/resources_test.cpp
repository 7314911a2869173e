// Reads the resources back from the built setup.exe (SETUP_EXE) with the platform's own
// resource functions, naming each language, and checks them byte for byte: what the resource
// compiler made of the scripts is what ships.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "res/resource.h"

namespace {

const LANGID kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// The built program. The test runner gives its Unix path, which Wine reaches through Z:.
std::wstring SetupPath() {
    const char* unixPath = getenv("SETUP_EXE");
    std::wstring path = L"Z:";
    for (const char* c = unixPath ? unixPath : ""; *c; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
    return path;
}

// The built program loaded as data only.
HMODULE SetupModule() {
    static HMODULE module = LoadLibraryExW(SetupPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

std::vector<BYTE> ReadResource(LPCWSTR type, LPCWSTR name, LANGID language) {
    HMODULE module = SetupModule();
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found) return {};
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return data ? std::vector<BYTE>(data, data + SizeofResource(module, found)) : std::vector<BYTE>();
}

// Sequential reading of a resource's bytes; reading past the end fails the test and yields 0.
class Reader {
public:
    explicit Reader(const std::vector<BYTE>& data) : m_data(data) {}
    size_t offset() const { return m_offset; }
    bool AtEnd() const { return m_offset >= m_data.size(); }
    BYTE Byte() { return Take(1) ? m_data[m_offset - 1] : 0; }
    WORD Word() { return Take(2) ? *reinterpret_cast<const WORD*>(&m_data[m_offset - 2]) : 0; }
    DWORD Dword() { return Take(4) ? *reinterpret_cast<const DWORD*>(&m_data[m_offset - 4]) : 0; }
    void AlignTo4() { m_offset = (m_offset + 3) & ~size_t(3); }
    void Seek(size_t offset) { m_offset = offset; }
    std::wstring Text() {
        std::wstring text;
        for (WORD c = Word(); c && !AtEnd(); c = Word()) text += wchar_t(c);
        return text;
    }
    // A template's name-or-ordinal field: ordinals come back as "#number".
    std::wstring TextOrOrdinal() {
        if (m_offset + 2 <= m_data.size() && m_data[m_offset] == 0xFF && m_data[m_offset + 1] == 0xFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }

private:
    bool Take(size_t count) {
        EXPECT_LE(m_offset + count, m_data.size()) << "resource ends early";
        if (m_offset + count > m_data.size()) return false;
        m_offset += count;
        return true;
    }
    const std::vector<BYTE>& m_data;
    size_t m_offset = 0;
};

std::wstring Describe(LPCWSTR value) {
    return IS_INTRESOURCE(value) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(value)) : std::wstring(value);
}

TEST(ResourceInventory, HoldsExactlyTheProgramsResourcesInTheirLanguages) {
    ASSERT_NE(nullptr, SetupModule()) << "SETUP_EXE must name the built setup.exe";
    std::set<std::wstring> found;
    struct Walk {
        static BOOL CALLBACK Language(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR out) {
            wchar_t hex[8];
            swprintf(hex, 8, L"%04X", language);
            reinterpret_cast<std::set<std::wstring>*>(out)->insert(Describe(type) + L"/" + Describe(name) + L"/" + hex);
            return TRUE;
        }
        static BOOL CALLBACK Name(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR out) {
            EnumResourceLanguagesW(module, type, name, Language, out);
            return TRUE;
        }
        static BOOL CALLBACK Type(HMODULE module, LPWSTR type, LONG_PTR out) {
            EnumResourceNamesW(module, type, Name, out);
            return TRUE;
        }
    };
    EnumResourceTypesW(SetupModule(), Walk::Type, reinterpret_cast<LONG_PTR>(&found));

    std::set<std::wstring> expected = {L"14/128/0000", L"16/1/0000", L"24/1/0409"};
    for (int icon = 1; icon <= 37; ++icon) expected.insert(L"3/" + std::to_wstring(icon) + L"/0000");
    for (const wchar_t* language : {L"0409", L"0410", L"041C", L"0424"}) {
        for (const wchar_t* block : {L"1", L"2", L"3", L"3585"}) expected.insert(std::wstring(L"6/") + block + L"/" + language);
        for (const wchar_t* dialog : {L"129", L"1101"}) expected.insert(std::wstring(L"5/") + dialog + L"/" + language);
    }
    EXPECT_EQ(expected, found);
}

// The string as stored, terminator included; empty when the id has no string.
std::wstring StoredString(LANGID language, UINT id) {
    std::vector<BYTE> block = ReadResource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    Reader reader(block);
    for (UINT skip = 0; skip < id % 16 && !block.empty(); ++skip) reader.Seek(reader.offset() + 2 + 2 * reader.Word());
    std::wstring text;
    for (WORD length = block.empty() ? 0 : reader.Word(); length > 0; --length) text += wchar_t(reader.Word());
    return text;
}

TEST(StringTables, EveryIdHoldsItsTextWithTheTerminatorCountedInEveryLanguage) {
    for (const ExpectedLanguage& language : kExpectedLanguages) {
        int count = 0;
        for (const ExpectedString* s = language.strings; s->id; ++s, ++count) {
            SCOPED_TRACE(std::string(language.name) + " string " + std::to_string(s->id));
            EXPECT_EQ(std::wstring(s->text) + L'\0', StoredString(language.langId, s->id));
        }
        EXPECT_EQ(25, count);
        for (UINT absent : {14u, 35u, 38u, 11u, 57345u}) {
            SCOPED_TRACE(std::string(language.name) + " absent string " + std::to_string(absent));
            EXPECT_EQ(L"", StoredString(language.langId, absent));
        }
    }
}

TEST(StringTables, FormattedIdsCarryTheInsertsOfTheEnglishText) {
    // Formatting by id has no fallback: a translation that lost or changed an insert would
    // show garbage or read a wrong argument.
    for (UINT id : {13u, 15u, 16u, 18u, 19u, 20u, 22u, 23u, 25u, 28u, 31u, 32u, 34u}) {
        std::wstring english = ExpectedText(kExpectedLanguages[0], id);
        for (const ExpectedLanguage& language : kExpectedLanguages) {
            SCOPED_TRACE(std::string(language.name) + " string " + std::to_string(id));
            std::wstring text = ExpectedText(language, id);
            for (const wchar_t* insert : {L"%1!d!", L"%2!d!", L"%1"}) {
                auto count = [insert](const std::wstring& s) {
                    int n = 0;
                    for (size_t at = s.find(insert); at != std::wstring::npos; at = s.find(insert, at + 1)) ++n;
                    return n;
                };
                EXPECT_EQ(count(english), count(text)) << "insert " << std::string(insert, insert + wcslen(insert));
            }
            EXPECT_EQ(std::count(english.begin(), english.end(), L'\n'), std::count(text.begin(), text.end(), L'\n'));
        }
    }
}

struct ExpectedControl {
    DWORD id;
    const wchar_t* className;  // "#n" for a predefined class by ordinal
    DWORD style;
    short x, y, cx, cy;
    const wchar_t* text;  // null: the language's Cancel text; "#n": an ordinal
};

struct ExpectedDialog {
    WORD id;
    short cx, cy;
    std::vector<ExpectedControl> controls;
};

const ExpectedDialog kProgressTemplate = {IDD_PROGRESS, 253, 75, {
    {IDC_PROGRESS_ICON, L"#130", 0x50000003, 7, 7, 20, 20, L"#128"},
    {IDC_PROGRESS_TITLE, L"#130", 0x50020000, 31, 7, 215, 28, L""},
    {IDC_PROGRESS_STATUS, L"#130", 0x50020000, 7, 40, 239, 12, L""},
    {IDC_PROGRESS_BAR, L"msctls_progress32", 0x50800000, 7, 56, 182, 10, L""},
    {IDCANCEL, L"#128", 0x50010000, 196, 54, 50, 14, nullptr},
}};

const ExpectedDialog kLanguageTemplate = {IDD_LANGUAGE, 186, 47, {
    {IDC_LANGUAGE_LIST, L"#133", 0x50210103, 7, 7, 172, 50, L""},
    {IDOK, L"#128", 0x50010001, 35, 26, 50, 14, L"ok"},
    {IDCANCEL, L"#128", 0x50010000, 101, 26, 50, 14, nullptr},
}};

void CheckTemplate(const ExpectedLanguage& language, const ExpectedDialog& expected, const wchar_t* caption) {
    std::vector<BYTE> data = ReadResource(RT_DIALOG, MAKEINTRESOURCEW(expected.id), language.langId);
    ASSERT_FALSE(data.empty());
    Reader r(data);
    EXPECT_EQ(1, r.Word());  // extended template, version 1
    EXPECT_EQ(0xFFFF, r.Word());
    EXPECT_EQ(0u, r.Dword());  // help id
    EXPECT_EQ(0u, r.Dword());  // extended style
    EXPECT_EQ(0x90C008C4u, r.Dword());
    EXPECT_EQ(expected.controls.size(), r.Word());
    EXPECT_EQ(0, r.Word());
    EXPECT_EQ(0, r.Word());
    EXPECT_EQ(expected.cx, short(r.Word()));
    EXPECT_EQ(expected.cy, short(r.Word()));
    EXPECT_EQ(L"", r.TextOrOrdinal());  // menu
    EXPECT_EQ(L"", r.TextOrOrdinal());  // window class
    EXPECT_EQ(caption, r.Text());
    EXPECT_EQ(8, r.Word());  // points
    EXPECT_EQ(0, r.Word());  // weight
    EXPECT_EQ(0, r.Byte());  // italic
    EXPECT_EQ(1, r.Byte());  // DEFAULT_CHARSET
    EXPECT_EQ(L"MS Shell Dlg", r.Text());
    for (const ExpectedControl& control : expected.controls) {
        SCOPED_TRACE("control " + std::to_string(control.id));
        r.AlignTo4();
        EXPECT_EQ(0u, r.Dword());  // help id
        EXPECT_EQ(0u, r.Dword());  // extended style
        EXPECT_EQ(control.style, r.Dword());
        EXPECT_EQ(control.x, short(r.Word()));
        EXPECT_EQ(control.y, short(r.Word()));
        EXPECT_EQ(control.cx, short(r.Word()));
        EXPECT_EQ(control.cy, short(r.Word()));
        EXPECT_EQ(control.id, r.Dword());
        std::wstring className = r.TextOrOrdinal();
        // Window class names are case-insensitive; windres stores a named class upper-cased.
        EXPECT_EQ(0, _wcsicmp(control.className, className.c_str())) << std::string(className.begin(), className.end());
        const wchar_t* text = !control.text ? language.cancel : wcscmp(control.text, L"ok") == 0 ? language.ok : control.text;
        EXPECT_EQ(text, r.TextOrOrdinal());
        EXPECT_EQ(0, r.Word());  // no creation data
    }
    EXPECT_TRUE(r.AtEnd());
}

TEST(DialogTemplates, AreStoredAsDrawnInEveryLanguage) {
    for (const ExpectedLanguage& language : kExpectedLanguages) {
        SCOPED_TRACE(language.name);
        {
            SCOPED_TRACE("progress dialog");
            CheckTemplate(language, kProgressTemplate, language.progressCaption);
        }
        {
            SCOPED_TRACE("language dialog");
            CheckTemplate(language, kLanguageTemplate, language.languageCaption);
        }
        // The progress dialog's caption is the title every box carries.
        EXPECT_EQ(language.progressCaption, std::wstring(ExpectedText(language, IDS_APP_TITLE)));
    }
}

struct IconImage {
    int size;
    int depth;
    bool png;
};

std::vector<IconImage> ExpectedIconImages() {
    std::vector<IconImage> images = {{32, 4, false}, {16, 4, false}, {4, 4, false}, {4, 32, false}};
    for (int size : {6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 40, 48, 56, 64}) {
        images.push_back({size, 8, false});
        images.push_back({size, 32, false});
    }
    for (int size : {80, 96, 112, 128, 256}) images.push_back({size, 32, true});
    return images;
}

TEST(IconGroup, ListsItsImagesInOrderWithSizesDepthsAndStorage) {
    std::vector<BYTE> group = ReadResource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_SETUP), kNeutral);
    ASSERT_FALSE(group.empty());
    Reader r(group);
    EXPECT_EQ(0, r.Word());
    EXPECT_EQ(1, r.Word());  // icons, not cursors
    std::vector<IconImage> expected = ExpectedIconImages();
    ASSERT_EQ(37u, expected.size());
    ASSERT_EQ(expected.size(), r.Word());
    for (size_t i = 0; i < expected.size(); ++i) {
        const IconImage& image = expected[i];
        SCOPED_TRACE("image " + std::to_string(i + 1) + ": " + std::to_string(image.size) + " px, " +
                     std::to_string(image.depth) + " bits");
        EXPECT_EQ(image.size % 256, r.Byte());  // 256 is written as 0
        EXPECT_EQ(image.size % 256, r.Byte());
        EXPECT_EQ(image.depth == 4 ? 16 : 0, r.Byte());
        EXPECT_EQ(0, r.Byte());
        EXPECT_EQ(1, r.Word());  // planes
        EXPECT_EQ(image.depth, r.Word());
        DWORD bytes = r.Dword();
        WORD id = r.Word();
        EXPECT_EQ(i + 1, id);

        std::vector<BYTE> data = ReadResource(RT_ICON, MAKEINTRESOURCEW(id), kNeutral);
        ASSERT_EQ(bytes, data.size());
        ASSERT_GE(data.size(), 40u);
        if (image.png) {
            static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
            ASSERT_EQ(0, memcmp(kSignature, data.data(), 8));
            auto bigEndian = [&data](size_t at) {
                return DWORD(data[at]) << 24 | DWORD(data[at + 1]) << 16 | DWORD(data[at + 2]) << 8 | data[at + 3];
            };
            EXPECT_EQ(0, memcmp("IHDR", &data[12], 4));
            EXPECT_EQ(DWORD(image.size), bigEndian(16));
            EXPECT_EQ(DWORD(image.size), bigEndian(20));
            EXPECT_EQ(8, data[24]);  // bits per channel
            EXPECT_EQ(6, data[25]);  // RGB with alpha
        } else {
            const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.data());
            EXPECT_EQ(40u, header->biSize);
            EXPECT_EQ(image.size, header->biWidth);
            EXPECT_EQ(2 * image.size, header->biHeight);  // colour rows, then the mask's
            EXPECT_EQ(image.depth, header->biBitCount);
            EXPECT_EQ(DWORD(BI_RGB), header->biCompression);
        }
    }
    EXPECT_TRUE(r.AtEnd());
}

// One node of the version resource: key, value and children, as stored.
struct VersionNode {
    std::wstring key;
    WORD type = 0;
    std::vector<BYTE> value;
    std::vector<VersionNode> children;

    std::wstring Text() const {
        std::wstring text(reinterpret_cast<const wchar_t*>(value.data()), value.size() / 2);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }
};

VersionNode ReadVersionNode(const std::vector<BYTE>& data, size_t start) {
    Reader r(data);
    r.Seek(start);
    size_t end = start + r.Word();
    WORD valueLength = r.Word();
    VersionNode node;
    node.type = r.Word();
    node.key = r.Text();
    r.AlignTo4();
    size_t valueBytes = node.type == 1 ? 2 * valueLength : valueLength;  // text counts characters
    if (valueBytes && r.offset() + valueBytes <= data.size())
        node.value.assign(data.begin() + r.offset(), data.begin() + r.offset() + valueBytes);
    r.Seek(r.offset() + valueBytes);
    r.AlignTo4();
    while (r.offset() < end && end <= data.size()) {
        VersionNode child = ReadVersionNode(data, r.offset());
        size_t childLength = *reinterpret_cast<const WORD*>(&data[r.offset()]);
        if (childLength == 0) break;
        node.children.push_back(child);
        r.Seek(r.offset() + childLength);
        r.AlignTo4();
    }
    return node;
}

TEST(VersionInformation, FixedPartStringTablesAndTranslations) {
    std::vector<BYTE> data = ReadResource(RT_VERSION, MAKEINTRESOURCEW(1), kNeutral);
    ASSERT_FALSE(data.empty());
    VersionNode root = ReadVersionNode(data, 0);
    EXPECT_EQ(L"VS_VERSION_INFO", root.key);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.value.size());
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
    EXPECT_EQ(0x00010000u, fixed.dwStrucVersion);
    EXPECT_EQ(0x00030005u, fixed.dwFileVersionMS);
    EXPECT_EQ(0x00010007u, fixed.dwFileVersionLS);
    EXPECT_EQ(0x00030005u, fixed.dwProductVersionMS);
    EXPECT_EQ(0x00010007u, fixed.dwProductVersionLS);
    EXPECT_EQ(0x2Fu, fixed.dwFileFlagsMask);
    EXPECT_EQ(0u, fixed.dwFileFlags);
    EXPECT_EQ(0x00040004u, fixed.dwFileOS);
    EXPECT_EQ(1u, fixed.dwFileType);
    EXPECT_EQ(0u, fixed.dwFileSubtype);
    EXPECT_EQ(0u, fixed.dwFileDateMS);
    EXPECT_EQ(0u, fixed.dwFileDateLS);

    ASSERT_EQ(2u, root.children.size());
    const VersionNode& strings = root.children[0];
    EXPECT_EQ(L"StringFileInfo", strings.key);
    struct Table {
        const wchar_t* key;
        const wchar_t* description;
    };
    const Table tables[] = {
        {L"042404e2", L"Namestitveni program Quorvel"},
        {L"040904e4", L"Setup Programme Quorvel"},
        {L"041004e4", L"Programma di installazione Quorvel"},
        {L"041c04e2", L"Programi i parametrizimit Quorvel"},
    };
    ASSERT_EQ(4u, strings.children.size());
    for (size_t t = 0; t < 4; ++t) {
        const VersionNode& table = strings.children[t];
        SCOPED_TRACE(std::string(table.key.begin(), table.key.end()));
        EXPECT_EQ(tables[t].key, table.key);
        const wchar_t* keys[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                 L"LegalCopyright", L"ProductName", L"ProductVersion"};
        ASSERT_EQ(7u, table.children.size());
        for (size_t k = 0; k < 7; ++k) {
            EXPECT_EQ(keys[k], table.children[k].key);
            EXPECT_EQ(1, table.children[k].type);
        }
        EXPECT_NE(L"", table.children[0].Text());
        EXPECT_EQ(tables[t].description, table.children[1].Text());
        EXPECT_EQ(L"3.5.1", table.children[2].Text());
        EXPECT_EQ(L"Prandel", table.children[3].Text());
        EXPECT_NE(L"", table.children[4].Text());
        EXPECT_EQ(L"Quorvel", table.children[5].Text());
        EXPECT_EQ(L"3.5.1", table.children[6].Text());
    }

    const VersionNode& variables = root.children[1];
    EXPECT_EQ(L"VarFileInfo", variables.key);
    ASSERT_EQ(1u, variables.children.size());
    EXPECT_EQ(L"Translation", variables.children[0].key);
    const WORD translations[] = {0x0424, 1250, 0x0409, 1252, 0x0410, 1252, 0x041C, 1250};
    ASSERT_EQ(sizeof translations, variables.children[0].value.size());
    EXPECT_EQ(0, memcmp(translations, variables.children[0].value.data(), sizeof translations));
}

TEST(VersionInformation, ThePlatformReadsTheFixedVersion) {
    std::wstring path = SetupPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00030005u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00010007u, fixed->dwFileVersionLS);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904e4\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(L"Quorvel", product);
}

TEST(Manifest, IsTheUtf8DocumentAskingForNoElevation) {
    std::vector<BYTE> data = ReadResource(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_EQ(548u, data.size());
    EXPECT_EQ(0, memcmp("\xEF\xBB\xBF<?xml", data.data(), 8));
    std::string text(data.begin() + 3, data.end());
    for (const char* present : {"manifestVersion=\"1.0\"", "level=\"asInvoker\"", "uiAccess=\"false\"",
                                "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\"",
                                "<dpiAware>true</dpiAware>"}) {
        EXPECT_NE(std::string::npos, text.find(present)) << present;
    }
    for (const char* absent : {"dependency", "compatibility", "requireAdministrator", "highestAvailable"})
        EXPECT_EQ(std::string::npos, text.find(absent)) << absent;
    for (unsigned char c : text) EXPECT_LT(c, 0x80) << "only ASCII after the byte-order mark";
}

}  // namespace
