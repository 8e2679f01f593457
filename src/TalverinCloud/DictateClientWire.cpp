// The bytes of a dictate request and the reading of the server's answers.
#include "TalverinCloud/DictateClient.h"

#include "Runtime/Unicode.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <unicode/ubrk.h>
#include <unicode/utext.h>

namespace talverin {
namespace {

using Json = nlohmann::json;

struct BreakCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// The byte offsets of the grapheme cluster boundaries of a UTF-8 text, 0 and its length
// included. An ill-formed sequence counts as one character, as it would after repair.
std::vector<std::size_t> characterBoundaries(const std::string& text) {
    std::vector<std::size_t> boundaries;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, TextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<UBreakIterator, BreakCloser> iterator(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    if (U_SUCCESS(status))
        ubrk_setUText(iterator.get(), utext.get(), &status);
    if (U_FAILURE(status)) {
        // Without ICU's rules every byte counts; the cut is then never longer than asked.
        for (std::size_t i = 0; i <= text.size(); ++i)
            boundaries.push_back(i);
        return boundaries;
    }
    for (int32_t at = ubrk_first(iterator.get()); at != UBRK_DONE; at = ubrk_next(iterator.get()))
        boundaries.push_back(static_cast<std::size_t>(at));
    if (boundaries.empty() || boundaries.back() != text.size())
        boundaries.push_back(text.size());
    return boundaries;
}

const Json* member(const Json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::string> stringMember(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get<std::string>();
}

Json parseObject(const DictateClient::Bytes& body) {
    Json json = Json::parse(body.begin(), body.end(), nullptr, false);
    return json.is_object() ? json : Json();
}

bool isEditFailed(const std::string& word) {
    const std::string lower = Unicode::lower(word);
    return lower == "edit-failed" || lower == "editfailed" || lower == "edit_failed";
}

// A code the server may name: 1 to 40 of a-z, 0-9, "_" and "-".
bool isCodeWord(const std::string& text) {
    if (text.empty() || text.size() > 40)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

} // namespace

std::string DictateClient::prefixCharacters(const std::string& text, std::size_t count) {
    const auto boundaries = characterBoundaries(text);
    if (boundaries.size() - 1 <= count)
        return text;
    return text.substr(0, boundaries[count]);
}

std::string DictateClient::suffixCharacters(const std::string& text, std::size_t count) {
    const auto boundaries = characterBoundaries(text);
    if (boundaries.size() - 1 <= count)
        return text;
    return text.substr(boundaries[boundaries.size() - 1 - count]);
}

DictateClient::Meta DictateClient::meta(const DictateRequest& request) {
    return Meta{request.languages,
                std::string(toString(request.mode)),
                request.appName,
                suffixCharacters(request.before, beforeCharacters),
                prefixCharacters(request.after, afterCharacters),
                request.selection,
                request.words,
                Backend::clientInfo()};
}

DictateClient::Bytes DictateClient::metaJson(const Meta& meta) {
    // nlohmann's objects keep their keys sorted, and it never escapes "/".
    Json json = {{"languages", meta.languages}, {"mode", meta.mode},
                 {"appName", meta.appName},     {"before", meta.before},
                 {"after", meta.after},         {"selection", meta.selection},
                 {"words", meta.words},         {"client", meta.client}};
    try {
        // Text read from other applications may hold ill-formed UTF-8; each bad sequence is
        // sent as U+FFFD rather than losing the whole context.
        const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
        return Bytes(text.begin(), text.end());
    } catch (const Json::exception&) {
        return Bytes{'{', '}'};
    }
}

Multipart DictateClient::form(const DictateRequest& request, Multipart::UuidSource uuids) {
    Multipart multipart(std::move(uuids));
    multipart.add("meta", std::nullopt, "application/json", metaJson(meta(request)));
    const bool wav = request.clip.size() >= 4 &&
                     std::equal(request.clip.begin(), request.clip.begin() + 4, "RIFF");
    multipart.add("audio", wav ? "clip.wav" : "clip.ogg", wav ? "audio/wav" : "audio/ogg",
                  request.clip);
    return multipart;
}

DictateClient::Answer DictateClient::answer(const Bytes& body) {
    const Json json = parseObject(body);
    if (!json.is_object())
        return DictateError::server(200);
    auto text = stringMember(json, "text");
    if (!text)
        return DictateError::server(200);
    const auto flags = flagNames(member(json, "flags"));
    if (std::any_of(flags.begin(), flags.end(), isEditFailed))
        return DictateError::editFailed();
    DictateResult result;
    result.raw = stringMember(json, "raw").value_or(*text);
    result.text = std::move(*text);
    const Json* ms = member(json, "ms");
    auto milliseconds = number(ms);
    if (!milliseconds && ms && ms->is_object())
        milliseconds = number(member(*ms, "total"));
    result.ms = milliseconds.value_or(0);
    result.language = stringMember(json, "lang");
    return result;
}

std::vector<std::string> DictateClient::flagNames(const Json* value) {
    std::vector<std::string> names;
    if (!value)
        return names;
    if (value->is_array()) {
        for (const auto& element : *value)
            if (element.is_string())
                names.push_back(element.get<std::string>());
    } else if (value->is_object()) {
        for (const auto& [key, flag] : value->items()) {
            const bool set = (flag.is_boolean() && flag.get<bool>()) ||
                             (flag.is_string() && !flag.get_ref<const std::string&>().empty());
            if (set)
                names.push_back(key);
        }
    }
    return names;
}

std::optional<std::int64_t> DictateClient::number(const Json* value) {
    if (!value || !value->is_number())
        return std::nullopt;
    const double number = value->get<double>();
    if (!std::isfinite(number) || std::fabs(number) >= 1'000'000'000.0)
        return std::nullopt;
    // std::round rounds halves away from zero.
    return static_cast<std::int64_t>(std::round(number));
}

std::optional<std::string> DictateClient::stageDiagnostics(const Bytes& body, int status) {
    if (status != 200 && status != 504)
        return std::nullopt;
    const Json json = parseObject(body);
    if (!json.is_object())
        return std::nullopt;
    const Json* timings = member(json, "ms");
    if (timings && !timings->is_object())
        timings = nullptr;
    const auto duration = [&](const char* key) -> std::string {
        const auto value = timings ? number(member(*timings, key)) : std::nullopt;
        return value && *value >= 0 ? std::to_string(*value) + " ms" : "unavailable";
    };
    if (status == 504) {
        if (stringMember(json, "code") != "timeout")
            return std::nullopt;
        return "dictate stages: Whisper " + duration("asr") +
               " (timeout), Gemini not run, fix not run";
    }
    const Json* flagsValue = member(json, "flags");
    const auto flags = flagNames(flagsValue);
    const auto has = [&](const char* name) {
        return std::find(flags.begin(), flags.end(), name) != flags.end();
    };
    std::string verdict = "unknown";
    if (has("fixed")) {
        verdict = "applied";
    } else if (has("silence")) {
        verdict = "skipped (silence)";
    } else if (flagsValue && flagsValue->is_object()) {
        const auto fallback = stringMember(*flagsValue, "fallback");
        const auto skipped = stringMember(*flagsValue, "skipped");
        if (fallback == "timeout") {
            verdict = "timeout";
        } else if (fallback == "guard") {
            verdict = "rejected by guard";
        } else if (fallback == "upstream" || fallback == "busy" || fallback == "blocked" ||
                   fallback == "bad-answer") {
            verdict = "provider failure";
        } else if (skipped == "late") {
            verdict = "skipped (deadline)";
        } else if (skipped == "off") {
            verdict = "skipped (disabled)";
        } else if (skipped == "verbatim") {
            verdict = "skipped (verbatim)";
        } else if (skipped == "short") {
            verdict = "skipped (short)";
        }
    }
    return "dictate stages: Whisper " + duration("asr") + ", Gemini " + duration("fix") + ", fix " +
           verdict;
}

std::optional<std::string> DictateClient::errorCode(const Bytes& body) {
    const Json json = parseObject(body);
    if (!json.is_object())
        return std::nullopt;
    for (const char* key : {"code", "error"}) {
        auto value = stringMember(json, key);
        if (value && isCodeWord(*value))
            return value;
    }
    return std::nullopt;
}

} // namespace talverin
