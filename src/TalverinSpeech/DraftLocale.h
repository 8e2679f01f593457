#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// Which of the recogniser's locales to try for a dictation language, most likely first: the
// user's own region for that language before other regions, and plain language-region
// identifiers ("en-GB", "es-419") before those with a script or variant ("zh-Hans-CN").
// Identifiers may be written with "-" or "_" ("en_US" as Linux spells it).
namespace DraftLocale {

// The parsed form of a locale identifier.
struct Parts {
    std::string language;
    // The first region piece, upper-cased.
    std::optional<std::string> region;
    // The language alone, or the language with exactly one region piece and nothing else.
    bool isPlain = false;

    bool operator==(const Parts&) const = default;
};

// Retired language codes and the ones that replaced them ("iw" is "he").
const std::map<std::string, std::string>& aliases();
// The region tried for a language when the user names none.
const std::map<std::string, std::string>& defaultRegions();

// The first piece of a code or identifier, lower-cased, through the aliases: "iw_IL" is "he".
std::string normalizedLanguage(std::string_view identifier);
// Absent for an identifier without pieces.
std::optional<Parts> parts(std::string_view identifier);
// The table's region, else the region of the language's likely subtags ("ja" is "ja-Jpan-JP").
std::optional<std::string> defaultRegion(std::string_view language);
// The supported identifiers to try for `language`, at most `limit` of them. `supported` is
// sorted ascending; `preferredLanguages` is the user's list, most preferred first.
std::vector<std::string> candidates(std::string_view language,
                                    const std::vector<std::string>& supported,
                                    const std::vector<std::string>& preferredLanguages,
                                    const std::optional<std::string>& currentRegion, int limit);

} // namespace DraftLocale

} // namespace talverin
