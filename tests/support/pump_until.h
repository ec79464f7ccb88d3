// pump_until.h - the event pump driven until a condition holds, as the
// program's own polling loops drive it.
#pragma once

#include "platform/clock.h"
#include "platform/ui/ui.h"

namespace qvar_test {

// True once `done` holds; false if `seconds` passed first.
template <typename Pred>
bool PumpUntil(Pred done, double seconds = 1.0)
{
    const double end = Timer() + seconds;
    while (!done()) {
        if (Timer() > end)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

} // namespace qvar_test
