#include "TalverinSpeech/DraftLocale.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <set>

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace talverin {

namespace {

std::vector<std::string> piecesOf(std::string_view identifier) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= identifier.size()) {
        std::size_t end = identifier.find_first_of("-_", start);
        if (end == std::string_view::npos)
            end = identifier.size();
        if (end > start)
            pieces.emplace_back(identifier.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// Two letters ("GB") or three digits ("419", a UN M.49 area).
bool isRegionPiece(const std::string& piece) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(piece);
    std::vector<UChar32> scalars;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1))
        scalars.push_back(text.char32At(i));
    if (scalars.size() == 2)
        return std::all_of(scalars.begin(), scalars.end(), [](UChar32 c) { return u_isalpha(c); });
    if (scalars.size() == 3)
        return std::all_of(scalars.begin(), scalars.end(), [](UChar32 c) { return u_isdigit(c); });
    return false;
}

} // namespace

namespace DraftLocale {

const std::map<std::string, std::string>& aliases() {
    static const std::map<std::string, std::string> table = {
        {"iw", "he"}, {"in", "id"}, {"ji", "yi"}, {"jw", "jv"}, {"no", "nb"},
    };
    return table;
}

const std::map<std::string, std::string>& defaultRegions() {
    static const std::map<std::string, std::string> table = {
        {"ar", "SA"}, {"ca", "ES"}, {"de", "DE"},  {"en", "US"},  {"es", "ES"},
        {"fr", "FR"}, {"it", "IT"}, {"nl", "NL"},  {"pt", "BR"},  {"ru", "RU"},
        {"sv", "SE"}, {"uk", "UA"}, {"wuu", "CN"}, {"yue", "CN"}, {"zh", "CN"},
    };
    return table;
}

std::string normalizedLanguage(std::string_view identifier) {
    auto pieces = piecesOf(identifier);
    std::string language = pieces.empty() ? std::string() : Unicode::lower(pieces.front());
    if (auto alias = aliases().find(language); alias != aliases().end())
        return alias->second;
    return language;
}

std::optional<Parts> parts(std::string_view identifier) {
    auto pieces = piecesOf(identifier);
    if (pieces.empty())
        return std::nullopt;
    Parts result;
    result.language = normalizedLanguage(pieces.front());
    bool extra = false;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        if (!result.region && isRegionPiece(pieces[i]))
            result.region = Unicode::upper(pieces[i]);
        else
            extra = true;
    }
    result.isPlain = !extra;
    return result;
}

std::optional<std::string> defaultRegion(std::string_view language) {
    if (auto found = defaultRegions().find(std::string(language)); found != defaultRegions().end())
        return found->second;
    if (language.empty())
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale(std::string(language).c_str());
    locale.addLikelySubtags(status);
    if (U_FAILURE(status) || locale.isBogus())
        return std::nullopt;
    std::string region = locale.getCountry();
    if (region.empty())
        return std::nullopt;
    return region;
}

std::vector<std::string> candidates(std::string_view language,
                                    const std::vector<std::string>& supported,
                                    const std::vector<std::string>& preferredLanguages,
                                    const std::optional<std::string>& currentRegion, int limit) {
    const std::string lang = normalizedLanguage(language);
    if (lang.empty() || limit <= 0)
        return {};
    struct Match {
        const std::string* id;
        Parts parts;
    };
    std::vector<Match> matches;
    for (const auto& id : supported) {
        auto parsed = parts(id);
        if (parsed && parsed->language == lang)
            matches.push_back({&id, std::move(*parsed)});
    }
    if (matches.empty())
        return {};

    std::vector<std::string> regions;
    if (auto own = parts(language); own && own->region)
        regions.push_back(*own->region);
    for (const auto& preferred : preferredLanguages) {
        auto parsed = parts(preferred);
        if (parsed && parsed->language == lang && parsed->region)
            regions.push_back(*parsed->region);
    }
    if (currentRegion && !currentRegion->empty())
        regions.push_back(Unicode::upper(*currentRegion));
    if (auto fallback = defaultRegion(lang))
        regions.push_back(Unicode::upper(*fallback));

    std::vector<std::string> result;
    std::set<std::string> taken;
    auto add = [&](const std::string& id) {
        if (taken.insert(id).second)
            result.push_back(id);
    };
    for (const auto& region : regions)
        for (const auto& match : matches)
            if (match.parts.isPlain && match.parts.region == region)
                add(*match.id);
    std::vector<std::string> plain, other;
    for (const auto& match : matches)
        (match.parts.isPlain ? plain : other).push_back(*match.id);
    std::sort(plain.begin(), plain.end());
    std::sort(other.begin(), other.end());
    for (const auto& id : plain)
        add(id);
    for (const auto& id : other)
        add(id);

    if (result.size() > static_cast<std::size_t>(limit))
        result.resize(static_cast<std::size_t>(limit));
    return result;
}

} // namespace DraftLocale

} // namespace talverin
