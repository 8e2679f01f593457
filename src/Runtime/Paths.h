#pragma once

#include "Runtime/Result.h"

#include <filesystem>

namespace talverin {

enum class PathError {
    NotADirectory, // something other than a folder is in the way
    CreateFailed,  // mkdir failed; the message names the folder and the reason
    ModeFailed,    // the folder exists but could not be made private
};

// The user's folders after the XDG Base Directory rules. A variable that is unset, empty or
// relative is ignored, as the rules require, and the documented default under $HOME is used.
class Paths {
public:
    // $XDG_CONFIG_HOME, else $HOME/.config.
    static std::filesystem::path configHome();
    // $XDG_DATA_HOME, else $HOME/.local/share.
    static std::filesystem::path dataHome();
    // $XDG_STATE_HOME, else $HOME/.local/state.
    static std::filesystem::path stateHome();

    // The application's own folder under each of the above: <base>/Talverin.
    static std::filesystem::path appConfigDir();
    static std::filesystem::path appDataDir();
    static std::filesystem::path appStateDir();

    // Creates the folder and any missing parents with mode 0700 and makes sure the folder
    // itself is 0700, also when it already existed.
    static Result<void, PathError> ensurePrivateDir(const std::filesystem::path& dir);
};

} // namespace talverin
