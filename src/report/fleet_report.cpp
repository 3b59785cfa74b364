#include "report/fleet_report.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "log/copy_errors.h"
#include "report/log_file.h"

namespace {

constexpr size_t kLooksShown = 20;
constexpr size_t kChunk = size_t{64} * 1024;

void PutCodePoint(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// How many bytes the valid UTF-8 sequence at the start of `bytes` takes; 0 when it is none.
size_t Utf8SequenceLength(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const auto follows = [&](size_t i) { return i < bytes.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return follows(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!follows(1) || !follows(2)) return 0;
        const bool overlong = lead == 0xE0 && byte(1) < 0xA0;
        const bool surrogate = lead == 0xED && byte(1) >= 0xA0;
        return overlong || surrogate ? 0 : 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!follows(1) || !follows(2) || !follows(3)) return 0;
        const bool overlong = lead == 0xF0 && byte(1) < 0x90;
        const bool beyond = lead == 0xF4 && byte(1) >= 0x90;
        return overlong || beyond ? 0 : 4;
    }
    return 0;
}

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

std::string Utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            PutCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else {
            PutCodePoint(out, high || low ? 0xFFFD : unit);
        }
    }
    return out;
}

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = Utf8SequenceLength(bytes);
        if (length == 0) {
            PutCodePoint(out, 0xFFFD);
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return out;
}

std::string ShownPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return Utf8(path.u16string());
#else
    return ValidUtf8(path.native());
#endif
}

std::string TerminalText(std::string_view utf8) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto unit = static_cast<unsigned char>(utf8[i]);
        const bool c1 = unit == 0xC2 && i + 1 < utf8.size() &&
                        static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (c1) unit = static_cast<unsigned char>(utf8[++i]);
        if (unit < 0x20 || unit == 0x7F || c1) {
            shown += "\\x";
            shown += kHex[unit >> 4];
            shown += kHex[unit & 0xF];
        } else {
            shown += utf8[i];
        }
    }
    return shown;
}

std::string CsvField(const std::string& value, bool text) {
    std::string field = value;
    if (text && !field.empty() && std::strchr("=+-@\t\r", field[0]) != nullptr) {
        field.insert(0, 1, '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

FleetReport::FleetReport(std::ostream* csv, std::ostream* json) : csv_(csv), json_(json) {
    if (csv_) {
        *csv_
            << "\xEF\xBB\xBF"
               "log,run,started,fixed_drives,recovery_drive,copy,error,companion,result,notes\r\n";
    }
}

void FleetReport::Row(const std::string& log, const Run& run) {
    const std::string error = run.error ? std::to_string(*run.error) : "";
    const std::vector<std::string> notes = NoteNames(run.notes);
    if (csv_) {
        *csv_ << CsvField(log, true) << ',' << run.number << ',' << CsvField(Started(run), true)
              << ',' << CsvField(Utf8(run.fixedDrives), true) << ','
              << CsvField(Utf8(run.recoveryDrive), true) << ',' << CopyName(run.copy) << ','
              << error << ',' << CompanionName(run.companion) << ',' << ResultName(run.result)
              << ',' << CsvField(Joined(notes), true) << "\r\n";
    }
    if (json_) {
        const auto textOrNull = [](const std::string& text) {
            return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
        };
        nlohmann::ordered_json line;
        line["log"] = log;
        line["run"] = run.number;
        line["started"] = textOrNull(Started(run));
        line["fixed_drives"] = textOrNull(Utf8(run.fixedDrives));
        line["recovery_drive"] = textOrNull(Utf8(run.recoveryDrive));
        line["copy"] = CopyName(run.copy);
        line["error"] = run.error ? nlohmann::ordered_json(*run.error) : nlohmann::ordered_json();
        line["companion"] = CompanionName(run.companion);
        line["result"] = textOrNull(ResultName(run.result));
        line["notes"] = notes;
        *json_ << line.dump() << '\n';
    }
}

void FleetReport::Read(const std::filesystem::path& path, bool named) {
    const std::string shown = ShownPath(path);
    // A look that fails (a dangling link; a device, to Windows' C runtime under Wine) leaves
    // the open to tell why, on its handle.
    std::error_code looked;
    const std::filesystem::file_status status = std::filesystem::status(path, looked);
    if (!looked && status.type() == std::filesystem::file_type::directory) return;  // a link
    std::string reason = looked ? "" : WhyNoLog(status);
    if (!reason.empty()) {
        NotRead(shown, reason, named, path);
        return;
    }
    LogFile file;
    const LogFile::Opened opened = file.Open(path, reason);
    if (opened != LogFile::Opened::Yes) {
        if (opened == LogFile::Opened::NoLog) NotRead(shown, reason, named, path);
        else Unreadable(path, reason);
        return;
    }
    Run last;
    LogReader reader([&](const Run& run) {
        last = run;
        Row(shown, run);
    });
    std::vector<char> chunk(kChunk);
    size_t bytes = 0;
    for (;;) {
        const std::optional<size_t> got = file.Read(chunk.data(), chunk.size(), reason);
        if (!got) {
            Unreadable(path, reason);
            return;
        }
        if (*got == 0) break;
        bytes += *got;
        reader.Feed(reinterpret_cast<const unsigned char*>(chunk.data()), *got);
    }
    const size_t runs = reader.Finish();
    if (runs == 0) {
        NotRead(shown, bytes == 0 ? "empty" : "no record of the tool's", named, path);
        return;
    }
    ++logs_;
    runs_ += runs;
    const LogState state = StateOf(last);
    ++states_[state];
    if (state == LogState::Failed) ++failedByError_[last.error ? *last.error : -1];
    if (state != LogState::Failed && state != LogState::NoResult) return;
    const std::string text = state == LogState::NoResult
                                 ? "no result"
                                 : "FAIL " + ErrorText(last.error ? *last.error : -1);
    if (looks_.size() < kLooksShown) {
        looks_.push_back({shown, Started(last), Utf8(last.fixedDrives), text});
    } else {
        ++moreLooks_;
    }
}

// What is named on the command line must be a log; what a folder holds may be anything.
void FleetReport::NotRead(const std::string& shown, const std::string& reason, bool named,
                          const std::filesystem::path& path) {
    if (named) {
        Unreadable(path, reason);
        return;
    }
    ++otherFiles_;
    if (others_.size() < kLooksShown) others_.emplace_back(shown, reason);
}

void FleetReport::Unreadable(const std::filesystem::path& path, const std::string& reason) {
    ++states_[LogState::Unreadable];
    const std::string shown = ShownPath(path);
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
    out << "  serviced (PASS, copied)          " << Count(LogState::Serviced) << "\n";
    out << "  nothing to do (PASS, no flag)    " << Count(LogState::NothingToDo) << "\n";
    if (Count(LogState::PassedCopyUnknown) > 0) {
        out << "  PASS, copy not logged            " << Count(LogState::PassedCopyUnknown) << "\n";
    }
    out << "  failed                           " << Count(LogState::Failed) << "\n";
    for (const auto& [error, logs] : failedByError_) {
        out << "    " << ErrorText(error) << "  " << logs << "\n";
    }
    out << "  no result                        " << Count(LogState::NoResult) << "\n";
    out << "  unreadable                       " << Count(LogState::Unreadable) << "\n";
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
