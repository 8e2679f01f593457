#pragma once

#include "TalverinCore/ElementToken.h"
#include "TalverinInsert/AccessibilityBackend.h"
#include "TalverinInsert/linux/AtspiBus.h"

#include <atomic>
#include <map>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One element as the backend hands it out. Two handles are one element when their bus name
// and object path agree; the system-wide element has neither.
class AtspiHandle final : public ElementHandle {
public:
    explicit AtspiHandle(AtspiObject object) : object(std::move(object)) {}

    bool sameElement(const ElementHandle& other) const override {
        const auto* handle = dynamic_cast<const AtspiHandle*>(&other);
        return handle && handle->object == object;
    }
    bool isSystemWide() const { return object.empty(); }

    const AtspiObject object;
    // The messaging timeout every call on this element waits at most, in seconds.
    mutable std::atomic<float> timeout{0};
};

// A series of questions to one application, each bounded by the same timeout. The first
// failure that says the application did not answer is kept, and after it nothing more is asked:
// a target that stopped costs one timeout, not one per question.
class AtspiReader {
public:
    AtspiReader(AtspiBus& bus, int timeoutMs) : m_bus(bus), m_timeoutMs(timeoutMs) {}

    bool stalled() const { return m_failure == AtspiBus::Failure::noAnswer; }
    AtspiBus::Failure failure() const { return m_failure; }
    int timeoutMs() const { return m_timeoutMs; }
    AtspiBus& bus() { return m_bus; }
    // Forgets a failure that did not stall the series, once the caller has taken its meaning.
    void forgetFailure() {
        if (!stalled())
            m_failure = AtspiBus::Failure::none;
    }

    AtspiBus::Reply call(const AtspiObject& object, const char* interface, const char* method,
                         GVariant* parameters, const char* replyType);
    AtspiBus::Reply property(const AtspiObject& object, const char* interface, const char* name);
    // Asks in one batch what reading an element's attributes needs (role, states, text counts,
    // caret, selection, extents, parent); later questions of this series find the answers here.
    void prefetchElement(const AtspiObject& object);

    // The element's states as its application holds them now; nothing when it did not say.
    std::optional<std::uint64_t> states(const AtspiObject& object);
    bool hasState(const AtspiObject& object, int state);
    std::optional<std::uint32_t> role(const AtspiObject& object);
    AtspiObject parent(const AtspiObject& object);
    std::vector<AtspiObject> children(const AtspiObject& object);

private:
    struct Remembered {
        AtspiBus::Failure failure;
        GVariantPtr value;
    };
    AtspiBus::Reply note(AtspiBus::Reply reply);
    void prefetch(std::vector<AtspiBus::Request> requests);
    void remember(const std::string& key, const AtspiBus::Reply& reply);

    AtspiBus& m_bus;
    int m_timeoutMs;
    AtspiBus::Failure m_failure = AtspiBus::Failure::none;
    // The answers of this series by question: one reading sees one state of the element, and
    // asks nothing twice.
    std::map<std::string, Remembered> m_answers;
};

// The attribute an element answers under the names the context reader and the inserter use.
AXReply<AXAttributeValue> atspiAttribute(AtspiReader& reader, const AtspiObject& object,
                                         const std::string& name);
// The text of a range in UTF-16 units.
AXReply<AXAttributeValue> atspiStringForRange(AtspiReader& reader, const AtspiObject& object,
                                              AXRange range);
AXReply<bool> atspiIsSettable(AtspiReader& reader, const AtspiObject& object,
                              const std::string& name);
int atspiWrite(AtspiReader& reader, const AtspiObject& object, const std::string& name,
               const AXAttributeValue& value);
// The window (frame, dialog) that holds the element; empty when none.
AtspiObject atspiWindowOf(AtspiReader& reader, const AtspiObject& object);
// The error code that a reader's failure stands for.
int atspiErrorOf(const AtspiReader& reader);

} // namespace talverin
