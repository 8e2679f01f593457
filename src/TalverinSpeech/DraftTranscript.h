#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// How a recogniser's results relate to what it said before within one segment.
enum class UtteranceRestarts {
    // A result may start a new utterance that leaves the earlier text out; that text is kept.
    possible,
    // Every result spans the whole segment so far: a shorter result is a revision, never a
    // restart, and nothing is frozen.
    never,
};

// The draft of one dictation, merged from the texts recognised for each of its segments.
struct DraftTranscript {
    struct Part {
        // Earlier utterances of this segment that the recogniser has moved past.
        std::string frozen;
        // The segment's latest text, its words joined by single spaces.
        std::string current;
        // Where each frozen utterance starts, counted in words of `frozen`.
        std::vector<std::size_t> utteranceStarts;

        // Equal when they read the same; where the utterances start is only bookkeeping.
        bool operator==(const Part& other) const {
            return frozen == other.frozen && current == other.current;
        }
    };

    std::vector<Part> parts;

    // Takes the segment's latest text. An empty text never erases what a segment said.
    void update(int segment, std::string_view text,
                UtteranceRestarts restarts = UtteranceRestarts::possible);
    // Every segment's frozen and current text, joined in order.
    std::string text() const;

    bool operator==(const DraftTranscript&) const = default;
};

} // namespace talverin
