#include "TalverinAudio/CA.h"

namespace talverin::CA {

std::string fourCC(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<unsigned char>((code >> shift) & 0xff);
        if (c < 32 || c > 126)
            return std::to_string(code);
        text.push_back(static_cast<char>(c));
    }
    return text;
}

} // namespace talverin::CA
