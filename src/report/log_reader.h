// Reads one Castorel.log back into the runs the tool wrote there, streamed: memory does not grow
// with the log's size. Tolerant of what logs from the field hold (bytes of other programs, a
// byte-order mark, records cut, missing or interleaved), and never silent about it: whatever
// could not be read as the tool wrote it becomes a note on the run concerned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/// The records the tool writes, in the order a run writes them.
enum class RecordKind {
    Banner,
    FixedList,
    DriveExamined,
    FlagFound,
    CopyStarted,
    Copied,
    CopyFailed,
    NoFlag,
    CompanionMissing,
    CompanionCopy,
    CompanionInstalled,
    CompanionFailed,
    Passed,
    Failed,
};

/// One record as read: its kind and the texts its format's %s and %d stood for.
struct Record {
    RecordKind kind;
    std::u16string fields[2];
    bool cut = false;            // cut at the tool's capacity: its last field may be short
    bool foreignBefore = false;  // bytes that are no record of the tool's came before it
};

/// Splits a log's bytes into the tool's records, whatever the alignment foreign bytes left
/// them at. Keeps at most one record's worth of bytes between calls.
class RecordScanner {
  public:
    using Sink = std::function<void(const Record&)>;

    explicit RecordScanner(Sink sink) : sink_(std::move(sink)) {}

    void Feed(const unsigned char* bytes, size_t count);

    /// Bytes after the last record that are no record: a record cut short by the end of the
    /// file, or foreign bytes.
    bool Finish();

  private:
    void TakeSegment(size_t begin, size_t end);

    Sink sink_;
    std::vector<unsigned char> pending_;  // bytes since the last record's end
    std::u16string units_;                // a segment's units, kept to spare an allocation each
    size_t scanned_ = 0;                  // where the search for a record's end goes on
    bool atStart_ = true;                 // nothing read yet: a byte-order mark may come
    bool dropped_ = false;                // bytes no record could hold were let go
};

// In the order of the report's words for them (fleet_report.cpp).
enum class CopyOutcome { Unknown, Copied, Failed, NoFlag };
enum class CompanionOutcome { Unknown, Installed, Failed, Missing };
enum class Verdict { None, Pass, Fail };

/// What a run's records could not show as the tool wrote them, in the report's order.
enum Note : unsigned {
    kNoResult = 1u << 0,
    kRecordsMissing = 1u << 1,
    kOverlapped = 1u << 2,
    kBannersDiffer = 1u << 3,
    kCutRecord = 1u << 4,
    kForeignBytes = 1u << 5,
    kResultContradictsCopy = 1u << 6,
};
inline constexpr const char* kNoteNames[] = {
    "no-result",     "records-missing",        "overlapped", "banners-differ", "cut-record",
    "foreign-bytes", "result-contradicts-copy"};

struct Run {
    size_t number = 0;    // 1 for the log's first run, in the order the runs were appended
    std::u16string date;  // the opening banner's, as logged (MM/DD/YY); empty without one
    std::u16string time;
    std::u16string fixedDrives;
    std::u16string recoveryDrive;
    CopyOutcome copy = CopyOutcome::Unknown;
    std::optional<int64_t> error;  // a failed copy's number
    CompanionOutcome companion = CompanionOutcome::Unknown;
    Verdict result = Verdict::None;
    unsigned notes = 0;
    int stage = -1;         // the furthest step of the fixed order its records reached
    std::u16string banner;  // the opening banner's date and time, to tell the closing one
    bool seen[10] = {};
};

/// Assembles records into runs, in the order the runs were appended, whatever their clocks
/// said; hands each run on once it and every run before it are over.
class RunAssembler {
  public:
    using Sink = std::function<void(const Run&)>;

    explicit RunAssembler(Sink sink) : sink_(std::move(sink)) {}

    void Take(const Record& record);

    /// Ends the log: trailing bytes that were no record are a note on its last run.
    void Finish(bool foreignAtEnd);

    size_t Runs() const { return started_; }

  private:
    Run* RunFor(const Record& record);
    Run& StartRun();
    void Flush(bool ended);

    Sink sink_;
    std::deque<Run> runs_;  // the runs not yet handed on, the oldest first
    size_t started_ = 0;
};

/// Reads a whole log from its bytes, handing on each run. Returns how many runs it held.
class LogReader {
  public:
    explicit LogReader(RunAssembler::Sink sink);

    void Feed(const unsigned char* bytes, size_t count) { scanner_.Feed(bytes, count); }
    size_t Finish();

  private:
    RunAssembler assembler_;
    RecordScanner scanner_;
};
