#include "TalverinCore/AutomaticWordCorrection.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Rules = std::vector<Replacement>;

constexpr std::size_t maxReplacements = 200;

const Replacement userRule{"btw", "by the way"};
const Replacement paris{"paris", "Paris"};
const Replacement its{"its", "it's"};

struct Step {
    const char* name;
    std::optional<Replacement> correction;
    Rules rules;
    std::optional<Rules> expected;
};

void run(AutomaticWordCorrection& learning, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(learning.update(step.correction, step.rules, maxReplacements), step.expected);
    }
}

TEST(AutomaticWordCorrection, KeepsOneLearnedRuleAtATime) {
    AutomaticWordCorrection learning;
    run(learning,
        {
            {"nothing installed, no correction", std::nullopt, {userRule}, std::nullopt},
            {"first correction appended", paris, {userRule}, Rules{userRule, paris}},
            {"same correction again", paris, {userRule, paris}, std::nullopt},
            {"newer correction replaces it", its, {userRule, paris}, Rules{userRule, its}},
            {"no correction takes it out", std::nullopt, {userRule, its}, Rules{userRule}},
            {"nothing installed any more", std::nullopt, {userRule}, std::nullopt},
            {"learning goes on", paris, {userRule}, Rules{userRule, paris}},
        });
}

TEST(AutomaticWordCorrection, HandEditedRuleStopsLearningForGood) {
    const Replacement edited{"paris", "PARIS"};
    for (const Rules& byHand : {Rules{userRule}, Rules{userRule, edited}}) {
        AutomaticWordCorrection learning;
        run(learning, {
                          {"learned", paris, {userRule}, Rules{userRule, paris}},
                          {"user changed it", its, byHand, std::nullopt},
                          {"later correction", its, byHand, std::nullopt},
                          {"later report of none", std::nullopt, {userRule, paris}, std::nullopt},
                          {"even with the rule back", its, {userRule, paris}, std::nullopt},
                      });
    }
}

TEST(AutomaticWordCorrection, UsersOwnRuleForTheWordWinsAndAFullListTakesNoMore) {
    {
        AutomaticWordCorrection learning;
        const Replacement usersParis{"PARIS", "Paris, France"};
        run(learning, {
                          {"learned", its, {usersParis}, Rules{usersParis, its}},
                          {"word known in other case: learned rule still goes",
                           paris,
                           {usersParis, its},
                           Rules{usersParis}},
                          {"nothing was installed", std::nullopt, {usersParis}, std::nullopt},
                      });
    }
    Rules full;
    for (int i = 0; i < 200; ++i)
        full.push_back({"word" + std::to_string(i), "w" + std::to_string(i)});
    {
        AutomaticWordCorrection learning;
        EXPECT_EQ(learning.update(paris, full, maxReplacements), std::nullopt)
            << "a full list takes no new rule";
    }
    {
        AutomaticWordCorrection learning;
        Rules almostFull(full.begin(), full.end() - 1);
        Rules withParis = almostFull;
        withParis.push_back(paris);
        Rules withIts = almostFull;
        withIts.push_back(its);
        run(learning,
            {
                {"199 rules take one", paris, almostFull, withParis},
                {"a full list holding the learned rule swaps it", its, withParis, withIts},
            });
    }
}

TEST(AutomaticWordCorrection, OnlyTheFirstCopyOfTheLearnedRuleIsTakenOut) {
    AutomaticWordCorrection learning;
    run(learning, {
                      {"learned", paris, {}, Rules{paris}},
                      {"user added the same rule",
                       std::nullopt,
                       {paris, userRule, paris},
                       Rules{userRule, paris}},
                  });
}

// Rules that come back through the pages or the stored settings may be spelled decomposed;
// they are still the same rules.
TEST(AutomaticWordCorrection, DecomposedSpellingsAreTheSameRule) {
    const Replacement cafe{"cafe", "café"};
    const Replacement cafeDecomposed{"cafe", "cafe\u0301"};
    const Replacement usersCafe{"Cafe\u0301", "coffee shop"};
    const Replacement cafeCorrection{"café", "cafe"};
    AutomaticWordCorrection learning;
    run(learning,
        {
            {"learned", cafe, {userRule}, Rules{userRule, cafe}},
            {"same correction decomposed", cafeDecomposed, {userRule, cafe}, std::nullopt},
            {"installed rule found decomposed",
             its,
             {userRule, cafeDecomposed},
             Rules{userRule, its}},
            {"user's rule for the word, decomposed and in other case",
             cafeCorrection,
             {usersCafe, its},
             Rules{usersCafe}},
        });
}

} // namespace
} // namespace talverin
