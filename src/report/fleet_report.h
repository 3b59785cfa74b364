// A fleet's logs read one after another: each run as a row of CSV and a line of JSON, and, for a
// person, a summary of the logs by the state of their last run.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "report/log_reader.h"

/// UTF-8 of UTF-16 text; a unit that is no valid UTF-16 (a lone surrogate) becomes U+FFFD.
std::string Utf8(std::u16string_view text);

/// The bytes as UTF-8, each byte that is no part of valid UTF-8 as U+FFFD.
std::string ValidUtf8(std::string_view bytes);

/// A path as the report shows it, in UTF-8.
std::string ShownPath(const std::filesystem::path& path);

/// UTF-8 text as a terminal may show it: C0 and C1 controls and DEL as `\x1b` and the like, so
/// that no name moves the cursor, rings or starts a line.
std::string TerminalText(std::string_view utf8);

/// One CSV field as RFC 4180 has it; a text that a spreadsheet would run as a formula gets a
/// leading `'`.
std::string CsvField(const std::string& value, bool text);

/// The state of a log's last run, as the summary counts it.
enum class LogState { Serviced, NothingToDo, PassedCopyUnknown, Failed, NoResult, Unreadable };

class FleetReport {
  public:
    /// Rows go to `csv` and `json` where given (a header row first for CSV).
    FleetReport(std::ostream* csv, std::ostream* json);

    /// Reads one log, if it is a regular file. A file found in a folder that is no log (a FIFO,
    /// a device) or holds no record of the tool's is another program's and counts for nothing
    /// more; one named on the command line is unreadable.
    void Read(const std::filesystem::path& path, bool named);

    /// A file or folder that could not be read, and why: a row of its own in the tables, a
    /// line in the summary for the first few.
    void Unreadable(const std::filesystem::path& path, const std::string& reason);

    void PrintSummary(std::ostream& out) const;

    /// The summary as one self-contained HTML page (fleet_page.cpp).
    void PrintPage(std::ostream& out) const;

    /// 0 when every log's last run passed; 1 when any failed, has no result, or could not be
    /// read.
    int ExitStatus() const;

  private:
    void Row(const std::string& log, const Run& run);
    void UnreadableRow(const std::string& log, const std::string& reason);
    void NotRead(const std::string& shown, const std::string& reason, bool named,
                 const std::filesystem::path& path);
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
