// The levelled line log "sceneapi.log" in the renderer's resource folder. Process-wide: the file
// is opened by the first statement that writes and stays open for the life of the process.
//
//   TRV_LOG(1) << "NO shared handle";
//   -> raydecklive_loader.cpp:234 - 10:42:17.015 WARNING:  NO shared handle
//
// A statement above the reporting level, or made while the file cannot be opened, writes
// nothing and does not evaluate its message parts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

enum TLogLevel {
    logERROR,
    logWARNING,
    logINFO,
    logDEBUG,
    logDEBUG1,
    logDEBUG2,
    logDEBUG3,
    logDEBUG4,
};

// "HH:MM:SS.mmm": the local time, then the milliseconds since the first stamp modulo 1000;
// "Error in NowTime()" when the time cannot be formatted.
std::string NowTime();

// The three digits of a time stamp: milliseconds from `firstTick` to `nowTick` modulo 1000, the
// 32-bit tick difference taken as unsigned so that it stays in 0..999.
long elapsedMillisPart(std::uint32_t firstTick, std::uint32_t nowTick);

template <typename OutputPolicy>
class Log {
  public:
    Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    virtual ~Log();  // 0: writes the line
    // Writes the line header and returns the stream the message parts go to.
    std::ostringstream& get(int level, const char* file, int line);

    static int reportingLevel();  // 7 (DEBUG4)
    static std::string toString(int level);

  protected:
    std::ostringstream os;
};

// The policy that writes finished lines to the log stream.
class Output2FILE {
  public:
    // The log stream, opened on first use; null when it cannot be opened (the next call tries
    // again).
    static FILE* stream();
    static void output(const std::string& message);
};

class FILELog : public Log<Output2FILE> {};

#define TRV_LOG(level)                                                             \
    if ((level) > FILELog::reportingLevel() || Output2FILE::stream() == nullptr) { \
    } else                                                                         \
        FILELog().get((level), __FILE__, __LINE__)
