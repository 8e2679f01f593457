#pragma once

#include "TalverinCore/WireDate.h"

namespace talverin {

// The user's calendar: the Gregorian calendar in the process's local time zone, the one $TZ
// names or else the system's.
class Calendar {
public:
    // Any thread. The calendar as it is now; it picks up a changed $TZ.
    static Calendar current();

    // The first instant of the local day that holds `date`. A day that begins with a daylight
    // saving jump, so that its midnight never happens, begins at the first time it does have.
    Wire::Date startOfDay(Wire::Date date) const;

private:
    Calendar() = default;
};

} // namespace talverin
