#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace talverin::test {

StderrCapture::StderrCapture() {
    m_capture = ::memfd_create("stderr-capture", MFD_CLOEXEC);
    // A memfd shares one file offset without the lock that regular files take, so writes of
    // several threads would overwrite each other; appending keeps every line.
    if (m_capture >= 0)
        ::fcntl(m_capture, F_SETFL, O_APPEND);
    m_saved = ::dup(STDERR_FILENO);
    if (m_capture < 0 || m_saved < 0 || ::dup2(m_capture, STDERR_FILENO) < 0)
        ADD_FAILURE() << "could not redirect standard error";
}

StderrCapture::~StderrCapture() {
    if (m_saved >= 0) {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    if (m_capture >= 0)
        ::close(m_capture);
}

std::string StderrCapture::text() const {
    std::string text;
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(m_capture, buffer, sizeof buffer, offset);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        offset += got;
    }
    return text;
}

} // namespace talverin::test
