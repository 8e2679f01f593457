#pragma once

#include "Talverin/Web/WebPage.h"

#include <string>
#include <vector>

namespace talverin::test {

// A page that keeps every script it was given and counts the removals of its handler.
class WebPageFake final : public WebPage {
public:
    std::vector<std::string> scripts;
    int handlerRemovals = 0;

    void evaluate(const std::string& script) override { scripts.push_back(script); }
    void removeMessageHandler() override { ++handlerRemovals; }
};

} // namespace talverin::test
