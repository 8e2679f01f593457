// The replacement rules run on the main thread while a dictation completes, inside the 20 ms
// budget from key release to the text handed to the inserter. The figures to watch: a full list
// of 200 rules on a 5,000-character text, with the rules' expression already compiled (the
// usual case) and on the first call after the list changed.
#include "TalverinCore/Replacements.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

namespace talverin {
namespace {

// A made-up word from a number, so that every rule has its own phrase.
std::string wordFor(std::size_t n) {
    static const char* const syllables[] = {"ka",  "lo", "mi", "ne",  "tru", "sa", "vo", "pel",
                                            "dor", "fi", "gu", "ran", "ze",  "bo", "hu", "wi"};
    std::string word;
    do {
        word += syllables[n % 16];
        n /= 16;
    } while (n > 0);
    return word + "x";
}

// 200 rules as a user's list might hold them: single words and phrases of two and three words,
// a few deletions, a few with punctuation and a few in Russian. `variant` changes one rule so
// that the list differs from the previous one.
std::vector<Replacement> ruleList(int variant) {
    std::vector<Replacement> rules;
    for (std::size_t i = 0; i < 200; ++i) {
        std::string from = wordFor(i);
        if (i % 3 == 1)
            from += " " + wordFor(i + 300);
        if (i % 7 == 2)
            from += " " + wordFor(i + 600);
        if (i % 23 == 5)
            from += ".";
        if (i % 31 == 4)
            from = "слово" + std::to_string(i);
        std::string to = i % 19 == 0 ? "" : "Rule " + std::to_string(i);
        rules.push_back({from, to});
    }
    rules[0].to = "variant " + std::to_string(variant);
    return rules;
}

// About 5,000 characters of dictation in which roughly one word in eight starts a rule's
// phrase.
std::string dictation() {
    const std::vector<Replacement> rules = ruleList(0);
    std::string text;
    std::size_t n = 0;
    while (text.size() < 5000) {
        if (n % 8 == 3)
            text += rules[(n * 37) % rules.size()].from;
        else
            text += n % 5 == 0 ? "And" : wordFor(1000 + n % 97);
        text += n % 11 == 10 ? ". " : " ";
        ++n;
    }
    text.resize(5000);
    return text;
}

void BM_ApplyCachedRules(benchmark::State& state) {
    const std::vector<Replacement> rules = ruleList(0);
    const std::string text = dictation();
    benchmark::DoNotOptimize(Replacements::apply(rules, text));
    for (auto _ : state)
        benchmark::DoNotOptimize(Replacements::apply(rules, text));
}
BENCHMARK(BM_ApplyCachedRules)->Unit(benchmark::kMillisecond);

void BM_ApplyAfterRulesChanged(benchmark::State& state) {
    const std::vector<Replacement> lists[2] = {ruleList(1), ruleList(2)};
    const std::string text = dictation();
    int turn = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Replacements::apply(lists[turn], text));
        turn = 1 - turn;
    }
}
BENCHMARK(BM_ApplyAfterRulesChanged)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talverin
