#include "TalverinSpeech/DraftTranscript.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace talverin {
namespace {

using Updates = std::vector<std::pair<int, std::string>>;

DraftTranscript replayed(const Updates& updates, UtteranceRestarts restarts) {
    DraftTranscript transcript;
    for (const auto& [segment, text] : updates)
        transcript.update(segment, text, restarts);
    return transcript;
}

// The same reports read by a recogniser that restarts utterances and by one whose every result
// spans the whole segment.
TEST(DraftTranscript, MergesReportsForBothKindsOfRecogniser) {
    struct Case {
        std::string name;
        Updates updates;
        std::string restarting;
        std::string wholeSegment;
    };
    const Case cases[] = {
        {"a restart keeps the earlier utterance",
         {{0, "so I went to the store and"}, {0, "then"}},
         "so I went to the store and then",
         "then"},
        {"same length is a revision",
         {{0, "hello world"}, {0, "hello there"}},
         "hello there",
         "hello there"},
        {"a shorter revision of the same beginning",
         {{0, "hello world"}, {0, "hello"}},
         "hello",
         "hello"},
        {"an empty report erases nothing",
         {{0, "hello world"}, {0, " \n\t"}, {0, ""}},
         "hello world",
         "hello world"},
        {"a negative segment is ignored", {{0, "hello"}, {-1, "there"}}, "hello", "hello"},
        {"words are cleaned, line breaks included",
         {{0, "  hello\n\nworld \u2028 again "}},
         "hello world again",
         "hello world again"},
        // The final repeats the whole segment: the frozen words must not stand twice.
        {"a final that repeats the frozen words",
         {{0, "so I went to the store and"}, {0, "then"}, {0, "So I went to the store, and then."}},
         "so I went to the store and then.",
         "So I went to the store, and then."},
        {"a repeat of the frozen words alone",
         {{0, "one two three four"}, {0, "five"}, {0, "One two three four"}},
         "one two three four",
         "One two three four"},
        {"a text that only begins like the frozen words is kept whole",
         {{0, "one two three four"}, {0, "five"}, {0, "one two three"}},
         "one two three four one two three",
         "one two three"},
        {"restarts chain",
         {{0, "one two three four"}, {0, "five six"}, {0, "five six seven eight"}, {0, "nine"}},
         "one two three four five six seven eight nine",
         "nine"},
        // An unstable early partial looks like a restart; the report after it revises the
        // frozen words, and stands for them.
        {"an early re-guess",
         {{0, "the cat sat on the"}, {0, "a"}, {0, "the cat sat on a mat"}},
         "the cat sat on a mat",
         "the cat sat on a mat"},
        {"a final that revises a frozen word",
         {{0, "so I went to the store and"}, {0, "then"}, {0, "So I went to a store, and then."}},
         "So I went to a store, and then.",
         "So I went to a store, and then."},
        {"a final that drops a frozen word",
         {{0, "so I went to the store and"}, {0, "then"}, {0, "so I went to store and then"}},
         "so I went to store and then",
         "so I went to store and then"},
        {"a final that repeats only the latest utterance",
         {{0, "one two three four"},
          {0, "five six"},
          {0, "five six seven eight"},
          {0, "nine"},
          {0, "Five six seven eight nine."}},
         "one two three four Five six seven eight nine.",
         "Five six seven eight nine."},
        {"a new utterance that shares a few words is no repeat",
         {{0, "we went to the park"}, {0, "and"}, {0, "and then we went home"}},
         "we went to the park and then we went home",
         "and then we went home"},
        {"segments join in order", {{1, "world"}, {0, "hello"}}, "hello world", "hello world"},
        {"Chinese segments join without a space",
         {{0, "你好"}, {1, "世界"}},
         "你好世界",
         "你好世界"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replayed(c.updates, UtteranceRestarts::possible).text(), c.restarting) << c.name;
        EXPECT_EQ(replayed(c.updates, UtteranceRestarts::never).text(), c.wholeSegment) << c.name;
    }
}

TEST(DraftTranscript, ALaterSegmentMakesEmptyPartsBeforeIt) {
    DraftTranscript transcript;
    transcript.update(2, "third");
    ASSERT_EQ(transcript.parts.size(), 3u);
    EXPECT_EQ(transcript.parts[0], DraftTranscript::Part{});
    EXPECT_EQ(transcript.parts[1], DraftTranscript::Part{});
    EXPECT_EQ(transcript.text(), "third");

    transcript.update(0, "so I went to the store and");
    transcript.update(0, "then");
    EXPECT_EQ(transcript.parts[0].frozen, "so I went to the store and");
    EXPECT_EQ(transcript.parts[0].current, "then");
    EXPECT_EQ(transcript.text(), "so I went to the store and then third");
}

} // namespace
} // namespace talverin
