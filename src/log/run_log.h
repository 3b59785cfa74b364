// The run log: UTF-16LE records appended to one file, each echoed to the console.
#pragma once

#include <initializer_list>

#include "platform/platform_operations.h"

/// Date MM/DD/YY and time HH:MM:SS of the run, taken once and shown by both banners.
struct RunStamp {
    char16_t date[9];
    char16_t time[9];
};

/// Reads the local clock once, for both the date and the time.
RunStamp TakeRunStamp();

/// Where the records go: the log file's path (empty when no file is written) and the folder
/// it must lie in, identified once when the path is chosen, so that no later change of the
/// path can lead the records elsewhere.
struct LogFile {
    char16_t path[kMaxPath];
    FolderIdentity folder;
};

/// Appends the finished text to the log file and echoes it to the console.
void AppendLogRecord(const LogFile& log, const char16_t* text);

/// Composes a record into a message-sized buffer and appends it. A record that would not fit
/// is cut so that it still ends with CR LF and the next record starts on its own line.
void AppendComposedRecord(const LogFile& log, const char16_t* format,
                          std::initializer_list<FormatArg> args);

/// Appends the banner that frames a phase: two LF, the stamp between rules of `=`, CR LF.
void AppendBanner(const LogFile& log, const RunStamp& stamp);
