#include "Runtime/SerialQueue.h"

#include <cstdio>
#include <cstdlib>

namespace talverin {

SerialQueue::SerialQueue(std::string label) : m_label(std::move(label)) {
    EventLoop* loop = Runtime::current();
    if (!loop) {
        std::fputs("Runtime: no event loop is installed\n", stderr);
        std::abort();
    }
    m_backend = loop->makeSerialQueue(m_label);
}

SerialQueue::~SerialQueue() = default;

} // namespace talverin
