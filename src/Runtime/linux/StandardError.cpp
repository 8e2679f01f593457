#include "Runtime/StandardError.h"

#include "Runtime/PrivateFile.h"

#include <cerrno>

#include <unistd.h>

namespace talverin {

void StandardError::write(std::string_view text) {
    const int savedErrno = errno;
    PrivateFile::writeAll(STDERR_FILENO, text);
    errno = savedErrno;
}

} // namespace talverin
