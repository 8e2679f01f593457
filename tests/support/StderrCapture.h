#pragma once

#include <string>

namespace talverin::test {

// Sends file descriptor 2 into a private in-memory file while it lives, and puts the real
// standard error back afterwards. Reads see every byte written so far, by any thread.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() const;

private:
    int m_capture = -1;
    int m_saved = -1;
};

} // namespace talverin::test
