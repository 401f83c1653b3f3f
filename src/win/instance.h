// One orlimo per session, and what a second start of it does: it shows
// the user the orlimo that runs, or, started elevated to change autorun,
// takes the running one's place.
#pragma once
#include <windows.h>

#include <cstdint>

namespace orlimo {

// Messages between the session's orlimo and a later start (registered, so
// that an elevated orlimo can let the first through; see AllowFromBelow).
// A second start: show the user that orlimo runs (a balloon at the icon).
UINT ShowRunningMessage();
// An elevated start that changed autorun takes over: end now.
UINT HandOverMessage();
// An elevated start under another account changed autorun: wParam is 1
// when the Run value is there now, else 0.
UINT AutorunChangedMessage();

// Lets a message from a process of lower integrity (a start that is not
// elevated) through to this one when it runs elevated (Vista and later).
void AllowFromBelow(UINT message);

// Takes the session's one orlimo name (the mutex Local\orlimo.notifier).
// True: this start is the session's orlimo and goes on. When another
// orlimo of the session holds the name (an elevated one refuses us access
// to it): a plain start asks it to show itself and gets false; a start
// that changed autorun (autorun_request) takes its place when it runs as
// the same user (true once it has ended), else tells it the new state
// (autorun_flag) and gets false.
bool ClaimSession(bool autorun_request, int32_t autorun_flag);

// Whether this process runs elevated (false where Windows cannot say:
// before Vista).
bool ProcessElevated();

// Starts this program again elevated ("runas": the UAC prompt) with the
// arguments; false when it did not start (the prompt refused included).
bool StartElevated(const wchar_t* arguments);

}  // namespace orlimo
