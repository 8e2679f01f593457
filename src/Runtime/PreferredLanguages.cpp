#include "Runtime/PreferredLanguages.h"

#include <cstdlib>

namespace talverin {

std::vector<std::string> PreferredLanguages::current() {
    return from([](const char* name) { return std::getenv(name); });
}

std::vector<std::string> PreferredLanguages::from(const Lookup& lookup) {
    auto setValue = [&](const char* name) -> std::string {
        const char* value = lookup(name);
        return value ? std::string(value) : std::string();
    };
    std::vector<std::string> tags;
    auto add = [&](const std::string& name) {
        std::string tag = tagOf(name);
        if (!tag.empty()) tags.push_back(tag);
    };
    // LANGUAGE is a priority list that only gettext reads; an empty value counts as unset.
    if (std::string list = setValue("LANGUAGE"); !list.empty()) {
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            add(list.substr(start, end - start));
            start = end + 1;
        }
        if (!tags.empty()) return tags;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = setValue(name);
        if (value.empty()) continue;
        add(value);
        break;
    }
    return tags;
}

std::string PreferredLanguages::tagOf(const std::string& localeName) {
    std::string name = localeName.substr(0, localeName.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return {};
    for (char& c : name) {
        if (c == '_') c = '-';
    }
    return name;
}

} // namespace talverin
