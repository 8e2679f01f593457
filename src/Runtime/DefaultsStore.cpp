#include "Runtime/DefaultsStore.h"

#include "Runtime/Paths.h"
#include "Runtime/PrivateFile.h"
#include "Runtime/StandardError.h"

#include <cerrno>
#include <system_error>

namespace talverin {
namespace {

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

void logToStandardError(const std::string& line) {
    StandardError::write(line + "\n");
}

} // namespace

std::optional<nlohmann::json> DefaultsStoreMemory::get(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return *found;
}

bool DefaultsStoreMemory::contains(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.contains(key);
}

void DefaultsStoreMemory::set(const std::string& key, nlohmann::json value) {
    std::lock_guard lock(m_mutex);
    m_values[key] = std::move(value);
}

void DefaultsStoreMemory::remove(const std::string& key) {
    std::lock_guard lock(m_mutex);
    m_values.erase(key);
}

DefaultsStoreFile::DefaultsStoreFile(std::filesystem::path file, LogFunction logFunction)
    : onLog(logFunction ? std::move(logFunction) : LogFunction(&logToStandardError)),
      m_file(std::move(file)) {
    load();
}

std::filesystem::path DefaultsStoreFile::defaultPath() {
    return Paths::appConfigDir() / "defaults.json";
}

Result<nlohmann::json, DefaultsFileError> DefaultsStoreFile::parse(std::string_view bytes) {
    if (bytes.empty())
        return fail(DefaultsFileError::InvalidJson, "the file is empty");
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(bytes.begin(), bytes.end());
    } catch (const nlohmann::json::parse_error& error) {
        return fail(DefaultsFileError::InvalidJson,
                    "invalid JSON at byte " + std::to_string(error.byte));
    } catch (const std::exception&) {
        return fail(DefaultsFileError::InvalidJson, "invalid JSON");
    }
    if (!value.is_object())
        return fail(DefaultsFileError::NotAnObject, "not a JSON object");
    return value;
}

std::optional<nlohmann::json> DefaultsStoreFile::get(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return *found;
}

bool DefaultsStoreFile::contains(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.contains(key);
}

void DefaultsStoreFile::set(const std::string& key, nlohmann::json value) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_values.find(key);
        if (found != m_values.end() && *found == value) {
            if (m_savedGeneration == m_generation)
                return;
            // An earlier save failed: try again, since the caller expects the disk to agree.
            generation = m_generation;
        } else {
            m_values[key] = std::move(value);
            generation = ++m_generation;
        }
    }
    persist(generation);
}

void DefaultsStoreFile::remove(const std::string& key) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_values.erase(key) > 0)
            generation = ++m_generation;
        else if (m_savedGeneration == m_generation)
            return;
        else
            generation = m_generation;
    }
    persist(generation);
}

void DefaultsStoreFile::load() {
    removeLeftoverTempFiles();
    PrivateFile::Contents read = PrivateFile::read(m_file);
    // Only a file that is not there is an empty store. One that is there but cannot be read
    // (no permission, an I/O error, a folder in its place) may still hold the user's consent,
    // rules and words: it stays untouched, and this run neither moves nor overwrites it.
    if (read.error == ENOENT || read.error == ENOTDIR)
        return;
    if (read.error != 0) {
        m_mayWrite = false;
        log("Defaults: could not read " + m_file.filename().string() + " (" +
            errnoText(read.error) + "): left in place; changes will not be saved");
        return;
    }
    auto parsed = parse(read.bytes);
    if (!parsed) {
        setAside(parsed.message());
        return;
    }
    m_values = std::move(parsed).value();
    m_loadedBytes = std::move(read.bytes);
}

Result<std::string, DefaultsBackupError> DefaultsStoreFile::keepOriginal() {
    std::lock_guard writing(m_writeMutex);
    if (m_keptName)
        return *m_keptName;
    if (!m_mayWrite)
        return fail(DefaultsBackupError::NotWritten, "the file is not written to in this run");
    // No file was loaded: there is nothing the user had that could be lost.
    if (m_loadedBytes.empty())
        return std::string();
    const PrivateFile::Aside copy = PrivateFile::keepCopy(m_file, m_loadedBytes);
    if (copy.error != 0) {
        // The file is all that holds the dropped values: never write over it.
        m_mayWrite = false;
        return fail(DefaultsBackupError::NotWritten, errnoText(copy.error));
    }
    m_keptName = copy.path.filename().string();
    m_loadedBytes.clear();
    m_loadedBytes.shrink_to_fit();
    return *m_keptName;
}

void DefaultsStoreFile::removeLeftoverTempFiles() const {
    // A write that was killed before its rename leaves its temporary file behind.
    PrivateFile::removeLeftovers(m_file);
}

void DefaultsStoreFile::setAside(const std::string& reason) {
    const std::string name = m_file.filename().string();
    const PrivateFile::Aside aside = PrivateFile::setAside(m_file);
    if (aside.error == 0) {
        log("Defaults: could not read " + name + " (" + reason + "): set aside as " +
            aside.path.filename().string());
        return;
    }
    // The unreadable file may still hold what the user cares about: never write over it.
    m_mayWrite = false;
    log("Defaults: could not read " + name + " (" + reason + ") nor set it aside (" +
        errnoText(aside.error) + "): changes will not be saved");
}

void DefaultsStoreFile::persist(std::uint64_t generation) {
    if (!m_mayWrite)
        return;
    std::optional<std::string> failure;
    {
        std::lock_guard writing(m_writeMutex);
        std::string bytes;
        std::uint64_t snapshot = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_savedGeneration >= generation)
                return;
            // Ill-formed UTF-8 in a value becomes U+FFFD rather than an exception.
            bytes = m_values.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            snapshot = m_generation;
        }
        failure = replaceFile(bytes);
        if (!failure) {
            std::lock_guard lock(m_mutex);
            m_savedGeneration = snapshot;
        }
    }
    if (failure)
        log("Defaults: could not save " + m_file.filename().string() + " (" + *failure + ")");
}

std::optional<std::string> DefaultsStoreFile::replaceFile(const std::string& bytes) const {
    // Made here first so that a folder that cannot be made is named in the log line.
    const auto folder =
        m_file.has_parent_path() ? m_file.parent_path() : std::filesystem::path(".");
    if (auto made = Paths::ensurePrivateDir(folder); !made)
        return made.message();
    if (const int error = PrivateFile::replace(m_file, bytes); error != 0)
        return errnoText(error);
    return std::nullopt;
}

void DefaultsStoreFile::log(const std::string& line) const {
    if (onLog)
        onLog(line);
}

} // namespace talverin
