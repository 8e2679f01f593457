// labels: tsan
#include "TalverinCore/WordCount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

TEST(WordCount, CountsRunsOfLettersAndNumbersJoinedByApostrophesAndHyphens) {
    const struct {
        std::string text;
        int words;
    } cases[] = {
        {"", 0},
        {"don't stop", 2},
        {"it’s fine", 2},
        {"e-mail", 1},
        {"rock'n'roll", 1},
        {"3.14", 2},
        {"— – - 🙂 🎉 ...", 0},
        {"snake_case", 2},
        {"'quoted' -dash- end-", 3},
        {"a--b", 2},
        {"one, two;three\nfour\tfive", 5},
        {"Привет, мир! Как дела?", 4},
        {"東京大学 ソウル", 2},
        {"x² ½", 2},
        {"cafe\u0301 au lait", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WordCount::of(c.text), c.words) << c.text;
}

// History and the session count words on whatever thread they run on; the pattern is shared.
TEST(WordCount, CountsOnSeveralThreadsAtOnce) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            const std::string text(static_cast<std::size_t>(t + 1) * 100, 'a');
            for (int i = 0; i < 100; ++i)
                if (WordCount::of(text + " don't stop") != 3)
                    ++wrong;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace talverin
