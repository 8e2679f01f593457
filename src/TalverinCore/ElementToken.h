#pragma once

#include <memory>

namespace talverin {

// One accessibility element of another application, as the accessibility layer holds it. Only
// that layer knows what makes two handles the same element (on Linux: the same bus name and
// object path), so two handles fetched separately for one element still match.
class ElementHandle {
public:
    virtual ~ElementHandle() = default;
    // Any thread. True when `other` is the same element; false for a handle of another kind.
    // Must be symmetric.
    virtual bool sameElement(const ElementHandle& other) const = 0;
};

// The focused element, carried opaquely from the context reader through the dictation session
// to the inserter and the correction watch, which take their own handle back with as<T>().
class ElementToken {
public:
    explicit ElementToken(std::shared_ptr<const ElementHandle> raw) : m_raw(std::move(raw)) {}

    const std::shared_ptr<const ElementHandle>& raw() const { return m_raw; }

    // The handle as the layer's own type, or null when it is of another kind.
    template <typename Handle> const Handle* as() const {
        return dynamic_cast<const Handle*>(m_raw.get());
    }

    bool operator==(const ElementToken& other) const {
        if (m_raw == other.m_raw)
            return true;
        if (!m_raw || !other.m_raw)
            return false;
        return m_raw->sameElement(*other.m_raw);
    }

private:
    std::shared_ptr<const ElementHandle> m_raw;
};

} // namespace talverin
