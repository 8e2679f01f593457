#include "TalverinCore/Replacements.h"

#include "Runtime/Unicode.h"
#include "TalverinCore/TextCharacters.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace talverin {
namespace {

// The boundaries keep the case-insensitive flag off: under it ICU closes every set over case,
// which for the letter and number categories costs tens of milliseconds per copy. A combining
// mark belongs to the letter it follows, so a mark on either side also means the phrase would
// start or end inside a word: "x" must not match the base of "x" + U+0301, nor "क" the start
// of "का".
constexpr std::u16string_view leadingBoundary = u"(?-i:(?<![\\p{L}\\p{M}\\p{N}]))";
constexpr std::u16string_view trailingBoundary = u"(?-i:(?![\\p{L}\\p{M}\\p{N}]))";
constexpr std::u16string_view wordSeparator = u"\\s+";

// The blanks a deletion may take with it, looked at as single UTF-16 units.
bool isDeletionBlank(char16_t unit) {
    return unit == u'\t' || unit == u' ' || unit == u'\u00A0';
}

// What the boundaries treat as part of a word: a letter, mark or number.
bool isWordPart(char32_t scalar) {
    return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) &
            (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

// The same for one UTF-16 unit; a surrogate half is none of them.
bool isAlphanumericUnit(char16_t unit) {
    return isWordPart(unit);
}

bool containsWhitespace(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        if (Unicode::isWhitespaceOrNewline(static_cast<char32_t>(c)))
            return true;
    }
    return false;
}

// Quotes every ASCII character that is not a letter or a digit, so that the word matches
// literally. Digits stay bare: a backslash before one would make a back reference.
void appendQuoted(std::u16string& out, std::u16string_view word) {
    for (char16_t unit : word) {
        const bool asciiAlphanumeric = (unit >= u'a' && unit <= u'z') ||
                                       (unit >= u'A' && unit <= u'Z') ||
                                       (unit >= u'0' && unit <= u'9');
        if (unit < 0x80 && !asciiAlphanumeric)
            out += u'\\';
        out += unit;
    }
}

std::unique_ptr<icu::RegexPattern> compileInsensitive(std::u16string_view expression) {
    return TextCharacters::compile(expression, UREGEX_CASE_INSENSITIVE);
}

std::u16string_view viewOf(const icu::UnicodeString& text) {
    return {text.getBuffer(), static_cast<std::size_t>(text.length())};
}

// Fetched once under a C++ static, which also orders ICU's lazily loaded data before every
// thread that uses it (the thread sanitizer cannot see ICU's own ordering).
const icu::Normalizer2* nfcNormalizer() {
    static const icu::Normalizer2* const normalizer = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? instance : nullptr;
    }();
    return normalizer;
}

// The text as the rules see it: UTF-16 in its composed form, so that a phrase matches a text
// that spells the same characters decomposed.
icu::UnicodeString composedUtf16(std::string_view text) {
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(
        text.data(), static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX))));
    const icu::Normalizer2* nfc = nfcNormalizer();
    UErrorCode status = U_ZERO_ERROR;
    if (nfc == nullptr || nfc->isNormalized(source, status) || U_FAILURE(status))
        return source;
    icu::UnicodeString composed = nfc->normalize(source, status);
    return U_SUCCESS(status) ? composed : source;
}

// One rule as the search uses it, in the order in which rules win.
struct PreparedRule {
    std::u16string to;
    // The replacement with its first character in upper case, for a match that begins with a
    // capital; empty when the rule never carries a capital over.
    std::u16string capitalisedTo;
    bool leadingBoundary = false;
    bool trailingBoundary = false;
    // The phrase's words alone, to tell which rule the search found.
    std::unique_ptr<icu::RegexPattern> words;
};

} // namespace

struct Replacements::Compiled {
    std::vector<Replacement> source; // the rule list as given
    std::vector<PreparedRule> rules; // longest phrase first
    // One alternation over every rule; null when no rule can apply.
    std::unique_ptr<icu::RegexPattern> search;
};

Replacements::Pattern Replacements::pattern(std::u16string_view phrase) {
    Pattern made;
    constexpr std::size_t none = std::u16string_view::npos;
    std::size_t wordStart = none;
    auto endWord = [&](std::size_t wordEnd) {
        if (wordStart == none)
            return;
        if (!made.words.empty())
            made.words += wordSeparator;
        appendQuoted(made.words, phrase.substr(wordStart, wordEnd - wordStart));
        wordStart = none;
    };
    // Runs of whitespace count as one separator; empty pieces at either end are dropped.
    for (std::size_t i = 0; i < phrase.size();) {
        const std::size_t at = i;
        UChar32 c;
        U16_NEXT(phrase.data(), i, phrase.size(), c);
        if (Unicode::isWhitespaceOrNewline(static_cast<char32_t>(c)))
            endWord(at);
        else if (wordStart == none)
            wordStart = at;
    }
    endWord(phrase.size());
    made.leadingBoundary = TextCharacters::isLetterOrNumber(
        TextCharacters::firstScalar(TextCharacters::first(phrase)));
    made.trailingBoundary =
        TextCharacters::isLetterOrNumber(TextCharacters::firstScalar(TextCharacters::last(phrase)));
    return made;
}

std::shared_ptr<const Replacements::Compiled>
Replacements::compile(const std::vector<Replacement>& rules) {
    auto compiled = std::make_shared<Compiled>();
    compiled->source = rules;

    // 1. Trimmed phrases; of phrases equal but for case, the first in the list stays.
    struct Candidate {
        std::string phrase;
        const std::string* to;
        std::size_t length;
    };
    std::vector<Candidate> candidates;
    std::unordered_set<std::string> seen;
    for (const Replacement& rule : rules) {
        std::string phrase = Unicode::nfc(Unicode::trimWhitespaceAndNewlines(rule.from));
        if (phrase.empty() || !seen.insert(Unicode::nfc(Unicode::lower(phrase))).second)
            continue;
        const std::size_t length = Unicode::graphemeCount(phrase);
        candidates.push_back({std::move(phrase), &rule.to, length});
    }
    // 2. Longest phrase first; rules of equal length keep their order in the list.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.length > b.length; });
    if (candidates.empty())
        return compiled;

    // 3. One alternation, in that order. Runs of rules with the same boundaries share one copy
    // of each boundary: (?:B(?:a|b)C) tries a then b, each followed by C, exactly as (?:BaC|BbC)
    // does, and every copy of a boundary costs a category set to compile.
    std::u16string expression = u"(?:";
    std::u16string run;
    bool anyRun = false;
    bool runLeading = false;
    bool runTrailing = false;
    auto closeRun = [&] {
        if (run.empty())
            return;
        if (anyRun)
            expression += u'|';
        anyRun = true;
        if (runLeading)
            expression += leadingBoundary;
        expression += u"(?:" + run + u")";
        if (runTrailing)
            expression += trailingBoundary;
        run.clear();
    };
    for (const Candidate& candidate : candidates) {
        const std::u16string phrase = Unicode::toUtf16(candidate.phrase);
        const Pattern made = pattern(phrase);
        if (made.leadingBoundary != runLeading || made.trailingBoundary != runTrailing)
            closeRun();
        if (!run.empty())
            run += u'|';
        run += made.words;
        runLeading = made.leadingBoundary;
        runTrailing = made.trailingBoundary;

        PreparedRule rule;
        rule.to = Unicode::toUtf16(*candidate.to);
        rule.leadingBoundary = made.leadingBoundary;
        rule.trailingBoundary = made.trailingBoundary;
        rule.words = compileInsensitive(made.words);
        if (rule.words == nullptr)
            return compiled;
        // A capital at the start of the match carries over only to a replacement that starts
        // in lower case and is a phrase or wholly lower case, never to one such as a brand name
        // with capitals inside, and never when the rule's own phrase starts with a capital.
        const std::u16string_view toFirst = TextCharacters::first(rule.to);
        if (!rule.to.empty() && !TextCharacters::isUppercase(TextCharacters::first(phrase)) &&
            TextCharacters::isLowercase(toFirst) &&
            (containsWhitespace(rule.to) || TextCharacters::lower(rule.to) == rule.to))
            rule.capitalisedTo = TextCharacters::upper(toFirst) + rule.to.substr(toFirst.size());
        compiled->rules.push_back(std::move(rule));
    }
    closeRun();
    expression += u')';
    compiled->search = compileInsensitive(expression);
    return compiled;
}

std::shared_ptr<const Replacements::Compiled>
Replacements::compiled(const std::vector<Replacement>& rules) {
    // The rule list changes rarely, and compiling 200 rules costs far more than a search, so
    // the last list's expression is kept. Patterns are safe to share between threads; each
    // call makes its own matchers. Compiling under the lock keeps two threads from compiling
    // the same list, and orders ICU's lazily built tables before every search that uses them.
    static std::mutex mutex;
    static std::shared_ptr<const Compiled> last;
    auto sameBytes = [](const Replacement& a, const Replacement& b) {
        return a.from == b.from && a.to == b.to;
    };
    std::lock_guard lock(mutex);
    if (last == nullptr || !std::equal(last->source.begin(), last->source.end(), rules.begin(),
                                       rules.end(), sameBytes))
        last = compile(rules);
    return last;
}

namespace {

// Finds which rule the search matched at `start`: the first in order whose phrase matches
// there with its boundaries, as the alternation itself decides. Each phrase's words match at
// most one way at a given place (quoted literals and maximal whitespace runs), so checking the
// boundaries by hand after the words gives the alternation's answer without compiling a
// boundary set per rule.
const PreparedRule* ruleAt(const std::vector<PreparedRule>& rules,
                           std::vector<std::unique_ptr<icu::RegexMatcher>>& matchers,
                           const icu::UnicodeString& text, int32_t start) {
    const char16_t* units = text.getBuffer();
    const int32_t length = text.length();
    bool leadingHolds = true;
    if (start > 0) {
        int32_t before = start;
        UChar32 c;
        U16_PREV(units, 0, before, c);
        leadingHolds = !isWordPart(static_cast<char32_t>(c));
    }
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const PreparedRule& rule = rules[i];
        if (rule.leadingBoundary && !leadingHolds)
            continue;
        UErrorCode status = U_ZERO_ERROR;
        if (matchers[i] == nullptr)
            matchers[i].reset(rule.words->matcher(text, status));
        if (U_FAILURE(status) || matchers[i] == nullptr || !matchers[i]->lookingAt(start, status))
            continue;
        int32_t end = matchers[i]->end(status);
        if (U_FAILURE(status))
            continue;
        if (rule.trailingBoundary && end < length) {
            UChar32 c;
            U16_NEXT(units, end, length, c);
            if (isWordPart(static_cast<char32_t>(c)))
                continue;
        }
        return &rule;
    }
    return nullptr;
}

// The part of the text a deletion removes: the match, with one neighbouring blank when the
// match starts the text or follows a blank. The blank after it goes first; otherwise the one
// before it, unless the match runs straight into a word (or into half of a surrogate pair,
// which must not be split from its other half).
struct Range {
    int32_t start;
    int32_t end;
    bool grewLeft;
};

Range deletionRange(std::u16string_view units, int32_t start, int32_t end) {
    const auto length = static_cast<int32_t>(units.size());
    if (start > 0 && !isDeletionBlank(units[start - 1]))
        return {start, end, false};
    if (end < length && isDeletionBlank(units[end]))
        return {start, end + 1, false};
    if (start > 0 &&
        (end == length || (!isAlphanumericUnit(units[end]) && !U16_IS_SURROGATE(units[end]))))
        return {start - 1, end, true};
    return {start, end, false};
}

} // namespace

std::string Replacements::apply(const std::vector<Replacement>& rules, std::string_view text) {
    if (text.empty())
        return std::string(text);
    const std::shared_ptr<const Compiled> compiledRules = compiled(rules);
    if (compiledRules->search == nullptr)
        return std::string(text);

    const icu::UnicodeString source = composedUtf16(text);
    const std::u16string_view units = viewOf(source);
    const int32_t length = source.length();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> search(compiledRules->search->matcher(source, status));
    if (U_FAILURE(status) || search == nullptr)
        return std::string(text);
    std::vector<std::unique_ptr<icu::RegexMatcher>> matchers(compiledRules->rules.size());

    icu::UnicodeString result;
    int32_t cursor = 0;
    bool replacedAny = false;
    while (search->find(status) && U_SUCCESS(status)) {
        const int32_t matchStart = search->start(status);
        const int32_t matchEnd = search->end(status);
        if (U_FAILURE(status) || matchStart < cursor)
            continue;
        const PreparedRule* rule = ruleAt(compiledRules->rules, matchers, source, matchStart);
        if (rule == nullptr)
            continue;

        std::u16string_view replacement = rule->to;
        if (!rule->capitalisedTo.empty() &&
            TextCharacters::isUppercase(TextCharacters::first(
                units.substr(matchStart, static_cast<std::size_t>(matchEnd - matchStart)))))
            replacement = rule->capitalisedTo;

        const Range range = rule->to.empty() ? deletionRange(units, matchStart, matchEnd)
                                             : Range{matchStart, matchEnd, false};
        int32_t start = range.start;
        if (start < cursor) {
            if (!range.grewLeft)
                continue;
            // The blank before this deletion went with the previous one ("so um um"): take
            // the blank in front of the previous deletion instead, so that a repeated word
            // goes as a whole rather than being left behind.
            start = matchStart;
            const int32_t built = result.length();
            if (built > 0 && isDeletionBlank(result.charAt(built - 1)))
                result.truncate(built - 1);
        }
        result.append(source, cursor, start - cursor);
        result.append(replacement.data(), static_cast<int32_t>(replacement.size()));
        cursor = range.end;
        replacedAny = true;
    }
    if (!replacedAny)
        return std::string(text);
    result.append(source, cursor, length - cursor);
    std::string out;
    result.toUTF8String(out);
    return out;
}

} // namespace talverin
