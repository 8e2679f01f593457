#include "Talverin/Dictation/DictationLanguage.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace talverin {
namespace {

// The 66 letters of the Russian alphabet, upper case and then lower case, Ё and ё after Е
// and е.
constexpr std::u32string_view kRussianLetters =
    U"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя";

// Words that translate each other, in the order they are tried.
struct Cue {
    std::vector<std::string> russian;
    std::vector<std::string> english;
};

const std::vector<Cue>& cues() {
    static const std::vector<Cue> table = {
        {{"где", "куда"}, {"where"}},
        {{"почему", "зачем"}, {"why"}},
        {{"когда"}, {"when"}},
        {{"как"}, {"how"}},
        {{"что"}, {"what", "that"}},
        {{"кто"}, {"who"}},
        {{"я", "мне", "меня"}, {"i", "me"}},
        {{"ты", "вы", "тебе", "вам"}, {"you"}},
        {{"мы", "нас", "нам"}, {"we", "us"}},
        {{"это", "этот", "эту"}, {"this", "it", "that"}},
        {{"моя", "мой", "мои"}, {"my", "mine"}},
        {{"сегодня"}, {"today"}},
        {{"завтра"}, {"tomorrow"}},
        {{"вчера"}, {"yesterday"}},
        {{"спасибо"}, {"thanks", "thank"}},
        {{"давай", "давайте"}, {"let", "lets"}},
    };
    return table;
}

bool isRussianLetter(UChar32 c) {
    return kRussianLetters.find(static_cast<char32_t>(c)) != std::u32string_view::npos;
}

// Calls `visit` with each user-perceived character of the text, as UTF-16 offsets.
template <typename Visit> void forEachCharacter(const icu::UnicodeString& text, Visit visit) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        // Without ICU's rules each scalar stands for itself.
        for (int32_t at = 0; at < text.length(); at = text.moveIndex32(at, 1))
            visit(at, text.moveIndex32(at, 1));
        return;
    }
    iterator->setText(text);
    int32_t start = iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE;
         start = end, end = iterator->next())
        visit(start, end);
}

} // namespace

bool DictationLanguage::hasRussianLetter(std::string_view text) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    for (int32_t at = 0; at < unicode.length(); at = unicode.moveIndex32(at, 1))
        if (isRussianLetter(unicode.char32At(at)))
            return true;
    return false;
}

// An ASCII letter is a whole character: "e" followed by a combining accent is one character
// that is not ASCII, so it does not count.
bool DictationLanguage::hasAsciiLetter(std::string_view text) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    bool found = false;
    forEachCharacter(unicode, [&](int32_t start, int32_t end) {
        if (found || end - start != 1)
            return;
        UChar c = unicode.charAt(start);
        found = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    });
    return found;
}

std::vector<std::string> DictationLanguage::tokens(std::string_view text) {
    const std::string lower = Unicode::lower(text);
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(lower.data(), static_cast<int32_t>(lower.size())));
    std::vector<std::string> out;
    icu::UnicodeString current;
    auto flush = [&] {
        if (current.isEmpty())
            return;
        std::string token;
        current.toUTF8String(token);
        out.push_back(std::move(token));
        current.remove();
    };
    forEachCharacter(unicode, [&](int32_t start, int32_t end) {
        // A character is a letter when its first scalar is one, in any script.
        if (u_isalpha(unicode.char32At(start)))
            current.append(unicode, start, end - start);
        else
            flush();
    });
    flush();
    return out;
}

bool DictationLanguage::corresponds(std::string_view russian,
                                    const std::vector<std::string>& english) {
    const std::vector<std::string> words = tokens(russian);
    // A transcript may spell "й" as "и" with a combining breve; it is still the cue's word.
    auto among = [](const std::vector<std::string>& candidates,
                    const std::vector<std::string>& list) {
        return std::any_of(candidates.begin(), candidates.end(), [&](const std::string& word) {
            return std::any_of(list.begin(), list.end(), [&](const std::string& token) {
                return Unicode::canonicallyEqual(word, token);
            });
        });
    };
    for (const Cue& cue : cues())
        if (among(cue.russian, words) && among(cue.english, english))
            return true;
    return false;
}

bool DictationLanguage::isDominant(std::string_view text, std::string_view language,
                                   const LanguageRecognizing& recognizer) {
    const std::optional<std::string> dominant = recognizer.dominantLanguage(text);
    return dominant && *dominant == language;
}

bool DictationLanguage::russianPhrase(std::string_view text,
                                      const LanguageRecognizing& recognizer) {
    return hasRussianLetter(text) && !hasAsciiLetter(text) && tokens(text).size() >= 2 &&
           isDominant(text, "ru", recognizer);
}

// The character scans come first, then the token counts, and the recogniser last: it is by far
// the dearest question.
std::optional<DictationLanguage::Recovery>
DictationLanguage::recovery(const DictateResult& answer, const std::optional<std::string>& local,
                            const LanguageRecognizing& recognizer) {
    if (hasRussianLetter(answer.text) || !hasAsciiLetter(answer.text))
        return std::nullopt;
    const bool rawIsRussian = hasRussianLetter(answer.raw);
    if (!rawIsRussian && !(local && hasRussianLetter(*local)))
        return std::nullopt;
    const std::vector<std::string> english = tokens(answer.text);
    if (english.size() < 2)
        return std::nullopt;

    if (rawIsRussian) {
        if (!isDominant(answer.text, "en", recognizer) ||
            !isDominant(answer.raw, "ru", recognizer) || !corresponds(answer.raw, english))
            return std::nullopt;
        return Recovery::fromRaw();
    }

    // The service heard English too; only a confident Russian draft of about as many words
    // can take the answer's place.
    if (answer.raw.empty() || !hasAsciiLetter(answer.raw))
        return std::nullopt;
    const std::size_t n = english.size();
    const std::size_t m = tokens(*local).size();
    if (n > 3 * m || m > 3 * n)
        return std::nullopt;
    if (!isDominant(answer.text, "en", recognizer) || !russianPhrase(*local, recognizer))
        return std::nullopt;
    if (answer.language == std::optional<std::string>("ru") || corresponds(*local, english))
        return Recovery::fromLocal(*local);
    return std::nullopt;
}

} // namespace talverin
