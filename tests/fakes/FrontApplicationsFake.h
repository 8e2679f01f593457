#pragma once

#include "Talverin/App/FrontApplications.h"

#include <optional>
#include <set>
#include <vector>

namespace talverin::test {

// A desktop where the test says which application is in front; an activation brings it there
// and is recorded.
class FrontApplicationsFake final : public FrontApplications {
public:
    std::optional<RunningApp> front;
    std::vector<RunningApp> activated;
    std::set<std::int32_t> ended;

    std::optional<std::string> unavailableReason() const override { return std::nullopt; }
    std::optional<RunningApp> frontmost() override { return front; }
    void activate(const RunningApp& app) override { activated.push_back(app); }
    bool hasTerminated(const RunningApp& app) override { return ended.count(app.pid) > 0; }
};

} // namespace talverin::test
