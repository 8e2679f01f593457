#pragma once

#include "Runtime/Result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace talverin {

enum class BundleError {
    NotFound,   // no Info.json in the folder
    Unreadable, // the file exists but could not be read
    InvalidJson // the file is not a JSON object
};

// The application's bundle: the resources folder with its Info.json, which holds the
// application's identifier, its version and the build's backend settings. Everything that
// names the application or reads those settings asks here, so they are written in one place.
class Bundle {
public:
    // The identifier of a process that runs without its bundle (a tool started from elsewhere).
    static constexpr std::string_view fallbackIdentifier = "talverin";

    // A bundle without a folder and without information: every value is absent.
    Bundle() = default;

    // Reads the bundle in `folder`.
    static Result<Bundle, BundleError> load(std::filesystem::path folder);
    // A bundle over the given information, for tests.
    static Bundle withInfo(nlohmann::json info, std::filesystem::path folder = {});

    // Any thread. The running program's bundle, found once from /proc/self/exe; an empty
    // bundle when none is found.
    static const Bundle& main();
    // The bundle folder of a program at `executable`: "share/talverin" in the nearest folder
    // above it that has one with an Info.json. That is ../share/talverin of an installed
    // binary and <build>/share/talverin of every program in the build tree.
    static std::optional<std::filesystem::path> locate(const std::filesystem::path& executable);

    const std::filesystem::path& folder() const { return m_folder; }
    // The value under `key` when it is a string.
    std::optional<std::string> string(std::string_view key) const;
    // The value under `key` when it is a Boolean.
    std::optional<bool> boolean(std::string_view key) const;
    // "CFBundleIdentifier", or `fallbackIdentifier` when the bundle has none.
    std::string identifier() const;
    // "CFBundleShortVersionString" when it is a string, else absent.
    std::optional<std::string> shortVersion() const;
    // The path of a resource inside the bundle, such as "sounds/start.wav".
    std::filesystem::path resource(std::string_view relative) const;

private:
    Bundle(nlohmann::json info, std::filesystem::path folder)
        : m_info(std::move(info)), m_folder(std::move(folder)) {}

    nlohmann::json m_info = nlohmann::json::object();
    std::filesystem::path m_folder;
};

} // namespace talverin
