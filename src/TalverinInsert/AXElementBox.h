#pragma once

#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/Editability.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// The focused element as the context reader found it, carried in an ElementToken. Two boxes
// are the same element when their elements are, whatever else was read with them.
class AXElementBox final : public ElementHandle {
public:
    AXElementBox(AXElement element, std::int32_t pid, std::optional<std::string> role,
                 Editability editability, std::optional<std::int64_t> insertionOffset,
                 bool webEngine)
        : element(std::move(element)), pid(pid), role(std::move(role)), editability(editability),
          insertionOffset(insertionOffset), webEngine(webEngine) {}

    const AXElement element;
    const std::int32_t pid;
    const std::optional<std::string> role;
    const Editability editability;
    // The caret in UTF-16 units when nothing was selected.
    const std::optional<std::int64_t> insertionOffset;
    // The owning application runs a Chromium or Electron engine.
    const bool webEngine;

    bool sameElement(const ElementHandle& other) const override {
        const auto* box = dynamic_cast<const AXElementBox*>(&other);
        if (!box)
            return false;
        if (element == box->element)
            return true;
        return element && box->element && element->sameElement(*box->element);
    }
};

} // namespace talverin
