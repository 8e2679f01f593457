#include "Runtime/PreferredLanguages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace talverin {
namespace {

struct Case {
    std::map<std::string, std::string> environment;
    std::vector<std::string> expected;
};

TEST(PreferredLanguages, ReadsTheEnvironmentAsGettextDoes) {
    const Case cases[] = {
        {{}, {}},
        {{{"LANG", "en_US.UTF-8"}}, {"en-US"}},
        {{{"LANG", "ru_RU.UTF-8"}, {"LC_ALL", "de_DE.UTF-8"}}, {"de-DE"}},
        {{{"LANG", "ru_RU.UTF-8"}, {"LC_MESSAGES", "fr_FR"}}, {"fr-FR"}},
        {{{"LC_ALL", ""}, {"LANG", "ru_RU.UTF-8"}}, {"ru-RU"}},
        {{{"LANG", "sr_RS@latin"}}, {"sr-RS"}},
        {{{"LANG", "C"}}, {}},
        {{{"LANG", "C.UTF-8"}}, {}},
        {{{"LC_ALL", "POSIX"}, {"LANG", "ru_RU.UTF-8"}}, {}},
        {{{"LANGUAGE", "ru:en_GB:en"}, {"LANG", "de_DE.UTF-8"}}, {"ru", "en-GB", "en"}},
        {{{"LANGUAGE", "::C:uk_UA.UTF-8"}}, {"uk-UA"}},
        {{{"LANGUAGE", ""}, {"LANG", "ru_RU.UTF-8"}}, {"ru-RU"}},
        // A LANGUAGE that names nothing usable falls back to the locale.
        {{{"LANGUAGE", "C"}, {"LANG", "ru_RU.UTF-8"}}, {"ru-RU"}},
    };
    for (const Case& c : cases) {
        auto lookup = [&](const char* name) -> const char* {
            auto it = c.environment.find(name);
            return it == c.environment.end() ? nullptr : it->second.c_str();
        };
        std::string shown;
        for (const auto& [k, v] : c.environment) shown += k + "=" + v + " ";
        EXPECT_EQ(PreferredLanguages::from(lookup), c.expected) << shown;
    }
}

} // namespace
} // namespace talverin
