#include "Runtime/Unicode.h"

#include <cctype>

#include <gtest/gtest.h>

namespace talverin {
namespace {

// Test names from a case's description: GoogleTest allows only letters, digits and '_'.
template <typename Case> std::string caseName(const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

struct CountCase {
    const char* name;
    std::string text;
    std::size_t graphemes;
};

// Readable case names in test listings, instead of the bytes of each case.
void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.name;
}

const CountCase countCases[] = {
    {"empty", "", 0},
    {"ascii", "hello", 5},
    {"cr lf is one", "a\r\nb", 3},
    {"lf cr is two", "\n\r", 2},
    {"combining acute", "e\u0301", 1},
    {"stacked marks", "a\u0323\u0301\u0308", 1},
    {"cyrillic", "Привет", 6},
    {"cjk", "漢字かな", 4},
    {"hangul jamo syllable", "\u1100\u1161\u11A8", 1},
    {"family zwj sequence", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", 1},
    {"skin tone", "\U0001F44D\U0001F3FD", 1},
    {"two flags", "\U0001F1F7\U0001F1FA\U0001F1FA\U0001F1F8", 2},
    {"odd regional indicator", "\U0001F1F7\U0001F1FA\U0001F1FA", 2},
    {"keycap", "1\uFE0F\u20E3", 1},
    {"mixed", "a🇩🇪é\u0301x", 4},
};

class GraphemeCount : public testing::TestWithParam<CountCase> {};

TEST_P(GraphemeCount, CountsUserPerceivedCharacters) {
    EXPECT_EQ(Unicode::graphemeCount(GetParam().text), GetParam().graphemes);
}

INSTANTIATE_TEST_SUITE_P(All, GraphemeCount, testing::ValuesIn(countCases), caseName<CountCase>);

struct SpaceCase {
    const char* name;
    char32_t c;
    const char* utf8;
    bool blank;
    bool whitespaceOrNewline;
};

void PrintTo(const SpaceCase& c, std::ostream* os) {
    *os << c.name;
}

// The sets differ exactly on line breaks; look-alikes that are not space separators (zero
// width space, byte order mark, the Mongolian vowel separator) are in neither.
const SpaceCase spaceCases[] = {
    {"space", U' ', " ", true, true},
    {"character tabulation", U'\t', "\t", true, true},
    {"no-break space", 0x00A0, "\u00A0", true, true},
    {"ogham space mark", 0x1680, "\u1680", true, true},
    {"em space", 0x2003, "\u2003", true, true},
    {"narrow no-break space", 0x202F, "\u202F", true, true},
    {"medium mathematical space", 0x205F, "\u205F", true, true},
    {"ideographic space", 0x3000, "\u3000", true, true},
    {"line feed", U'\n', "\n", false, true},
    {"line tabulation", 0x0B, "\v", false, true},
    {"form feed", 0x0C, "\f", false, true},
    {"carriage return", U'\r', "\r", false, true},
    {"next line", 0x0085, "\u0085", false, true},
    {"line separator", 0x2028, "\u2028", false, true},
    {"paragraph separator", 0x2029, "\u2029", false, true},
    {"zero width space", 0x200B, "\u200B", false, false},
    {"zero width no-break space", 0xFEFF, "\uFEFF", false, false},
    {"Mongolian vowel separator", 0x180E, "\u180E", false, false},
    {"a letter", U'x', "x", false, false},
    {"beyond Unicode", 0x110000, nullptr, false, false},
};

class TrimSets : public testing::TestWithParam<SpaceCase> {};

TEST_P(TrimSets, ClassifyAndTrimAtBothEndsOnly) {
    const SpaceCase& c = GetParam();
    EXPECT_EQ(Unicode::isBlank(c.c), c.blank);
    EXPECT_EQ(Unicode::isWhitespaceOrNewline(c.c), c.whitespaceOrNewline);
    if (c.utf8 == nullptr)
        return;
    const std::string s = c.utf8;
    const std::string padded = s + s + "a" + s + "b" + s;
    const std::string inner = "a" + s + "b";
    EXPECT_EQ(Unicode::trimBlanks(padded), c.blank ? inner : padded);
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines(padded), c.whitespaceOrNewline ? inner : padded);
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines(s + s), c.whitespaceOrNewline ? "" : s + s);
}

INSTANTIATE_TEST_SUITE_P(All, TrimSets, testing::ValuesIn(spaceCases), caseName<SpaceCase>);

TEST(Trim, StopsAtTheFirstOtherCharacterFromEachEnd) {
    EXPECT_EQ(Unicode::trimBlanks(" \t\n x \u3000"), "\n x");
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines("\u2028\r\n é\u00A0\u2029"), "é");
}

struct CaseCase {
    const char* name;
    const char* input;
    const char* lower;
    const char* upper;
};

void PrintTo(const CaseCase& c, std::ostream* os) {
    *os << c.name;
}

const CaseCase caseCases[] = {
    {"ascii", "Hello, World 42", "hello, world 42", "HELLO, WORLD 42"},
    {"sharp s", "straße", "straße", "STRASSE"},
    {"ligature", "ﬁx", "ﬁx", "FIX"},
    {"n with apostrophe", "ŉ", "ŉ", "ʼN"},
    {"final sigma", "ΣΑΣ ΟΔΟΣ", "σας οδος", "ΣΑΣ ΟΔΟΣ"},
    {"dotted capital i", "İstanbul", "i\u0307stanbul", "İSTANBUL"},
    {"dotless i", "iı", "iı", "II"},
    {"cyrillic", "Привет, Ёж", "привет, ёж", "ПРИВЕТ, ЁЖ"},
    {"no case", "漢字", "漢字", "漢字"},
};

class CaseMapping : public testing::TestWithParam<CaseCase> {};

TEST_P(CaseMapping, UsesFullRootLocaleMapping) {
    EXPECT_EQ(Unicode::lower(GetParam().input), GetParam().lower);
    EXPECT_EQ(Unicode::upper(GetParam().input), GetParam().upper);
}

INSTANTIATE_TEST_SUITE_P(All, CaseMapping, testing::ValuesIn(caseCases), caseName<CaseCase>);

struct EquivalenceCase {
    const char* name;
    const char* a;
    const char* b;
    bool equal;
};

void PrintTo(const EquivalenceCase& c, std::ostream* os) {
    *os << c.name;
}

const EquivalenceCase equivalenceCases[] = {
    {"composed and decomposed", "café", "cafe\u0301", true},
    {"marks in either order", "a\u0323\u0301", "a\u0301\u0323", true},
    {"angstrom sign", "\u212B", "\u00C5", true},
    {"hangul syllable and jamo", "한", "\u1112\u1161\u11AB", true},
    {"accent matters", "café", "cafe", false},
    // Compatibility forms are different text; only canonical equivalence counts.
    {"ligature is not letters", "ﬁ", "fi", false},
    {"no-break space is not space", "x\u00A0y", "x y", false},
    {"case matters", "A", "a", false},
};

class CanonicalEquivalence : public testing::TestWithParam<EquivalenceCase> {};

TEST_P(CanonicalEquivalence, ComparesAndHashesTheNfcForms) {
    const auto& c = GetParam();
    EXPECT_EQ(Unicode::canonicallyEqual(c.a, c.b), c.equal);
    EXPECT_EQ(Unicode::canonicallyEqual(c.b, c.a), c.equal);
    EXPECT_EQ(Unicode::nfc(c.a) == Unicode::nfc(c.b), c.equal);
    if (c.equal)
        EXPECT_EQ(Unicode::nfcHash(c.a), Unicode::nfcHash(c.b));
}

INSTANTIATE_TEST_SUITE_P(All, CanonicalEquivalence, testing::ValuesIn(equivalenceCases),
                         caseName<EquivalenceCase>);

TEST(Nfc, ComposesDecomposedText) {
    EXPECT_EQ(Unicode::nfc("cafe\u0301"), "caf\u00E9");
    EXPECT_EQ(Unicode::nfc("caf\u00E9"), "caf\u00E9");
}

TEST(Utf16, RoundTripsAndCountsSurrogatePairs) {
    const std::string text = "a€😀я";
    const std::u16string units = Unicode::toUtf16(text);
    EXPECT_EQ(units, u"a€😀я");
    EXPECT_EQ(units.size(), 5u);
    EXPECT_EQ(Unicode::toUtf8(units), text);
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::u16string lone = {char16_t(0xD800), u'x', char16_t(0xDC00)};
    EXPECT_EQ(Unicode::toUtf8(lone), "\uFFFDx\uFFFD");
    // A high surrogate at the very end must not read past the text.
    const std::u16string truncated = {u'a', char16_t(0xD83D)};
    EXPECT_EQ(Unicode::toUtf8(truncated), "a\uFFFD");
}

struct IllFormedCase {
    const char* name;
    std::string bytes;
    std::string repaired;
};

void PrintTo(const IllFormedCase& c, std::ostream* os) {
    *os << c.name;
}

// Each maximal ill-formed subpart becomes one U+FFFD, as ICU and the W3C encoding rules do.
const IllFormedCase illFormedCases[] = {
    {"stray byte", "a\xFFz", "a\uFFFDz"},
    {"lone continuation", "\x80", "\uFFFD"},
    {"truncated two byte", "x\xC3", "x\uFFFD"},
    {"truncated three byte", "\xE2\x82", "\uFFFD"},
    {"truncated then ascii", "\xE2\x82Z", "\uFFFDZ"},
    {"overlong slash", "\xC0\xAF", "\uFFFD\uFFFD"},
    {"encoded surrogate", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"between combining", "e\xFF\u0301 ", "e\uFFFD\u0301 "},
};

class IllFormedUtf8 : public testing::TestWithParam<IllFormedCase> {};

TEST_P(IllFormedUtf8, IsRepairedByEveryFunction) {
    const auto& c = GetParam();
    EXPECT_FALSE(Unicode::isValidUtf8(c.bytes));
    EXPECT_TRUE(Unicode::isValidUtf8(c.repaired));
    EXPECT_EQ(Unicode::validUtf8(c.bytes), c.repaired);
    EXPECT_EQ(Unicode::graphemeCount(c.bytes), Unicode::graphemeCount(c.repaired));
    EXPECT_EQ(Unicode::toUtf16(c.bytes), Unicode::toUtf16(c.repaired));
    EXPECT_EQ(Unicode::nfc(c.bytes), Unicode::nfc(c.repaired));
    EXPECT_EQ(Unicode::lower(c.bytes), Unicode::lower(c.repaired));
    EXPECT_EQ(Unicode::upper(c.bytes), Unicode::upper(c.repaired));
    EXPECT_EQ(Unicode::trimBlanks(" " + c.bytes + " "), Unicode::trimBlanks(c.repaired));
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines(c.bytes), Unicode::trimBlanks(c.repaired));
    EXPECT_TRUE(Unicode::canonicallyEqual(c.bytes, c.repaired));
    EXPECT_EQ(Unicode::nfcHash(c.bytes), Unicode::nfcHash(c.repaired));
}

INSTANTIATE_TEST_SUITE_P(All, IllFormedUtf8, testing::ValuesIn(illFormedCases),
                         caseName<IllFormedCase>);

} // namespace
} // namespace talverin
