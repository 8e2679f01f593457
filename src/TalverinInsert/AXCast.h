#pragma once

#include "TalverinInsert/AccessibilityBackend.h"

#include <map>
#include <optional>
#include <string>

namespace talverin {

// Unpacks attribute values of one shape; anything else, or nothing, gives nothing.
namespace AXCast {

// One value of a multi-attribute read; nothing when it was not read.
std::optional<AXAttributeValue> find(const std::map<std::string, AXAttributeValue>& values,
                                     const std::string& name);

std::optional<Point> point(const std::optional<AXAttributeValue>& value);
std::optional<Size> size(const std::optional<AXAttributeValue>& value);
std::optional<AXRange> range(const std::optional<AXAttributeValue>& value);

// The same for the plain kinds the readers look at.
std::optional<std::string> string(const std::optional<AXAttributeValue>& value);
std::optional<std::int64_t> number(const std::optional<AXAttributeValue>& value);
AXElement element(const std::optional<AXAttributeValue>& value);

} // namespace AXCast

} // namespace talverin
