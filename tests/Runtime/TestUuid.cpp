#include "Runtime/Uuid.h"

#include <set>

#include <gtest/gtest.h>

namespace talverin {
namespace {

TEST(Uuid, IsLowerCaseVersionFourText) {
    const std::string uuid = newUuid();
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            EXPECT_EQ(uuid[i], '-') << uuid;
        else
            EXPECT_TRUE((uuid[i] >= '0' && uuid[i] <= '9') || (uuid[i] >= 'a' && uuid[i] <= 'f'))
                << uuid;
    }
    EXPECT_EQ(uuid[14], '4') << "version nibble: " << uuid;
    EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos) << "variant: " << uuid;
}

TEST(Uuid, RepeatsNeverInAThousandDraws) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(seen.insert(newUuid()).second);
}

} // namespace
} // namespace talverin
