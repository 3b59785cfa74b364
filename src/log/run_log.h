// The run log: UTF-16LE records appended to one file, each echoed to the console.
#pragma once

#include <initializer_list>

#include "platform/text_format.h"

/// Date MM/DD/YY and time HH:MM:SS of the run, taken once and shown by both banners.
struct RunStamp {
    char16_t date[9];
    char16_t time[9];
};

/// Reads the local clock once, for both the date and the time.
RunStamp TakeRunStamp();

/// Appends the finished text to the log file (none when the log path is empty) and echoes it
/// to the console.
void AppendLogRecord(const char16_t* logPath, const char16_t* text);

/// Composes a record into a message-sized buffer and appends it. A record that would not fit
/// is cut so that it still ends with CR LF and the next record starts on its own line.
void AppendComposedRecord(const char16_t* logPath, const char16_t* format,
                          std::initializer_list<FormatArg> args);

/// Appends the banner that frames a phase: two LF, the stamp between rules of `=`, CR LF.
void AppendBanner(const char16_t* logPath, const RunStamp& stamp);
