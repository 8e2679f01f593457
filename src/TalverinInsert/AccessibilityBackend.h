#pragma once

#include "TalverinCore/ElementToken.h"
#include "TalverinCore/ScreenGeometry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace talverin {

// One element of another application's user interface, as the backend hands it out.
using AXElement = std::shared_ptr<const ElementHandle>;

// The error codes of accessibility calls. The backend maps its own failures onto these, so the
// logic above it reads one set of codes whatever answers underneath.
namespace AXError {
constexpr int success = 0;
constexpr int failure = -25200;
constexpr int invalidUIElement = -25202;
// The target did not answer within the messaging timeout (or is gone).
constexpr int cannotComplete = -25204;
constexpr int attributeUnsupported = -25205;
// The desktop has no such request at all (waking an application's accessibility tree).
constexpr int notImplemented = -25208;
constexpr int apiDisabled = -25211;
constexpr int noValue = -25212;
} // namespace AXError

// A text range in UTF-16 units.
struct AXRange {
    std::int64_t location = 0;
    std::int64_t length = 0;

    bool operator==(const AXRange&) const = default;
};

// The placeholder a multi-attribute read puts where one attribute could not be read.
struct AXUnreadable {
    int error = AXError::failure;

    bool operator==(const AXUnreadable&) const = default;
};

// An attribute's value. Strings are UTF-8; positions are X11 root coordinates (y downwards).
using AXAttributeValue =
    std::variant<AXUnreadable, std::string, std::int64_t, bool, AXElement, Point, Size, AXRange>;

// A call's answer: `value` means something only when `error` is AXError::success.
template <typename T> struct AXReply {
    int error = AXError::success;
    T value{};

    bool ok() const { return error == AXError::success; }
};

// An application as the desktop knows it: what the web-engine rules and the log are matched on.
struct RunningApplication {
    std::int32_t pid = 0;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundleID;
    // The folder the application runs from, when known.
    std::optional<std::string> bundleLocation;
    // The class of its window in front (WM_CLASS's class name), when that window is its own.
    std::optional<std::string> windowClass;
};

// The accessibility service of the desktop: the elements of other applications, their
// attributes, and which application is in front. Every member is called on the thread of the
// session that uses it (a worker, or the inserter's queue), never on the main thread; when the
// service is gone, calls answer AXError::cannotComplete or nothing.
class AccessibilityBackend {
public:
    virtual ~AccessibilityBackend() = default;

    // Whether this process may read other applications at all.
    virtual bool isProcessTrusted() = 0;
    // The element that stands for the whole desktop; the focused application is read from it.
    virtual AXElement systemWide() = 0;
    // The element of the application with that process id.
    virtual AXElement applicationElement(std::int32_t pid) = 0;
    // The application in front, as the window manager says; nothing when none is known.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // The application with that process id; nothing when it is not running.
    virtual std::optional<RunningApplication> runningApplication(std::int32_t pid) = 0;
    // Bounds every later call made on `element`; local, never blocks.
    virtual void setMessagingTimeout(const AXElement& element, float seconds) = 0;
    // The process that owns the element; local, never blocks.
    virtual AXReply<std::int32_t> pid(const AXElement& element) = 0;
    virtual AXReply<AXAttributeValue> copy(const AXElement& element, const std::string& name) = 0;
    // Several attributes in one round trip: one value per name, in order, an AXUnreadable
    // where one could not be read; no list at all when the answer is not one.
    virtual AXReply<std::optional<std::vector<AXAttributeValue>>>
    copyMultiple(const AXElement& element, const std::vector<std::string>& names) = 0;
    virtual AXReply<AXAttributeValue> copyParameterized(const AXElement& element,
                                                        const std::string& name,
                                                        const AXAttributeValue& parameter) = 0;
    virtual AXReply<bool> isSettable(const AXElement& element, const std::string& name) = 0;
    // The error code of the write.
    virtual int set(const AXElement& element, const std::string& name,
                    const AXAttributeValue& value) = 0;
    // The height of the primary monitor in points; 0 when unknown.
    virtual double mainDisplayHeight() = 0;
};

} // namespace talverin
