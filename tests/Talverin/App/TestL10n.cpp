#include "Talverin/App/L10n.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

TEST(L10n, TheFirstPreferredLanguageChoosesRussian) {
    struct Case {
        std::vector<std::string> preferred;
        bool russian;
    };
    const Case cases[] = {
        {{"ru-RU"}, true},
        {{"RU"}, true},
        {{"ru", "en"}, true},
        {{"en-RU"}, false},
        {{"uk"}, false},
        {{"en-GB", "ru-RU"}, false},
        {{}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(L10n::isRussian(c.preferred), c.russian)
            << (c.preferred.empty() ? std::string("(none)") : c.preferred.front());
}

} // namespace
} // namespace talverin
