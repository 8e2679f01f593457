#include "TalverinSpeech/DraftHints.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

using Strings = std::vector<std::string>;

TEST(DraftHints, TrimsAndDropsEmptiesAndRepeatsUpToTheLimit) {
    struct Case {
        Strings words;
        int limit;
        Strings expected;
    };
    const Case cases[] = {
        {{" Foo", "foo", "", "Bar"}, 100, {"Foo", "Bar"}},
        {{"\n\t", "ÄPFEL", "äpfel\n", "Straße"}, 100, {"ÄPFEL", "Straße"}},
        {{"a", "b", "c", "d"}, 2, {"a", "b"}},
        // Repeats do not use up the limit.
        {{"a", "A", "a ", "b"}, 2, {"a", "b"}},
        {{"a"}, 0, {}},
        {{"a"}, -1, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DraftHints::contextualStrings(c.words, c.limit), c.expected);
}

} // namespace
} // namespace talverin
