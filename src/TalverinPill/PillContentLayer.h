#pragma once

#include "TalverinPill/PillFace.h"

#include <cstdint>
#include <string>
#include <variant>

namespace talverin {

// One piece of content inside the pill's shape, known by its id so that the views can fade it
// in and out as a whole.
struct PillContentLayer {
    class Kind {
    public:
        struct Hover {
            std::string lead; // "Hold"
            std::string key;  // the key's name
            double width = 0; // points

            bool operator==(const Hover&) const = default;
        };
        struct Mic {
            std::string label; // the button's accessible label
            bool upright = false;

            bool operator==(const Mic&) const = default;
        };

        // A state's content.
        static Kind state(PillFace face) { return Kind(std::move(face)); }
        // The hover hint of the resting pill on the island.
        static Kind hover(std::string lead, std::string key, double width) {
            return Kind(Hover{std::move(lead), std::move(key), width});
        }
        // The microphone button of the resting pill elsewhere.
        static Kind mic(std::string label, bool upright) {
            return Kind(Mic{std::move(label), upright});
        }

        const PillFace* asFace() const { return std::get_if<PillFace>(&m_value); }
        const Hover* asHover() const { return std::get_if<Hover>(&m_value); }
        const Mic* asMic() const { return std::get_if<Mic>(&m_value); }

        // The same content, perhaps with other values: states of one key, or two hover hints,
        // or two microphone buttons. Such content changes in place instead of cross-fading.
        bool holdsSameContent(const Kind& other) const {
            if (asFace() && other.asFace())
                return asFace()->key == other.asFace()->key;
            return m_value.index() == other.m_value.index();
        }

        bool operator==(const Kind&) const = default;

    private:
        template <typename V> explicit Kind(V value) : m_value(std::move(value)) {}

        std::variant<PillFace, Hover, Mic> m_value;
    };

    std::int64_t id = 0;
    Kind kind = Kind::mic("", false);
    double delay = 0; // seconds the layer waits before it fades in

    bool operator==(const PillContentLayer&) const = default;
};

} // namespace talverin
