#include "util/Debug.h"

#include <QLocale>
#include <QString>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace pagewren {

std::string TraceLogFileName = "Vellumark.log";

namespace {

using namespace std::chrono;

struct TraceState {
    std::mutex mutex;
    TraceHooks hooks;
    system_clock::time_point clockStart;
    bool clockStarted = false;
    steady_clock::time_point counterStart; // counter 0 until the first TraceLine
};

// Trace lines may come from any thread while someone diagnoses, so the state is locked.
TraceState& state()
{
    static TraceState instance;
    return instance;
}

system_clock::time_point wallNow(const TraceHooks& hooks)
{
    return hooks.wallClock ? hooks.wallClock() : system_clock::now();
}

steady_clock::time_point counterNow(const TraceHooks& hooks)
{
    return hooks.counter ? hooks.counter() : steady_clock::now();
}

std::string twoDigits(int value)
{
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string threeDigits(int value)
{
    return std::to_string(value / 100 % 10) + twoDigits(value % 100);
}

// "hh:nn:ss zzz" of a time of day or a duration (hours wrap at 24, as for a time of day).
std::string clockText(milliseconds time)
{
    const auto ms = time.count();
    return twoDigits(static_cast<int>(ms / 3'600'000 % 24)) + ":" +
           twoDigits(static_cast<int>(ms / 60'000 % 60)) + ":" +
           twoDigits(static_cast<int>(ms / 1000 % 60)) + " " +
           threeDigits(static_cast<int>(ms % 1000));
}

std::tm localParts(system_clock::time_point time, milliseconds& millisecond)
{
    const auto seconds = floor<std::chrono::seconds>(time);
    millisecond = duration_cast<milliseconds>(time - seconds);
    const std::time_t whole = system_clock::to_time_t(seconds);
    std::tm parts{};
    localtime_r(&whole, &parts);
    return parts;
}

// "dd.mm.yy hh:nn:ss zzz" in local time.
std::string stampText(system_clock::time_point time)
{
    milliseconds millisecond{};
    const std::tm parts = localParts(time, millisecond);
    return twoDigits(parts.tm_mday) + "." + twoDigits(parts.tm_mon + 1) + "." +
           twoDigits((parts.tm_year + 1900) % 100) + " " +
           clockText(hours(parts.tm_hour) + minutes(parts.tm_min) + seconds(parts.tm_sec) +
                     millisecond);
}

// Milliseconds with two decimals and the user's group and decimal separators, e.g. "1,234.57".
std::string millisecondsText(steady_clock::duration elapsed)
{
    const auto ms = duration_cast<duration<long double, std::milli>>(elapsed).count();
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<double>(ms), 'f', 2).toStdString();
}

void sendLine(const TraceHooks::Sink& sink, const std::string& line)
{
    if (sink) {
        sink(line);
        return;
    }
    const std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace

void RemoveStaleTraceLog()
{
    if (TraceLogFileName.empty())
        return;
    std::error_code error;
    const auto type = std::filesystem::symlink_status(TraceLogFileName, error).type();
    if (!error && (type == std::filesystem::file_type::regular ||
                   type == std::filesystem::file_type::symlink))
        std::filesystem::remove(TraceLogFileName, error);
}

void TraceLine(const std::string& Tag, const std::string& Message)
{
    auto& trace = state();
    std::string line;
    TraceHooks::Sink sink;
    {
        const std::lock_guard lock(trace.mutex);
        const auto now = wallNow(trace.hooks);
        if (trace.hooks.timing == TraceTiming::Counter) {
            trace.counterStart = counterNow(trace.hooks);
        } else {
            trace.clockStart = now;
            trace.clockStarted = true;
        }
        line = "[" + Tag + "][" + stampText(now) + "] " + Message;
        sink = trace.hooks.sink;
    }
    sendLine(sink, line);
}

void TraceLineElapsed(const std::string& Tag, const std::string& Message)
{
    auto& trace = state();
    std::string line;
    TraceHooks::Sink sink;
    {
        const std::lock_guard lock(trace.mutex);
        const auto now = wallNow(trace.hooks);
        std::string elapsed;
        if (trace.hooks.timing == TraceTiming::Counter) {
            elapsed = millisecondsText(counterNow(trace.hooks) - trace.counterStart) + " ms";
        } else if (trace.clockStarted) {
            elapsed = clockText(std::max(duration_cast<milliseconds>(now - trace.clockStart),
                                         milliseconds::zero()));
        } else {
            // Measured from date-time 0, which is midnight: the time of day.
            milliseconds millisecond{};
            const std::tm parts = localParts(now, millisecond);
            elapsed = clockText(hours(parts.tm_hour) + minutes(parts.tm_min) +
                                seconds(parts.tm_sec) + millisecond);
        }
        line = "[" + Tag + "][" + stampText(now) + "][" + elapsed + "] " + Message;
        sink = trace.hooks.sink;
    }
    sendLine(sink, line);
}

void SetTraceHooks(TraceHooks hooks)
{
    auto& trace = state();
    const std::lock_guard lock(trace.mutex);
    trace.hooks = std::move(hooks);
    trace.clockStart = {};
    trace.clockStarted = false;
    trace.counterStart = {};
}

} // namespace pagewren
