#pragma once

#include "Talverin/Web/UrlOpening.h"

#include <string>
#include <vector>

namespace talverin::test {

// Keeps every link it was asked to open; opens none, so tests never start a browser.
class UrlOpeningFake final : public UrlOpening {
public:
    std::vector<std::string> opened;
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
};

} // namespace talverin::test
