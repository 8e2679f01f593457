#pragma once

#include "TalverinCore/ElementToken.h"

#include <memory>
#include <string>

namespace talverin::test {

// An accessibility element of the tests: two handles with the same name are the same element,
// as two separately fetched references to one real element are.
class FakeElement final : public ElementHandle {
public:
    explicit FakeElement(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const { return m_name; }

    bool sameElement(const ElementHandle& other) const override {
        const auto* fake = dynamic_cast<const FakeElement*>(&other);
        return fake && fake->m_name == m_name;
    }

    // A token for a fresh handle of the named element.
    static ElementToken token(std::string name) {
        return ElementToken(std::make_shared<FakeElement>(std::move(name)));
    }

private:
    std::string m_name;
};

} // namespace talverin::test
