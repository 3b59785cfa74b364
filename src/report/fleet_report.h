// A fleet's logs read, on several threads, and taken in their one order: each run as a row of CSV
// and a line of JSON, and, for a person, a summary of the logs by the state of their last run,
// which keeps counts and capped lists only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "report/fleet_walk.h"
#include "report/log_file.h"
#include "report/log_reader.h"

/// The state of a log's last run, as the summary counts it.
enum class LogState { Serviced, NothingToDo, PassedCopyUnknown, Failed, NoResult, Unreadable };

/// Each state's words, as the summary and the page show them.
inline const char* StateWords(LogState state) {
    constexpr const char* kWords[] = {"serviced (PASS, copied)",
                                      "nothing to do (PASS, no flag)",
                                      "PASS, copy not logged",
                                      "failed",
                                      "no result",
                                      "unreadable"};
    return kWords[static_cast<size_t>(state)];
}

/// What reading one input came to, on whichever thread read it: its rows as the tables have
/// them, and what the summary counts of it.
struct LogReading {
    enum class Kind {
        Folder,      // a link to a folder: not followed, nothing to count
        Log,         // its rows, rendered
        NotRead,     // no log (a FIFO, a device, no record of the tool's): `reason` says why
        Unreadable,  // a file or folder that could not be read: `reason` says why
        Large,       // a log too large to read ahead: read where its rows are written
    };
    Kind kind = Kind::Folder;
    bool named = false;  // named on the command line
    std::string shown;   // its path as shown
    std::string reason;
    std::string csv;
    std::string json;
    size_t runs = 0;
    Run last;
    std::optional<FileIdentity> identity;  // of the file opened
    Input input;                           // a large log's
};

class FleetReport {
  public:
    /// Rows go to `csv` and `json` where given (a header row first for CSV).
    FleetReport(std::ostream* csv, std::ostream* json);

    /// Reads one input, on any thread, rendering the rows of the tables asked for. A log is only
    /// ever a regular file; one too large to read ahead is left for Add to read.
    static LogReading ReadInput(const Input& input, bool csv, bool json);

    /// Writes the reading's rows and counts it, in the inputs' order. A file found in a folder
    /// that is no log or holds no record of the tool's is another program's and counts for
    /// nothing more; one named on the command line is unreadable, as is a folder that could not
    /// be listed: a row of its own in the tables, a line in the summary for the first few.
    void Add(LogReading& reading);

    void PrintSummary(std::ostream& out) const;

    /// The summary as one self-contained HTML page (fleet_page.cpp).
    void PrintPage(std::ostream& out) const;

    /// 0 when every log's last run passed; 1 when any failed, has no result, or could not be
    /// read.
    int ExitStatus() const;

  private:
    void AddLarge(LogReading& reading);
    void Tally(const LogReading& reading);
    void Unreadable(const std::string& shown, const std::string& reason);
    void UnreadableRow(const std::string& log, const std::string& reason);
    void NotRead(const std::string& shown, const std::string& reason, bool named);
    size_t Count(LogState state) const;
    std::string ReadLine() const;

    struct Look {
        std::string path;
        std::string started;  // the last run's
        std::string drives;   // its fixed drives, as logged
        std::string state;
    };

    std::ostream* csv_;
    std::ostream* json_;
    size_t logs_ = 0;
    size_t runs_ = 0;
    std::map<LogState, size_t> states_;
    std::map<long long, size_t> failedByError_;                    // -1: a failure without a number
    std::vector<std::pair<std::string, std::string>> unreadable_;  // path, reason: the first few
    size_t unreadableFiles_ = 0;
    std::vector<std::pair<std::string, std::string>> others_;
    size_t otherFiles_ = 0;
    std::vector<Look> looks_;
    size_t moreLooks_ = 0;
};
