#pragma once

#include "TalverinCore/EnumTable.h"

#include <string>
#include <vector>

namespace talverin {

// The language of every text the pill shows, speaks or puts in its menu.
enum class PillLang {
    en,
    ru,
};

template <> struct EnumTable<PillLang> {
    static constexpr auto entries = std::to_array<EnumEntry<PillLang>>({
        {PillLang::en, "en"},
        {PillLang::ru, "ru"},
    });
};

// Any thread. Russian when the first preferred language is Russian in any region ("ru",
// "ru-RU", "RU"), English for everything else, an empty list included.
PillLang pillLangFrom(const std::vector<std::string>& preferredLanguages);

// Any thread. The language of the user's preferred languages as they stand now: read afresh
// on every call, from the one list the shell's texts and the pages also follow.
PillLang currentPillLang();

} // namespace talverin
