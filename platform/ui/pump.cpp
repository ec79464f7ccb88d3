// pump.cpp - the state that says whether callbacks may run now.
//
// A stack of scopes rather than one flag: a modal dialog opened from a
// callback (Blocked) inside RunUserInterface (Inside) must block, and the
// pump must allow again once the dialog has gone.
#include "platform/ui/pump.h"

#include <vector>

namespace qvar::pump {
namespace {
std::vector<bool> &scopes()
{
    static std::vector<bool> s;
    return s;
}
unsigned long g_callbacks = 0;
PassHook g_passHook = nullptr;
} // namespace

void set_pass_hook(PassHook hook) { g_passHook = hook; }
void run_pass_hook()
{
    if (g_passHook)
        g_passHook();
}

void note_callback() { ++g_callbacks; }
unsigned long callbacks_run() { return g_callbacks; }

bool dispatch_allowed()
{
    return !scopes().empty() && scopes().back();
}

Inside::Inside() { scopes().push_back(true); }
Inside::~Inside() { scopes().pop_back(); }
Blocked::Blocked() { scopes().push_back(false); }
Blocked::~Blocked() { scopes().pop_back(); }

} // namespace qvar::pump
