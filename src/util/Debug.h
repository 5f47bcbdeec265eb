#pragma once

#include <string>

namespace pagewren {

// Name of the stale log file removed at start-up, relative to the current folder.
extern std::string TraceLogFileName;

// Deletes TraceLogFileName in the current folder when it exists. Called once at start-up.
void RemoveStaleTraceLog();

// Records the start time, then emits "[Tag][time stamp] Message".
void TraceLine(const std::string& Tag, const std::string& Message);

// Emits the line with the time elapsed since the last TraceLine between stamp and message.
void TraceLineElapsed(const std::string& Tag, const std::string& Message);

} // namespace pagewren
