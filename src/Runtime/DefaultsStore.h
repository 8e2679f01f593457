#pragma once

#include "Runtime/Result.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace talverin {

enum class DefaultsBackupError {
    NotWritten, // no copy could be made; the message says why
};

// The user defaults: one loose JSON value per key. Every member may be called from any thread.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The stored value, or nothing when the key has none.
    virtual std::optional<nlohmann::json> get(const std::string& key) const = 0;
    // Whether the key has a value.
    virtual bool contains(const std::string& key) const = 0;
    // Stores the value. A store with a file has written it there when this returns, or has
    // logged why it could not; the value is kept either way.
    virtual void set(const std::string& key, nlohmann::json value) = 0;
    // Removes the key's value, if it has one.
    virtual void remove(const std::string& key) = 0;
    // Called before a value that was read from the store is dropped. A store with a file keeps
    // that file as it was loaded, beside it under a name no earlier copy has, and answers the
    // copy's name (the same one again on a later call); when no copy can be made it answers
    // why, and from then on never writes over the file. A store without a file answers "".
    virtual Result<std::string, DefaultsBackupError> keepOriginal() { return std::string(); }
};

// Held in memory only; for tests and for the command-line modes.
class DefaultsStoreMemory final : public DefaultsStore {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override;
    bool contains(const std::string& key) const override;
    void set(const std::string& key, nlohmann::json value) override;
    void remove(const std::string& key) override;

private:
    mutable std::mutex m_mutex;
    nlohmann::json m_values = nlohmann::json::object();
};

enum class DefaultsFileError {
    InvalidJson, // the bytes are not JSON, or there are none
    NotAnObject, // valid JSON, but not an object of keys
};

// One JSON object in a file, normally $XDG_CONFIG_HOME/Talverin/defaults.json. Each change
// replaces the file atomically, so a crash or a kill leaves either the old or the new file.
class DefaultsStoreFile final : public DefaultsStore {
public:
    using LogFunction = std::function<void(const std::string&)>;

    // Loads the file. A missing file is simply empty. A file that cannot be read stays where it
    // is and the store starts empty and never saves over it. A file that reads but is not an
    // object of keys is set aside beside it under a name that no earlier one has
    // (defaults.corrupt-<UTC time>[-n].json) and the store starts empty. Each of these is one
    // log line, to logFunction, which becomes onLog, or else to standard error.
    explicit DefaultsStoreFile(std::filesystem::path file, LogFunction logFunction = {});

    // Where the application keeps its defaults.
    static std::filesystem::path defaultPath();
    // The parser the loader uses: the object of keys, or why the bytes are not one.
    static Result<nlohmann::json, DefaultsFileError> parse(std::string_view bytes);

    std::optional<nlohmann::json> get(const std::string& key) const override;
    bool contains(const std::string& key) const override;
    void set(const std::string& key, nlohmann::json value) override;
    void remove(const std::string& key) override;
    // The copy is named like a file that is set aside: defaults.corrupt-<UTC time>[-n].json.
    Result<std::string, DefaultsBackupError> keepOriginal() override;

    // Receives each log line, on the thread that caused it. Replace it only before the store
    // is shared with other threads.
    LogFunction onLog;

private:
    void load();
    void removeLeftoverTempFiles() const;
    void setAside(const std::string& reason);
    // Writes the values as they are now unless a later writer already has.
    void persist(std::uint64_t generation);
    // Replaces the file with these bytes; answers why when it could not.
    std::optional<std::string> replaceFile(const std::string& bytes) const;
    void log(const std::string& line) const;

    const std::filesystem::path m_file;
    // m_mutex guards the values and is held only briefly; m_writeMutex orders the writers so
    // that readers never wait for the disk.
    mutable std::mutex m_mutex;
    std::mutex m_writeMutex;
    nlohmann::json m_values = nlohmann::json::object();
    // Every change counts up m_generation; m_savedGeneration is the last one known on disk.
    std::uint64_t m_generation = 0;
    std::uint64_t m_savedGeneration = 0;
    // The bytes of the file as it was loaded, until keepOriginal has kept them (guarded by
    // m_writeMutex, as is m_keptName).
    std::string m_loadedBytes;
    std::optional<std::string> m_keptName;
    // False when the file could not be read, or was corrupt and could not be set aside, or its
    // original could not be kept: it must not be overwritten.
    std::atomic<bool> m_mayWrite = true;
};

} // namespace talverin
