#pragma once

#include "TalverinInsert/linux/AtspiElementReads.h"

#include <cstdint>

namespace talverin {

// Where the focus is, found with as few questions as the application allows.
namespace AtspiFocusSearch {

// How many elements the fallback walk looks at before it gives up.
constexpr int walkLimit = 5000;

// The focused element of the application whose root is `app`: the element the focus events
// named, while it still says it is focused; else the application's own search for the focused
// state (one Collection request); else, for applications without that request, a walk of the
// elements that are showing. Empty when nothing is focused or the application did not answer.
AtspiObject focusedIn(AtspiReader& reader, const AtspiObject& app, const AtspiObject& tracked);

// The root of the application of process `pid`; empty when it is not on the bus.
AtspiObject applicationOf(AtspiReader& reader, std::int32_t pid);

// The application whose toolkit marks one of its windows active, for when no window names its
// process.
AtspiObject activeByToolkit(AtspiReader& reader);

} // namespace AtspiFocusSearch

} // namespace talverin
