#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace pagewren {

// How TraceLineElapsed measures: a monotonic counter (printed as milliseconds) or the difference
// of two wall-clock times (printed as "hh:nn:ss zzz").
enum class TraceTiming { Counter, Clock };

// Where trace lines go and where their times come from. An empty member takes the default:
// standard error, std::chrono::system_clock, std::chrono::steady_clock.
struct TraceHooks {
    using Sink = std::function<void(const std::string& line)>;

    Sink sink;
    std::function<std::chrono::system_clock::time_point()> wallClock;
    std::function<std::chrono::steady_clock::time_point()> counter;
    TraceTiming timing = TraceTiming::Counter;
};

} // namespace pagewren
