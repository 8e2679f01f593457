#pragma once

#include <string>
#include <string_view>

namespace talverin {

// Whether a dictated text needs one space in front to join the text before the caret.
class TextJoin {
public:
    TextJoin() = delete;

    // Any thread. The dictated text, with one space in front when one is needed; the caller
    // inserts the result, which never includes the text before the caret.
    static std::string joined(std::string_view text, std::string_view before);

private:
    // Whether a character (its first scalar) is Chinese, Japanese or Korean script or
    // punctuation, which is written without spaces between words.
    static bool isCJK(std::u16string_view character);
};

} // namespace talverin
