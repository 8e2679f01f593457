#include "Talverin/Dictation/linux/LanguageRecognizingCld2.h"

#include "Runtime/Unicode.h"

#include <climits>

// CLD2's header uses FILE without including <cstdio> itself.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>

namespace talverin {

std::optional<std::string> LanguageRecognizingCld2::dominantLanguage(std::string_view text) const {
    // CLD2 gives up on ill-formed UTF-8; the repaired text keeps every letter it has.
    const std::string valid = Unicode::validUtf8(text);
    if (valid.empty() || valid.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;

    CLD2::CLDHints hints = {nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::RUSSIAN};
    CLD2::Language top3[3] = {CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE,
                              CLD2::UNKNOWN_LANGUAGE};
    int percent3[3] = {0, 0, 0};
    double scores3[3] = {0, 0, 0};
    int textBytes = 0;
    bool reliable = false;
    CLD2::ExtDetectLanguageSummary(valid.data(), static_cast<int>(valid.size()),
                                   /*is_plain_text=*/true, &hints, CLD2::kCLDFlagBestEffort, top3,
                                   percent3, scores3, /*resultchunkvector=*/nullptr, &textBytes,
                                   &reliable);
    if (top3[0] == CLD2::UNKNOWN_LANGUAGE)
        return std::nullopt;
    const char* code = CLD2::LanguageCode(top3[0]);
    if (!code || !*code)
        return std::nullopt;
    return std::string(code);
}

} // namespace talverin
