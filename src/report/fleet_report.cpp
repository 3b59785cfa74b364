#include "report/fleet_report.h"

#include <cstring>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>

#include "log/copy_errors.h"
#include "report/log_file.h"
#include "report/text_encodings.h"

namespace {

constexpr size_t kLooksShown = 20;
constexpr size_t kChunk = size_t{64} * 1024;

// By the outcomes' order in log_reader.h.
constexpr const char* kCopyNames[] = {"unknown", "copied", "failed", "no-flag"};
constexpr const char* kCompanionNames[] = {"unknown", "installed", "failed", "missing"};

const char* CopyName(CopyOutcome copy) { return kCopyNames[static_cast<size_t>(copy)]; }

const char* CompanionName(CompanionOutcome companion) {
    return kCompanionNames[static_cast<size_t>(companion)];
}

const char* ResultName(Verdict result) {
    return result == Verdict::Pass ? "PASS" : result == Verdict::Fail ? "FAIL" : "";
}

// YYYY-MM-DDTHH:MM:SS from the banner's MM/DD/YY and HH:MM:SS, the year as 20YY.
std::string Started(const Run& run) {
    if (run.date.empty()) return "";
    const std::string date = Utf8(run.date);
    return "20" + date.substr(6, 2) + "-" + date.substr(0, 2) + "-" + date.substr(3, 2) + "T" +
           Utf8(run.time);
}

std::vector<std::string> NoteNames(unsigned notes) {
    std::vector<std::string> names;
    for (size_t i = 0; i < std::size(kNoteNames); ++i) {
        if ((notes & (1u << i)) != 0) names.emplace_back(kNoteNames[i]);
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ";") + name;
    return joined;
}

LogState StateOf(const Run& run) {
    if (run.result == Verdict::None) return LogState::NoResult;
    if (run.result == Verdict::Fail) return LogState::Failed;
    if (run.copy == CopyOutcome::Copied) return LogState::Serviced;
    if (run.copy == CopyOutcome::NoFlag) return LogState::NothingToDo;
    return LogState::PassedCopyUnknown;
}

std::string ErrorText(long long error) {
    if (error < 0) return "no error number";
    const char* meaning = CopyErrorMeaningOf(static_cast<int>(error));
    return std::to_string(error) + ": " + (meaning ? meaning : "no meaning known");
}

}  // namespace

namespace {

// A log this large is read where its rows are written, a chunk at a time, rather than ahead on
// another thread: its rows are never held whole.
constexpr uint64_t kReadAhead = uint64_t{1} << 20;

// The tables' columns, in their order, with a run's values: the CSV's header names them, its rows
// hold them, and each JSON line has them as its keys. An empty text is null.
nlohmann::ordered_json Columns(const std::string& log, const Run& run) {
    const auto textOrNull = [](const std::string& text) {
        return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
    };
    nlohmann::ordered_json row;
    row["log"] = log;
    row["run"] = run.number;
    row["started"] = textOrNull(Started(run));
    row["fixed_drives"] = textOrNull(Utf8(run.fixedDrives));
    row["recovery_drive"] = textOrNull(Utf8(run.recoveryDrive));
    row["copy"] = CopyName(run.copy);
    row["error"] = run.error ? nlohmann::ordered_json(*run.error) : nlohmann::ordered_json();
    row["companion"] = CompanionName(run.companion);
    row["result"] = textOrNull(ResultName(run.result));
    row["notes"] = NoteNames(run.notes);
    return row;
}

// A column's value as a CSV field: a list's names joined by `;`, null empty.
std::string CsvValue(const nlohmann::ordered_json& value) {
    if (value.is_null()) return "";
    if (value.is_number()) return value.dump();
    if (value.is_array()) return CsvField(Joined(value.get<std::vector<std::string>>()), true);
    return CsvField(value.get<std::string>(), true);
}

}  // namespace

FleetReport::FleetReport(std::ostream* csv, std::ostream* json) : csv_(csv), json_(json) {
    if (!csv_) return;
    const nlohmann::ordered_json columns = Columns("", Run{});
    std::string header = "\xEF\xBB\xBF";
    for (const auto& column : columns.items()) {
        header += (header.size() > 3 ? "," : "") + column.key();
    }
    *csv_ << header << "\r\n";
}

namespace {

// The rows of one run, as each table has them, appended to those given.
void RenderRow(const std::string& log, const Run& run, std::string* csv, std::string* json) {
    const nlohmann::ordered_json row = Columns(log, run);
    if (csv) {
        bool first = true;
        for (const auto& column : row) {
            if (!first) *csv += ',';
            *csv += CsvValue(column);
            first = false;
        }
        *csv += "\r\n";
    }
    if (json) *json += row.dump() + '\n';
}

// Reads the open log to its end, each run to `row` and the last into the reading; false, with
// its reason, when a read fails.
template <typename Row>
bool ReadRuns(LogFile& file, LogReading& reading, Row row) {
    thread_local std::vector<char> chunk(kChunk);
    LogReader reader([&](const Run& run) {
        reading.last = run;
        row(run);
    });
    uint64_t bytes = 0;
    for (;;) {
        const std::optional<size_t> got = file.Read(chunk.data(), chunk.size(), reading.reason);
        if (!got) return false;
        if (*got == 0) break;
        bytes += *got;
        reader.Feed(reinterpret_cast<const unsigned char*>(chunk.data()), *got);
    }
    reading.runs = reader.Finish();
    if (reading.runs == 0) reading.reason = bytes == 0 ? "empty" : "no record of the tool's";
    return true;
}

// Opens the input as a log; null, with the reading saying why it is none, when it is not one.
std::unique_ptr<LogFile> OpenLog(const Input& input, LogReading& reading) {
    reading.named = !input.folder;
    reading.shown = ShownPath(input.path);
    if (!input.reason.empty()) {
        reading.kind = LogReading::Kind::Unreadable;
        reading.reason = input.reason;
        return nullptr;
    }
    // What is not listed as a regular file is looked at before it is opened, so that no device
    // is ever opened. A look that fails (a dangling link; a device, to Windows' C runtime under
    // Wine) leaves the open to tell why, on its handle.
    if (!input.regular) {
        std::error_code looked;
        const std::filesystem::file_status status = std::filesystem::status(input.path, looked);
        if (!looked && status.type() == std::filesystem::file_type::directory) return nullptr;
        reading.reason = looked ? "" : WhyNoLog(status);
        if (!reading.reason.empty()) {
            reading.kind = LogReading::Kind::NotRead;
            return nullptr;
        }
    }
    auto file = std::make_unique<LogFile>();
    const LogFile::Opened opened = file->Open(input.folder.get(), input.name, input.path,
                                              reading.reason);
    if (opened != LogFile::Opened::Yes) {
        reading.kind = opened == LogFile::Opened::NoLog ? LogReading::Kind::NotRead
                                                        : LogReading::Kind::Unreadable;
        return nullptr;
    }
    reading.identity = file->Identity();
    return file;
}

// A small log is read whole here; a large one only opened, and left to be read where its rows
// are written (closed meanwhile: a window of them would hold more files than a process may).
LogReading ReadLog(const Input& input, bool csv, bool json) {
    LogReading reading;
    const std::unique_ptr<LogFile> file = OpenLog(input, reading);
    if (!file) return reading;
    if (file->Left() > kReadAhead) {
        // Named by its path alone, so that it holds no folder open while it waits.
        reading.kind = LogReading::Kind::Large;
        reading.input = input;
        reading.input.folder.reset();
        return reading;
    }
    const bool read = ReadRuns(*file, reading, [&](const Run& run) {
        RenderRow(reading.shown, run, csv ? &reading.csv : nullptr, json ? &reading.json : nullptr);
    });
    reading.kind = !read               ? LogReading::Kind::Unreadable
                   : reading.runs == 0 ? LogReading::Kind::NotRead
                                       : LogReading::Kind::Log;
    return reading;
}

}  // namespace

LogReading FleetReport::ReadInput(const Input& input, bool csv, bool json) {
    try {
        return ReadLog(input, csv, json);
    } catch (const std::exception& error) {  // out of memory, on a worker thread
        LogReading reading;
        reading.kind = LogReading::Kind::Unreadable;
        reading.shown = ShownPath(input.path);
        reading.reason = error.what();
        return reading;
    }
}

void FleetReport::Add(LogReading& reading) {
    switch (reading.kind) {
        case LogReading::Kind::Folder:  // a link to a folder, which is not followed
            return;
        case LogReading::Kind::NotRead:
            NotRead(reading.shown, reading.reason, reading.named);
            return;
        case LogReading::Kind::Unreadable:
            Unreadable(reading.shown, reading.reason);
            return;
        case LogReading::Kind::Large:
            AddLarge(reading);
            return;
        case LogReading::Kind::Log:
            if (csv_) *csv_ << reading.csv;
            if (json_) *json_ << reading.json;
            Tally(reading);
            return;
    }
}

// A large log, opened again and read here a chunk at a time, its rows written as each run ends.
// The log read must be the file judged when it was first opened, which no output is.
void FleetReport::AddLarge(LogReading& reading) {
    LogReading opened;
    const std::unique_ptr<LogFile> file = OpenLog(reading.input, opened);
    opened.named = reading.named;
    if (!file) {
        Add(opened);
        return;
    }
    if (!(opened.identity == reading.identity)) {
        Unreadable(opened.shown, "replaced while the report ran");
        return;
    }
    std::string csv;
    std::string json;
    const bool read = ReadRuns(*file, opened, [&](const Run& run) {
        RenderRow(opened.shown, run, csv_ ? &csv : nullptr, json_ ? &json : nullptr);
        if (csv_) *csv_ << csv;
        if (json_) *json_ << json;
        csv.clear();
        json.clear();
    });
    if (!read) Unreadable(opened.shown, opened.reason);
    else if (opened.runs == 0) NotRead(opened.shown, opened.reason, opened.named);
    else Tally(opened);
}

void FleetReport::Tally(const LogReading& reading) {
    const Run& last = reading.last;
    ++logs_;
    runs_ += reading.runs;
    const LogState state = StateOf(last);
    ++states_[state];
    if (state == LogState::Failed) ++failedByError_[last.error ? *last.error : -1];
    if (state != LogState::Failed && state != LogState::NoResult) return;
    const std::string text = state == LogState::NoResult
                                 ? StateWords(LogState::NoResult)
                                 : "FAIL " + ErrorText(last.error ? *last.error : -1);
    if (looks_.size() < kLooksShown) {
        looks_.push_back({reading.shown, Started(last), Utf8(last.fixedDrives), text});
    } else {
        ++moreLooks_;
    }
}

// What is named on the command line must be a log; what a folder holds may be anything.
void FleetReport::NotRead(const std::string& shown, const std::string& reason, bool named) {
    if (named) {
        Unreadable(shown, reason);
        return;
    }
    ++otherFiles_;
    if (others_.size() < kLooksShown) others_.emplace_back(shown, reason);
}

void FleetReport::Unreadable(const std::string& shown, const std::string& reason) {
    ++states_[LogState::Unreadable];
    UnreadableRow(shown, reason);
    if (unreadable_.size() < kLooksShown) unreadable_.emplace_back(shown, reason);
    ++unreadableFiles_;
    if (looks_.size() < kLooksShown) looks_.push_back({shown, "", "", "unreadable: " + reason});
    else ++moreLooks_;
}

// A row of its own, every field empty but the log and the note, so the tables list every file
// the summary has no room for.
void FleetReport::UnreadableRow(const std::string& log, const std::string& reason) {
    const std::string note = "unreadable: " + reason;
    if (csv_) *csv_ << CsvField(log, true) << ",,,,,,,,," << CsvField(note, true) << "\r\n";
    if (json_) {
        nlohmann::ordered_json line;
        line["log"] = log;
        for (const char* field : {"run", "started", "fixed_drives", "recovery_drive", "copy",
                                  "error", "companion", "result"}) {
            line[field] = nullptr;
        }
        line["notes"] = {note};
        *json_ << line.dump() << '\n';
    }
}

size_t FleetReport::Count(LogState state) const {
    const auto found = states_.find(state);
    return found == states_.end() ? size_t{0} : found->second;
}

std::string FleetReport::ReadLine() const {
    return "Read " + std::to_string(logs_) + " log" + (logs_ == 1 ? "" : "s") + " with " +
           std::to_string(runs_) + " run" + (runs_ == 1 ? "" : "s") + "; " +
           std::to_string(otherFiles_) + " other file" + (otherFiles_ == 1 ? "" : "s") +
           " held no record of the tool's.";
}

void FleetReport::PrintSummary(std::ostream& out) const {
    out << ReadLine() << "\n\n";
    out << "Logs by their last run:\n";
    const auto count = [this, &out](LogState state) {
        out << "  " << std::left << std::setw(33) << StateWords(state) << Count(state) << "\n";
    };
    count(LogState::Serviced);
    count(LogState::NothingToDo);
    if (Count(LogState::PassedCopyUnknown) > 0) count(LogState::PassedCopyUnknown);
    count(LogState::Failed);
    for (const auto& [error, logs] : failedByError_) {
        out << "    " << ErrorText(error) << "  " << logs << "\n";
    }
    count(LogState::NoResult);
    count(LogState::Unreadable);
    const auto line = [&out](const std::string& path, const std::string& what) {
        out << "  " << TerminalText(path) << ": " << TerminalText(what) << "\n";
    };
    if (!unreadable_.empty()) {
        out << "\nFiles that could not be read:\n";
        for (const auto& [path, reason] : unreadable_) line(path, reason);
        if (unreadableFiles_ > unreadable_.size())
            out << "  and " << unreadableFiles_ - unreadable_.size() << " more\n";
    }
    if (!others_.empty()) {
        out << "\nOther files, left out:\n";
        for (const auto& [path, reason] : others_) line(path, reason);
        if (otherFiles_ > others_.size())
            out << "  and " << otherFiles_ - others_.size() << " more\n";
    }
    if (!looks_.empty()) {
        out << "\nLogs that need a look:\n";
        for (const Look& look : looks_) line(look.path, look.state);
        if (moreLooks_ > 0) out << "  and " << moreLooks_ << " more\n";
    }
}

int FleetReport::ExitStatus() const {
    for (LogState state : {LogState::Failed, LogState::NoResult, LogState::Unreadable}) {
        if (states_.count(state) > 0) return 1;
    }
    return 0;
}
