#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/EnumTable.h"

#include <concepts>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// The one JSON codec of the program: everything it writes for the pages, for the history file
// and for the settings pages' replies goes through Wire::encoder(), and everything it reads of
// that kind through Wire::decoder(). nlohmann-json does the parsing and printing; this layer
// fixes what the library leaves open or gets wrong for us (key order, slash escaping, numbers
// that are not finite, 32-bit floats, ill-formed UTF-8) and gives every record one place that
// says how it is read and written.
namespace talverin::Wire {

// Why a value could not be written or read.
enum class CodingError {
    invalidValue,  // writing: a floating-point value that is not finite, or nesting too deep
    dataCorrupted, // reading: not JSON, or a value of the right type that means nothing here
                   // (an unknown enumeration string, a malformed date, an unknown kind)
    typeMismatch,  // reading: a value of the wrong JSON type, or a number that does not fit
    keyNotFound,   // reading: a required key is missing
    valueNotFound, // reading: a required value is null
};

template <typename T> using Coded = Result<T, CodingError>;

// The deepest nesting of arrays and objects that is read or written. Our own records nest a
// few levels; the limit keeps hostile input away from recursive code further on.
inline constexpr int maxDepth = 512;

// How one type is written and read. Each codable type specialises Coding with
//     static nlohmann::json encode(const T&);
//     static T decode(const nlohmann::json&);   // throws CodingFailure
// decode may throw CodingFailure, and only decode may. That exception never leaves this module's
// entry points (Encoder, Decoder, decodeValue, object), which turn it into a Coded failure; call
// Coding<T>::decode directly only from inside another Coding's decode.
template <typename T> struct Coding;

template <typename T>
concept Codable = requires(const T& value, const nlohmann::json& json) {
    { Coding<T>::encode(value) } -> std::same_as<nlohmann::json>;
    { Coding<T>::decode(json) } -> std::same_as<T>;
};

// The failure thrown inside a decoding; see Coding.
class CodingFailure final : public std::exception {
public:
    CodingFailure(CodingError error, std::string message)
        : m_error(error), m_message(std::move(message)) {}
    CodingError error() const { return m_error; }
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    CodingError m_error;
    std::string m_message;
};

[[noreturn]] void failCoding(CodingError error, std::string message);

// The JSON type of a value, for error messages ("a string", "null", ...).
std::string describeType(const nlohmann::json& value);

// Reads the keys of one JSON object inside a Coding's decode. Unknown keys are ignored; the
// reader refers to the object, which must outlive it.
class ObjectReader {
public:
    // Throws typeMismatch unless the value is an object.
    explicit ObjectReader(const nlohmann::json& value);
    ObjectReader(nlohmann::json&&) = delete;

    // The value under the key, null included, or nullptr when the key is missing.
    const nlohmann::json* find(std::string_view key) const;

    // A missing key throws keyNotFound, a null throws valueNotFound.
    template <Codable T> T required(std::string_view key) const {
        const nlohmann::json* value = find(key);
        if (value == nullptr)
            failCoding(CodingError::keyNotFound,
                       "no value for the key \"" + std::string(key) + "\"");
        if (value->is_null())
            failCoding(CodingError::valueNotFound, "null for the key \"" + std::string(key) + "\"");
        return Coding<T>::decode(*value);
    }

    // A missing key and a null both read as absent; any other value must decode.
    template <Codable T> std::optional<T> optional(std::string_view key) const {
        const nlohmann::json* value = find(key);
        if (value == nullptr || value->is_null())
            return std::nullopt;
        return Coding<T>::decode(*value);
    }

private:
    const nlohmann::json& m_object;
};

template <Codable T> nlohmann::json encodeValue(const T& value) {
    return Coding<T>::encode(value);
}

// Writes the key only when the value is present: optional fields are left out when absent.
template <Codable T>
void encodeIfPresent(nlohmann::json& object, const char* key, const std::optional<T>& value) {
    if (value)
        object[key] = Coding<T>::encode(*value);
}

// Reads a value from a tree as the decoder does; never throws.
template <Codable T> Coded<T> decodeValue(const nlohmann::json& json) {
    try {
        return Coding<T>::decode(json);
    } catch (const CodingFailure& failure) {
        return fail(failure.error(), failure.message());
    } catch (const std::exception& error) {
        return fail(CodingError::dataCorrupted, std::string(error.what()));
    }
}

// Writes wire JSON: object keys in ascending byte order at every level, compact, "/" escaped as
// "\/", ill-formed UTF-8 replaced by U+FFFD, 32-bit floats in their shortest form (Coding<float>).
// A number that is not finite fails the whole encoding instead of turning into null.
class Encoder {
public:
    template <Codable T> Coded<std::string> encode(const T& value) const {
        try {
            return write(Coding<T>::encode(value));
        } catch (const std::exception& error) {
            return fail(CodingError::invalidValue, std::string(error.what()));
        }
    }

    // Writes a tree that is already built.
    Coded<std::string> write(const nlohmann::json& tree) const;
};

// Reads wire JSON: any JSON text, a bare value at the top included; keys must match exactly,
// unknown keys are ignored, and each type's Coding decides what else is accepted.
class Decoder {
public:
    template <Codable T> Coded<T> decode(std::string_view text) const {
        auto tree = read(text);
        if (!tree)
            return fail(tree.error(), tree.message());
        return decodeValue<T>(*tree);
    }

    // Parses the text into a tree; fails with dataCorrupted when it is not JSON.
    Coded<nlohmann::json> read(std::string_view text) const;
};

// A fresh coder for every call, so that no coder is ever shared between threads.
Encoder encoder();
Decoder decoder();

// The value as the tree of plain JSON values that the pages receive: encoded by the wire
// encoder and read back, so a reply is exactly what the encoder would have written.
template <Codable T> Coded<nlohmann::json> object(const T& value) {
    auto text = encoder().encode(value);
    if (!text)
        return fail(text.error(), text.message());
    return decoder().read(*text);
}

// ---- Codings of the plain types ----

template <> struct Coding<std::string> {
    static nlohmann::json encode(const std::string& value) { return value; }
    static std::string decode(const nlohmann::json& json);
};

template <> struct Coding<bool> {
    static nlohmann::json encode(bool value) { return value; }
    // Only true and false: the numbers 0 and 1 are not flags.
    static bool decode(const nlohmann::json& json);
};

// Whole numbers: only integer literals that fit the type; 3.0 and 1e2 are not integers here.
std::int64_t decodeInteger(const nlohmann::json& json, std::int64_t min, std::int64_t max);

template <typename I>
requires(std::signed_integral<I> && sizeof(I) <= sizeof(std::int64_t)) struct Coding<I> {
    static nlohmann::json encode(I value) { return static_cast<std::int64_t>(value); }
    static I decode(const nlohmann::json& json) {
        return static_cast<I>(
            decodeInteger(json, std::numeric_limits<I>::min(), std::numeric_limits<I>::max()));
    }
};

template <> struct Coding<double> {
    static nlohmann::json encode(double value) { return value; }
    static double decode(const nlohmann::json& json);
};

template <> struct Coding<float> {
    // The shortest decimal that reads back as the same float: 0.3f is written 0.3, not
    // 0.30000001192092896.
    static nlohmann::json encode(float value);
    // A number beyond the float range is a mismatch, not an infinity.
    static float decode(const nlohmann::json& json);
};

// Enumerations are written as their raw strings; an unknown string fails.
template <typename E>
requires HasEnumTable<E>
struct Coding<E> {
    static nlohmann::json encode(E value) { return std::string(toString(value)); }
    static E decode(const nlohmann::json& json) {
        const std::string raw = Coding<std::string>::decode(json);
        if (auto value = fromString<E>(raw))
            return *value;
        failCoding(CodingError::dataCorrupted, "unknown value \"" + raw + "\"");
    }
};

template <Codable T> struct Coding<std::vector<T>> {
    static nlohmann::json encode(const std::vector<T>& values) {
        nlohmann::json array = nlohmann::json::array();
        for (const T& value : values)
            array.push_back(Coding<T>::encode(value));
        return array;
    }
    static std::vector<T> decode(const nlohmann::json& json) {
        if (!json.is_array())
            failCoding(CodingError::typeMismatch, "expected an array, found " + describeType(json));
        std::vector<T> values;
        values.reserve(json.size());
        for (const auto& element : json)
            values.push_back(Coding<T>::decode(element));
        return values;
    }
};

} // namespace talverin::Wire
