#include "TalverinSpeech/linux/PocketsphinxText.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace talverin {

namespace PocketsphinxText {

namespace {

// The units of the English model's noise dictionary: none of them is a spoken word, and their
// posteriors say nothing about how well the words were heard.
constexpr std::array<std::string_view, 5> fillers = {"<s>", "</s>", "<sil>", "[NOISE]", "[SPEECH]"};

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool isAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

} // namespace

bool isFiller(std::string_view word) {
    return std::find(fillers.begin(), fillers.end(), word) != fillers.end();
}

std::string baseWord(std::string_view word) {
    // "(N)" at the end, N one or more digits, after at least one character of the word.
    if (word.size() >= 4 && word.back() == ')') {
        auto open = word.rfind('(');
        if (open != std::string_view::npos && open > 0 && open + 2 < word.size() &&
            std::all_of(word.begin() + static_cast<std::ptrdiff_t>(open) + 1, word.end() - 1,
                        isDigit))
            word = word.substr(0, open);
    }
    return std::string(word);
}

std::string text(const char* hypothesis) {
    std::string out;
    if (!hypothesis)
        return out;
    std::string_view rest(hypothesis);
    while (!rest.empty()) {
        auto start = rest.find_first_not_of(" \t\n");
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        auto end = std::min(rest.find_first_of(" \t\n"), rest.size());
        std::string_view word = rest.substr(0, end);
        rest.remove_prefix(end);
        if (isFiller(word))
            continue;
        if (!out.empty())
            out += ' ';
        out += baseWord(word);
    }
    return out;
}

std::optional<std::string> localeId(std::string_view folder) {
    auto cut = folder.find_first_of("-_");
    std::string_view language = folder.substr(0, cut);
    if (language.size() < 2 || language.size() > 3 ||
        !std::all_of(language.begin(), language.end(), isAlpha))
        return std::nullopt;
    std::string id;
    for (char c : language)
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (cut == std::string_view::npos)
        return id;
    std::string_view region = folder.substr(cut + 1);
    if (region.size() != 2 || !std::all_of(region.begin(), region.end(), isAlpha))
        return std::nullopt;
    id += '-';
    for (char c : region)
        id += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return id;
}

} // namespace PocketsphinxText

} // namespace talverin
