#pragma once

#include <functional>
#include <string>
#include <vector>

namespace talverin {

// The user's preferred languages, most preferred first, as language tags ("en-US", "ru",
// "sr-RS"). The pill, the live draft and the shell's texts all read this one list, so they
// always agree on the language.
//
// Linux keeps them in the environment: LANGUAGE (a colon-separated list) when set, otherwise
// the first set value of LC_ALL, LC_MESSAGES and LANG. The codeset (".UTF-8") and the modifier
// ("@latin") are dropped. The "C" and "POSIX" locales name no language: they give an empty list,
// which every caller reads as English.
class PreferredLanguages {
public:
    using Lookup = std::function<const char*(const char* name)>;

    // The list from the process environment, read on every call.
    static std::vector<std::string> current();
    // The list from any lookup of environment variables; a null answer is an unset variable.
    static std::vector<std::string> from(const Lookup& lookup);
    // One locale name as a language tag; empty for "C", "POSIX" and empty names.
    static std::string tagOf(const std::string& localeName);
};

} // namespace talverin
