// One orlimo per session, and what a second start of it does: it shows
// the user the orlimo that runs, or, started elevated to change autorun,
// tells the running one that the change is made.
#pragma once
#include <windows.h>

#include <cstdint>

namespace orlimo {

// Messages between the session's orlimo and a later start (registered, so
// that an elevated orlimo can let the first through; see AllowFromBelow).
// A second start: show the user that orlimo runs (a balloon at the icon).
UINT ShowRunningMessage();
// An elevated start changed autorun: the Run value is to be read again.
UINT AutorunChangedMessage();

// Lets a message from a process of lower integrity (a start that is not
// elevated) through to this one when it runs elevated (Vista and later).
void AllowFromBelow(UINT message);

// Takes the session's one orlimo name (the mutex Local\orlimo.notifier).
// True: this start is the session's orlimo and goes on. Otherwise it asks
// the running orlimo, when there is one, to show itself (a plain second
// start) or to read the Run value again (a start that changed autorun,
// autorun_request, which never goes on) and gets false.
bool ClaimSession(bool autorun_request);

// Whether this process runs elevated (false where Windows cannot say:
// before Vista).
bool ProcessElevated();

// Starts this program again elevated ("runas": the UAC prompt) with the
// arguments; false when it did not start (the prompt refused included).
bool StartElevated(const wchar_t* arguments);

}  // namespace orlimo
