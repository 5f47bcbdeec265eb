#pragma once

#include "util/TraceHooks.h"

#include <string>

namespace pagewren {

// Name of the stale log file removed at start-up, relative to the current folder.
extern std::string TraceLogFileName;

// Deletes TraceLogFileName in the current folder when it is a file (never a folder, never a
// link's target). Failures are ignored. Called once at start-up.
void RemoveStaleTraceLog();

// Records the start, then emits "[Tag][dd.mm.yy hh:nn:ss zzz] Message".
void TraceLine(const std::string& Tag, const std::string& Message);

// Emits "[Tag][stamp][elapsed] Message", elapsed since the last TraceLine (or since counter 0 /
// midnight before the first one): "1,234.57 ms" with the user's separators for the counter,
// "hh:nn:ss zzz" for the clock. A second call measures again from the same start.
void TraceLineElapsed(const std::string& Tag, const std::string& Message);

// Replaces the sink, clocks and timing, and forgets the recorded start. Lines go to standard
// error and are timed by std::chrono::steady_clock until this is called; tests call it.
void SetTraceHooks(TraceHooks hooks);

} // namespace pagewren
