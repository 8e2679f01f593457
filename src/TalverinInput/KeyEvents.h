#pragma once

#include <array>
#include <cstdint>

namespace talverin {

// Virtual key codes of the hold-key logic. The X11 backend maps X keycodes into this space
// (KeyTranslatorX11); an X keycode is never used as one of these.
namespace KeyCode {
inline constexpr std::int64_t escape = 53;
inline constexpr std::int64_t command = 55;
inline constexpr std::int64_t rightCommand = 54;
inline constexpr std::int64_t shift = 56;
inline constexpr std::int64_t rightShift = 60;
inline constexpr std::int64_t capsLock = 57;
inline constexpr std::int64_t option = 58;
inline constexpr std::int64_t rightOption = 61;
inline constexpr std::int64_t control = 59;
inline constexpr std::int64_t rightControl = 62;
inline constexpr std::int64_t function = 63;
// F13 to F20, in that order.
inline constexpr std::array<std::int64_t, 8> f13to20 = {105, 107, 113, 106, 64, 79, 80, 90};
} // namespace KeyCode

// Device-independent modifier bits of an event's flags word.
namespace Flag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t fn = 0x800000;
// Shift, control, option and command: the plain modifiers.
inline constexpr std::uint64_t plainModifiers = shift | control | option | command;
} // namespace Flag

// Left/right bits of the same flags word.
namespace DeviceBit {
inline constexpr std::uint64_t leftControl = 0x1;
inline constexpr std::uint64_t leftShift = 0x2;
inline constexpr std::uint64_t rightShift = 0x4;
inline constexpr std::uint64_t leftCommand = 0x8;
inline constexpr std::uint64_t rightCommand = 0x10;
inline constexpr std::uint64_t leftOption = 0x20;
inline constexpr std::uint64_t rightOption = 0x40;
inline constexpr std::uint64_t rightControl = 0x2000;
} // namespace DeviceBit

enum class KeyEventKind { flagsChanged, keyDown, keyUp, mouseDown, other };

// Dates key events on the uptime clock, never in the future and never from a stale clock.
namespace EventClock {
inline constexpr double maxAge = 30;

struct Timebase {
    std::uint32_t numerator = 1;
    std::uint32_t denominator = 1;
};

// The host tick ratio with a zero denominator read as 1/1.
Timebase normalised(Timebase raw);
// An event timestamp read both as nanoseconds and as host ticks; the reading nearer to `now`
// wins, and one more than `maxAge` away gives `now`.
double uptime(std::uint64_t timestamp, double now, Timebase timebase);
// The X server's event time: CLOCK_MONOTONIC in milliseconds modulo 2^32.
double uptimeOfServerTime(std::uint32_t serverMillis, double now);
// The clamps shared by both readings.
double clamp(double reading, double now);
} // namespace EventClock

} // namespace talverin
