#pragma once

#include "Talverin/Web/UrlOpening.h"

namespace talverin {

// Opens links with the desktop's default handler for their scheme, through GIO.
class UrlOpeningGio final : public UrlOpening {
public:
    bool open(const std::string& url) override;
};

} // namespace talverin
