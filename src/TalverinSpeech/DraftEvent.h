#pragma once

#include <string>

namespace talverin {

// What recognition reports about one segment.
struct DraftEvent {
    enum class Kind {
        // An interim text of the whole segment so far.
        partial,
        // The segment's final text.
        final,
        // The recognition failed; `message` is the error's domain, a blank and its code.
        failed,
    };

    Kind kind = Kind::partial;
    std::string text;
    bool confident = false;
    std::string message;

    static DraftEvent partial(std::string text) {
        return {Kind::partial, std::move(text), false, {}};
    }
    static DraftEvent final(std::string text, bool confident) {
        return {Kind::final, std::move(text), confident, {}};
    }
    static DraftEvent failed(std::string message) {
        return {Kind::failed, {}, false, std::move(message)};
    }

    bool operator==(const DraftEvent&) const = default;
};

} // namespace talverin
