#pragma once

#include "TalverinPill/PillMeasure.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace talverin::test {

// A font without a font file: a text measures `advance` points per character (code point) at
// 10 points, growing with the size and, a little, with the weight; digits set tabular are
// wider still. Texts in `widths` measure exactly what it says, before any rounding, so a test
// can put fractions where the layout must round. Every request is recorded.
class PillMeasureFake {
public:
    struct Call {
        std::string text;
        double size;
        double weight;
        bool tabular;
    };

    double advance = 5;
    std::map<std::string, double, std::less<>> widths;
    std::vector<Call> calls;

    // The unrounded width, as the exact table or the per-character rule gives it.
    double rawWidth(std::string_view text, double size, double weight, bool tabular) const {
        if (const auto exact = widths.find(text); exact != widths.end())
            return exact->second;
        double width = 0;
        for (unsigned char byte : text) {
            if ((byte & 0xC0) == 0x80)
                continue; // a continuation byte: the character is already counted
            const bool digit = byte >= '0' && byte <= '9';
            width += advance * (tabular && digit ? 1.2 : 1.0);
        }
        return width * size / 10 * (1 + (weight - 500) / 1000);
    }

    // As a font answers: rounded up to a whole point.
    PillMeasure measure() {
        return [this](std::string_view text, double size, double weight, bool tabular) {
            calls.push_back({std::string(text), size, weight, tabular});
            return std::ceil(rawWidth(text, size, weight, tabular));
        };
    }

    // Without the rounding, for the callers that must round themselves.
    PillMeasure unrounded() {
        return [this](std::string_view text, double size, double weight, bool tabular) {
            calls.push_back({std::string(text), size, weight, tabular});
            return rawWidth(text, size, weight, tabular);
        };
    }
};

} // namespace talverin::test
