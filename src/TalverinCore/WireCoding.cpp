#include "TalverinCore/WireCoding.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

namespace talverin::Wire {

void failCoding(CodingError error, std::string message) {
    throw CodingFailure(error, std::move(message));
}

std::string describeType(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return "a boolean";
    case nlohmann::json::value_t::string:
        return "a string";
    case nlohmann::json::value_t::array:
        return "an array";
    case nlohmann::json::value_t::object:
        return "an object";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
        return "a number";
    default:
        return "an unknown value";
    }
}

ObjectReader::ObjectReader(const nlohmann::json& value) : m_object(value) {
    if (!value.is_object())
        failCoding(CodingError::typeMismatch, "expected an object, found " + describeType(value));
}

const nlohmann::json* ObjectReader::find(std::string_view key) const {
    auto it = m_object.find(key);
    return it == m_object.end() ? nullptr : &*it;
}

namespace {

// Numbers that are not finite, and nesting deeper than maxDepth, cannot be written: nlohmann
// would print the one as null and overflow the stack on the other.
std::optional<std::string> unwritable(const nlohmann::json& tree) {
    std::vector<std::pair<const nlohmann::json*, int>> pending{{&tree, 0}};
    while (!pending.empty()) {
        auto [value, depth] = pending.back();
        pending.pop_back();
        if (value->is_number_float() && !std::isfinite(value->get<double>()))
            return "a number that is not finite cannot be written as JSON";
        if (value->is_structured()) {
            if (depth >= maxDepth)
                return "arrays and objects nest too deeply";
            for (const auto& element : *value)
                pending.emplace_back(&element, depth + 1);
        }
    }
    return std::nullopt;
}

// nlohmann leaves "/" alone. Outside strings JSON text never holds a slash, so every slash in
// the printed text is inside a string and can be escaped in one pass.
std::string escapeSlashes(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '/')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The deepest nesting of arrays and objects in a JSON text, counted without parsing it.
int nestingDepth(std::string_view text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

} // namespace

Coded<std::string> Encoder::write(const nlohmann::json& tree) const {
    if (auto reason = unwritable(tree))
        return fail(CodingError::invalidValue, *reason);
    // The default object type is a std::map, so keys come out in ascending byte order at every
    // level; -1 is compact output.
    return escapeSlashes(tree.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

Coded<nlohmann::json> Decoder::read(std::string_view text) const {
    if (nestingDepth(text) > maxDepth)
        return fail(CodingError::dataCorrupted, std::string("arrays and objects nest too deeply"));
    nlohmann::json tree = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (tree.is_discarded())
        return fail(CodingError::dataCorrupted, std::string("the text is not valid JSON"));
    return tree;
}

Encoder encoder() {
    return Encoder{};
}

Decoder decoder() {
    return Decoder{};
}

std::string Coding<std::string>::decode(const nlohmann::json& json) {
    if (!json.is_string())
        failCoding(CodingError::typeMismatch, "expected a string, found " + describeType(json));
    return json.get<std::string>();
}

bool Coding<bool>::decode(const nlohmann::json& json) {
    if (!json.is_boolean())
        failCoding(CodingError::typeMismatch, "expected a boolean, found " + describeType(json));
    return json.get<bool>();
}

std::int64_t decodeInteger(const nlohmann::json& json, std::int64_t min, std::int64_t max) {
    if (json.is_number_unsigned()) {
        const auto value = json.get<std::uint64_t>();
        if (value <= static_cast<std::uint64_t>(max))
            return static_cast<std::int64_t>(value);
    } else if (json.is_number_integer()) {
        const auto value = json.get<std::int64_t>();
        if (value >= min && value <= max)
            return value;
    } else {
        failCoding(CodingError::typeMismatch,
                   "expected a whole number, found " +
                       (json.is_number_float() ? "a number with a fraction or an exponent"
                                               : describeType(json)));
    }
    failCoding(CodingError::typeMismatch, "the number " + json.dump() + " does not fit");
}

double Coding<double>::decode(const nlohmann::json& json) {
    if (!json.is_number())
        failCoding(CodingError::typeMismatch, "expected a number, found " + describeType(json));
    return json.get<double>();
}

nlohmann::json Coding<float>::encode(float value) {
    if (!std::isfinite(value))
        return static_cast<double>(value); // the encoder refuses it
    // The shortest decimal that identifies the float, held as the double nearest to that
    // decimal, which nlohmann's shortest double printing then writes back as the same decimal.
    char buffer[64];
    const auto printed = std::to_chars(buffer, buffer + sizeof buffer, value);
    double nearest = value;
    std::from_chars(buffer, printed.ptr, nearest);
    return nearest;
}

float Coding<float>::decode(const nlohmann::json& json) {
    const double value = Coding<double>::decode(json);
    // Converting a double outside the float range is undefined, and no float means 1e300. The
    // largest float is written as 3.4028235e+38, a little above it, so everything that rounds to
    // it is taken as it.
    constexpr double largest = std::numeric_limits<float>::max();
    constexpr double roundsToLargest = 0x1p128 - 0x1p103; // the largest float plus half a step
    if (!(std::fabs(value) < roundsToLargest))
        failCoding(CodingError::typeMismatch,
                   "the number " + json.dump() + " does not fit a float");
    return static_cast<float>(std::clamp(value, -largest, largest));
}

} // namespace talverin::Wire
