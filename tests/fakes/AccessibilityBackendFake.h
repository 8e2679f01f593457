#pragma once

#include "TalverinInsert/AccessibilityBackend.h"
#include "fakes/FakeElement.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talverin::test {

// A desktop of named elements held in memory. Elements are FakeElements: the system-wide
// element is "system", an application's element "app:<pid>". Every call is recorded as
// "<call> <element> <attribute>", and `onCall` runs before each one answers, so a test can move
// its clock (a slow target) or change the tree. Once set up, the tree may be read from several
// threads at once; the records are kept under a lock.
class AccessibilityBackendFake final : public AccessibilityBackend {
public:
    struct Node {
        std::int32_t pid = 0;
        std::map<std::string, AXReply<AXAttributeValue>> attributes;
        std::set<std::string> settable;
        // The answer of a write per attribute; success when not listed.
        std::map<std::string, int> setAnswers;
        // Set: the multi-attribute read fails with this error instead of answering.
        std::optional<int> multiError;
    };
    struct Write {
        std::string element;
        std::string name;
        AXAttributeValue value;
    };

    bool trusted = true;
    std::map<std::string, Node> nodes;
    std::map<std::int32_t, RunningApplication> apps;
    std::optional<std::int32_t> frontmost;
    double displayHeight = 1000;
    // From this many calls on, every call answers as a target that stopped answering.
    std::optional<int> hangAfterCalls;
    std::function<void(const std::string& call)> onCall;
    // Parameterized reads ("AXStringForRange"): the element's name, the attribute, the range.
    std::function<AXReply<AXAttributeValue>(const std::string&, const std::string&, AXRange)>
        parameterized;

    std::vector<std::string> calls;
    std::vector<Write> writes;
    std::vector<std::pair<std::string, float>> timeouts;

    static AXElement element(const std::string& name) {
        return std::make_shared<FakeElement>(name);
    }
    static std::string appName(std::int32_t pid) { return "app:" + std::to_string(pid); }

    Node& node(const std::string& name) { return nodes[name]; }
    void attribute(const std::string& element, const std::string& name, AXAttributeValue value) {
        nodes[element].attributes[name] = {AXError::success, std::move(value)};
    }
    void failing(const std::string& element, const std::string& name, int error) {
        nodes[element].attributes[name] = {error, {}};
    }
    // An application with its element, and the desktop's focus on it.
    void focusApplication(RunningApplication app) {
        const std::string name = appName(app.pid);
        nodes[name].pid = app.pid;
        attribute("system", "AXFocusedApplication", element(name));
        apps[app.pid] = std::move(app);
    }
    // The focused element of the application with that pid.
    void focusElement(std::int32_t pid, const std::string& name) {
        nodes[name].pid = pid;
        attribute(appName(pid), "AXFocusedUIElement", element(name));
    }
    int callCount(const std::string& prefix) const {
        int n = 0;
        for (const auto& call : calls)
            n += call.starts_with(prefix) ? 1 : 0;
        return n;
    }

    bool isProcessTrusted() override { return trusted; }
    AXElement systemWide() override { return element("system"); }
    AXElement applicationElement(std::int32_t pid) override { return element(appName(pid)); }
    std::optional<RunningApplication> frontmostApplication() override {
        if (!frontmost)
            return std::nullopt;
        return runningApplication(*frontmost);
    }
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
        auto it = apps.find(pid);
        if (it == apps.end())
            return std::nullopt;
        return it->second;
    }
    void setMessagingTimeout(const AXElement& e, float seconds) override {
        std::lock_guard lock(m_record);
        timeouts.emplace_back(nameOf(e), seconds);
    }
    AXReply<std::int32_t> pid(const AXElement& e) override {
        auto it = nodes.find(nameOf(e));
        if (it == nodes.end())
            return {AXError::invalidUIElement, 0};
        return {AXError::success, it->second.pid};
    }
    AXReply<AXAttributeValue> copy(const AXElement& e, const std::string& name) override {
        if (auto hung = enter("copy", e, name))
            return {*hung, {}};
        return lookup(e, name);
    }
    AXReply<std::optional<std::vector<AXAttributeValue>>>
    copyMultiple(const AXElement& e, const std::vector<std::string>& names) override {
        std::string joined;
        for (const auto& n : names)
            joined += (joined.empty() ? "" : ",") + n;
        if (auto hung = enter("copyMultiple", e, joined))
            return {*hung, std::nullopt};
        const Node& n = find(e);
        if (n.multiError)
            return {*n.multiError, std::nullopt};
        std::vector<AXAttributeValue> values;
        for (const auto& name : names) {
            auto reply = lookup(e, name);
            values.push_back(reply.ok() ? std::move(reply.value)
                                        : AXAttributeValue(AXUnreadable{reply.error}));
        }
        return {AXError::success, std::move(values)};
    }
    AXReply<AXAttributeValue> copyParameterized(const AXElement& e, const std::string& name,
                                                const AXAttributeValue& parameter) override {
        if (auto hung = enter("copyParameterized", e, name))
            return {*hung, {}};
        const auto* range = std::get_if<AXRange>(&parameter);
        if (!parameterized || !range)
            return {AXError::attributeUnsupported, {}};
        return parameterized(nameOf(e), name, *range);
    }
    AXReply<bool> isSettable(const AXElement& e, const std::string& name) override {
        if (auto hung = enter("isSettable", e, name))
            return {*hung, false};
        return {AXError::success, find(e).settable.contains(name)};
    }
    int set(const AXElement& e, const std::string& name, const AXAttributeValue& value) override {
        if (auto hung = enter("set", e, name))
            return *hung;
        {
            std::lock_guard lock(m_record);
            writes.push_back({nameOf(e), name, value});
        }
        const Node& n = find(e);
        auto it = n.setAnswers.find(name);
        return it == n.setAnswers.end() ? AXError::success : it->second;
    }
    double mainDisplayHeight() override { return displayHeight; }

private:
    std::mutex m_record;

    static std::string nameOf(const AXElement& e) {
        const auto* fake = dynamic_cast<const FakeElement*>(e.get());
        return fake ? fake->name() : std::string("?");
    }
    std::optional<int> enter(const std::string& call, const AXElement& e, const std::string& name) {
        std::string line = call + " " + nameOf(e) + " " + name;
        std::size_t made;
        {
            std::lock_guard lock(m_record);
            calls.push_back(line);
            made = calls.size();
        }
        if (onCall)
            onCall(line);
        if (hangAfterCalls && static_cast<int>(made) > *hangAfterCalls)
            return AXError::cannotComplete;
        return std::nullopt;
    }
    // Reads only, so that reads from several threads may share the tree.
    const Node& find(const AXElement& e) const {
        static const Node none;
        auto it = nodes.find(nameOf(e));
        return it == nodes.end() ? none : it->second;
    }
    AXReply<AXAttributeValue> lookup(const AXElement& e, const std::string& name) {
        auto node = nodes.find(nameOf(e));
        if (node == nodes.end())
            return {AXError::invalidUIElement, {}};
        auto it = node->second.attributes.find(name);
        if (it == node->second.attributes.end())
            return {AXError::noValue, {}};
        return it->second;
    }
};

} // namespace talverin::test
