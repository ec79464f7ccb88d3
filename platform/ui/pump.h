// pump.h - who may run callbacks when (platform-internal).
//
// Control, panel and receive callbacks run only from the event pump:
// RunUserInterface and ProcessSystemEvents open an Inside scope. A platform
// call that has to spin Qt's loop for its own sake (a modal file dialog)
// opens a Blocked scope, so nothing of the program runs nested in it; what
// became due meanwhile is delivered at the next pump.
#pragma once

namespace qvar::pump {

bool dispatch_allowed();

// Counts the program's callbacks (control, panel, receive) as they run; a
// loop's wait deadline holds only while none has run since it was set.
void note_callback();
unsigned long callbacks_run();

// Test support watches the program between pump passes: the hook runs at the
// end of every ProcessSystemEvents (a busy loop's pass may skip Qt's
// dispatcher, and with it any timer a test could use instead).
using PassHook = void (*)();
void set_pass_hook(PassHook hook);
void run_pass_hook();

class Inside {
public:
    Inside();
    ~Inside();
    Inside(const Inside &) = delete;
    Inside &operator=(const Inside &) = delete;
};

class Blocked {
public:
    Blocked();
    ~Blocked();
    Blocked(const Blocked &) = delete;
    Blocked &operator=(const Blocked &) = delete;
};

// Serial side (serial.cpp): runs every receive callback that is due. Call only
// while dispatch_allowed(). Returns how many callbacks ran.
int serial_deliver();

// Serial side: the earliest Timer() time at which a simulated port will have
// new bytes, so a waiting pump does not oversleep it; infinity if none.
double serial_next_arrival();

} // namespace qvar::pump
