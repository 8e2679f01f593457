#include "TalverinCore/Replacement.h"

#include <gtest/gtest.h>

#include <functional>
#include <unordered_set>

namespace talverin {
namespace {

TEST(Replacement, EqualityIsExactOverTheComposedForms) {
    EXPECT_EQ((Replacement{"café", "x"}), (Replacement{"cafe\u0301", "x"}));
    EXPECT_EQ((Replacement{"a", "cafe\u0301"}), (Replacement{"a", "café"}));
    EXPECT_NE((Replacement{"btw", "x"}), (Replacement{"BTW", "x"}));
    EXPECT_NE((Replacement{"btw", "x"}), (Replacement{"btw ", "x"}));
    EXPECT_NE((Replacement{"a", "b"}), (Replacement{"b", "a"}));

    const std::hash<Replacement> hash;
    EXPECT_EQ(hash({"café", "x"}), hash({"cafe\u0301", "x"}));
    EXPECT_NE(hash({"a", "b"}), hash({"b", "a"}));

    const std::unordered_set<Replacement> rules{{"café", "x"}, {"cafe\u0301", "x"}, {"Café", "x"}};
    EXPECT_EQ(rules.size(), 2u);
}

} // namespace
} // namespace talverin
