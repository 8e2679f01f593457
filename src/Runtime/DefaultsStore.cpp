#include "Runtime/DefaultsStore.h"

#include "Runtime/Paths.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talverin {
namespace {

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The log of last resort: one write(2) per line, so that lines of several threads do not mix.
void logToStandardError(const std::string& line) {
    const int savedErrno = errno;
    writeAll(STDERR_FILENO, line + "\n");
    errno = savedErrno;
}

struct ReadResult {
    std::string bytes;
    int error = 0;
};

ReadResult readWholeFile(const std::filesystem::path& file) {
    ReadResult result;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            result.bytes.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            result.error = errno;
            break;
        }
    }
    ::close(fd);
    return result;
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// A rename only lasts through a power cut once the folder's own entry has reached the disk.
std::optional<std::string> syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errnoText(errno);
    std::optional<std::string> failure;
    if (::fsync(fd) != 0)
        failure = errnoText(errno);
    ::close(fd);
    return failure;
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
    ReadResult read = readWholeFile(m_file);
    if (read.error == ENOENT || read.error == ENOTDIR)
        return;
    if (read.error != 0) {
        setAside(errnoText(read.error));
        return;
    }
    auto parsed = parse(read.bytes);
    if (!parsed) {
        setAside(parsed.message());
        return;
    }
    m_values = std::move(parsed).value();
}

void DefaultsStoreFile::removeLeftoverTempFiles() const {
    // A write that was killed before its rename leaves its temporary file behind.
    const std::string prefix = m_file.filename().string() + ".tmp.";
    std::error_code error;
    for (std::filesystem::directory_iterator it(folderOf(m_file), error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().starts_with(prefix))
            ::unlink(it->path().c_str());
    }
}

void DefaultsStoreFile::setAside(const std::string& reason) {
    const std::string name = m_file.filename().string();
    std::filesystem::path corrupt = m_file;
    corrupt.replace_filename(m_file.stem().string() + ".corrupt" + m_file.extension().string());
    if (::rename(m_file.c_str(), corrupt.c_str()) == 0) {
        log("Defaults: could not read " + name + " (" + reason + "): set aside as " +
            corrupt.filename().string());
        return;
    }
    // The unreadable file may still hold what the user cares about: never write over it.
    const int error = errno;
    m_mayWrite = false;
    log("Defaults: could not read " + name + " (" + reason + ") nor set it aside (" +
        errnoText(error) + "): changes will not be saved");
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
    const std::filesystem::path folder = folderOf(m_file);
    if (auto made = Paths::ensurePrivateDir(folder); !made)
        return made.message();
    std::string tempPath = (folder / (m_file.filename().string() + ".tmp.XXXXXX")).string();
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600: nothing existing is followed or
    // reused, and no other user can read the values while they are written.
    const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0)
        return errnoText(errno);
    int error = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(tempPath.c_str(), m_file.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return errnoText(error);
    }
    return syncFolder(folder);
}

void DefaultsStoreFile::log(const std::string& line) const {
    if (onLog)
        onLog(line);
}

} // namespace talverin
