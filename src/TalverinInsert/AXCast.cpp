#include "TalverinInsert/AXCast.h"

namespace talverin::AXCast {

namespace {

template <typename T> std::optional<T> as(const std::optional<AXAttributeValue>& value) {
    if (!value)
        return std::nullopt;
    if (const T* found = std::get_if<T>(&*value))
        return *found;
    return std::nullopt;
}

} // namespace

std::optional<AXAttributeValue> find(const std::map<std::string, AXAttributeValue>& values,
                                     const std::string& name) {
    auto it = values.find(name);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}

std::optional<Point> point(const std::optional<AXAttributeValue>& value) {
    return as<Point>(value);
}

std::optional<Size> size(const std::optional<AXAttributeValue>& value) {
    return as<Size>(value);
}

std::optional<AXRange> range(const std::optional<AXAttributeValue>& value) {
    return as<AXRange>(value);
}

std::optional<std::string> string(const std::optional<AXAttributeValue>& value) {
    return as<std::string>(value);
}

std::optional<std::int64_t> number(const std::optional<AXAttributeValue>& value) {
    return as<std::int64_t>(value);
}

AXElement element(const std::optional<AXAttributeValue>& value) {
    return as<AXElement>(value).value_or(nullptr);
}

} // namespace talverin::AXCast
