#pragma once

#include "Runtime/Task.h"

#include <cstdint>
#include <map>
#include <memory>

namespace talverin {

// The background flows of one object (a renewal, a warm-up, a dictate request): each is
// started at once and kept until it ends. Destroying the set destroys the flows that are
// still suspended, so none outlives the object whose members it uses. Main thread only.
class OwnedTasks {
public:
    OwnedTasks() = default;
    OwnedTasks(const OwnedTasks&) = delete;
    OwnedTasks& operator=(const OwnedTasks&) = delete;
    ~OwnedTasks() {
        *m_alive = false;
        // Moved out first: a frame's destruction must not find itself half-erased.
        auto tasks = std::move(m_tasks);
        tasks.clear();
    }

    void spawn(Task<void> task) {
        const std::uint64_t id = m_next++;
        auto& slot = m_tasks[id] = std::move(task);
        // The end is heard through the main queue, never from inside the frame, so the
        // finished task is destroyed outside it.
        slot.start([this, id, alive = m_alive] {
            if (*alive)
                m_tasks.erase(id);
        });
    }

    std::size_t size() const { return m_tasks.size(); }

private:
    std::map<std::uint64_t, Task<void>> m_tasks;
    std::uint64_t m_next = 1;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace talverin
