#include "report/log_reader.h"

#include <cstring>
#include <string_view>

#include "log/record_texts.h"

namespace {

// The longest record the tool writes: 260 units less the terminator, CR LF included; its text
// without them; as bytes, with room for the odd byte and the padding before it.
constexpr size_t kLongestRecordText = 259 - 2;
constexpr size_t kLongestRecordBytes = 2 * 259 + 2;
// What a record cut at the tool's capacity keeps: 257 units and CR LF, a unit less where the
// cut would have parted a surrogate pair.
constexpr size_t kCutRecordUnits[] = {258, 259};

struct Format {
    RecordKind kind;
    std::u16string_view text;     // without its CR LF
    std::u16string_view literal;  // what comes before its first field: a record begins so
};

// By index, not find(): the sanitizers' build does not take find() as a constant expression.
constexpr Format FormatOf(RecordKind kind, std::u16string_view record) {
    const std::u16string_view text = record.substr(0, record.size() - 2);
    size_t field = 0;
    while (field < text.size() && text[field] != u'%') ++field;
    return {kind, text, text.substr(0, field)};
}

constexpr Format kFormats[] = {
    FormatOf(RecordKind::Banner, record_texts::kBanner),
    FormatOf(RecordKind::FixedList, record_texts::kFixedList),
    FormatOf(RecordKind::DriveExamined, record_texts::kDriveExamined),
    FormatOf(RecordKind::FlagFound, record_texts::kFlagFound),
    FormatOf(RecordKind::CopyStarted, record_texts::kCopyStarted),
    FormatOf(RecordKind::Copied, record_texts::kCopied),
    FormatOf(RecordKind::CopyFailed, record_texts::kCopyFailed),
    FormatOf(RecordKind::NoFlag, record_texts::kNoFlag),
    FormatOf(RecordKind::CompanionMissing, record_texts::kCompanionMissing),
    FormatOf(RecordKind::CompanionCopy, record_texts::kCompanionCopy),
    FormatOf(RecordKind::CompanionInstalled, record_texts::kCompanionInstalled),
    FormatOf(RecordKind::CompanionFailed, record_texts::kCompanionFailed),
    FormatOf(RecordKind::Passed, record_texts::kPassed),
    FormatOf(RecordKind::Failed, record_texts::kFailed),
};

bool IsDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

bool IsNumber(std::u16string_view text) {
    if (!text.empty() && text[0] == u'-') text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return false;
    for (char16_t unit : text) {
        if (!IsDigit(unit)) return false;
    }
    return true;
}

// Digits in pairs split by `separator`: MM/DD/YY or HH:MM:SS.
bool IsStampText(std::u16string_view text, char16_t separator) {
    if (text.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        if (i % 3 == 2 ? text[i] != separator : !IsDigit(text[i])) return false;
    }
    return true;
}

// The tool's folders are whole paths: a drive's or a share's.
bool IsWholePath(std::u16string_view text) {
    const bool drive = text.size() >= 3 && ((text[0] | 0x20) >= u'a' && (text[0] | 0x20) <= u'z') &&
                       text[1] == u':' && text[2] == u'\\';
    return drive || text.substr(0, 2) == u"\\\\";
}

// Whether the text is the format with its %s and %d filled in; the fields get what they stood
// for. A field reaches to the first place the literal after it is found, the last to the end.
bool MatchFormat(std::u16string_view format, std::u16string_view text,
                 std::u16string (&fields)[2]) {
    size_t field = 0;
    while (!format.empty()) {
        const size_t directive = format.find(u'%');
        const std::u16string_view literal = format.substr(0, directive);
        if (text.substr(0, literal.size()) != literal) return false;
        text.remove_prefix(literal.size());
        if (directive == std::u16string_view::npos) return text.empty();
        const char16_t kind = format[directive + 1];
        format.remove_prefix(directive + 2);
        const std::u16string_view next = format.substr(0, format.find(u'%'));
        size_t end = text.size();
        if (!format.empty()) {
            end = next.size() == format.size()
                      ? (text.size() >= next.size() ? text.size() - next.size()
                                                    : std::u16string_view::npos)
                      : text.find(next);
            if (end == std::u16string_view::npos) return false;
        }
        const std::u16string_view value = text.substr(0, end);
        if (kind == u'd' && !IsNumber(value)) return false;
        if (field < 2) fields[field++] = std::u16string(value);
        text.remove_prefix(end);
    }
    return text.empty();
}

// The values the tool always writes where a format leaves a field.
bool FieldsAsTheToolWrites(RecordKind kind, const std::u16string (&fields)[2]) {
    switch (kind) {
        case RecordKind::Banner:
            return IsStampText(fields[0], u'/') && IsStampText(fields[1], u':');
        case RecordKind::CompanionCopy:
            return IsWholePath(fields[0]) && fields[1] == record_texts::kCompanionDestination;
        case RecordKind::CompanionInstalled:
            return fields[0] == u"1";
        case RecordKind::CompanionFailed:
            return fields[0] == u"0";
        default:
            return true;
    }
}

bool ReadWhole(std::u16string_view text, Record& record) {
    for (const Format& format : kFormats) {
        if (text.substr(0, format.literal.size()) != format.literal) continue;
        record.fields[0].clear();
        record.fields[1].clear();
        if (MatchFormat(format.text, text, record.fields) &&
            FieldsAsTheToolWrites(format.kind, record.fields)) {
            record.kind = format.kind;
            return true;
        }
    }
    return false;
}

// A record the tool cut to fit its capacity: its text up to the cut begins as a format does.
bool ReadCut(std::u16string_view text, Record& record) {
    bool lengthOfCut = false;
    for (size_t units : kCutRecordUnits) lengthOfCut |= text.size() + 2 == units;
    if (!lengthOfCut) return false;
    for (const Format& format : kFormats) {
        const std::u16string_view literal = format.literal;
        if (literal.empty() || literal.size() == format.text.size() ||
            text.substr(0, literal.size()) != literal) {
            continue;
        }
        record.kind = format.kind;
        record.fields[0] = std::u16string(text.substr(literal.size()));
        record.fields[1].clear();
        record.cut = true;
        return true;
    }
    return false;
}

}  // namespace

void RecordScanner::Feed(const unsigned char* bytes, size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    const unsigned char* const data = pending_.data();
    size_t begin = 0;
    for (size_t at = scanned_; at + 4 <= pending_.size(); ++at) {
        const void* const carriageReturn = std::memchr(data + at, 0x0D, pending_.size() - 3 - at);
        if (!carriageReturn) break;
        at = static_cast<size_t>(static_cast<const unsigned char*>(carriageReturn) - data);
        if (data[at + 1] != 0 || data[at + 2] != 0x0A || data[at + 3] != 0) continue;
        TakeSegment(begin, at + 4);
        begin = at + 4;
        at += 3;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(begin));
    // No record is longer: what lies before is some other program's.
    if (pending_.size() > 2 * kLongestRecordBytes) {
        pending_.erase(pending_.begin(), pending_.end() - kLongestRecordBytes);
        dropped_ = true;
        atStart_ = false;
    }
    scanned_ = pending_.size() >= 3 ? pending_.size() - 3 : 0;
}

// The bytes from the last record's end to this terminator: the units aligned on it, of which
// the record is the longest tail that reads as one the tool writes; what comes before it is
// foreign, but for a byte-order mark at the start and the one zero byte the tool pads an odd
// log with.
void RecordScanner::TakeSegment(size_t begin, size_t end) {
    const size_t start = begin + (end - begin) % 2;
    units_.resize((end - start) / 2);
    for (size_t unit = 0; unit < units_.size(); ++unit) {
        const size_t at = start + 2 * unit;
        units_[unit] = static_cast<char16_t>(pending_[at] | (pending_[at + 1] << 8));
    }
    const std::u16string_view text(units_.data(), units_.size() - 2);
    Record record{RecordKind::Banner, {}, false, false};
    // No record is longer than the tool's capacity: the search starts where the longest could,
    // so what is found never depends on how much of the bytes before was kept.
    const size_t earliest = text.size() > kLongestRecordText ? text.size() - kLongestRecordText : 0;
    size_t skip = earliest;
    bool found = false;
    while (skip < text.size() && !(found = ReadWhole(text.substr(skip), record))) ++skip;
    for (size_t cut = earliest; !found && cut < text.size(); ++cut) {
        found = ReadCut(text.substr(cut), record);
        skip = cut;
    }
    const size_t recordStart = found ? start + 2 * skip : end;
    size_t first = begin;
    if (atStart_ && recordStart >= begin + 2 && pending_[begin] == 0xFF &&
        pending_[begin + 1] == 0xFE) {
        first += 2;
    }
    atStart_ = false;
    const bool padding = recordStart - first == 1 && pending_[first] == 0;
    record.foreignBefore = dropped_ || (recordStart > first && !padding);
    dropped_ = !found && record.foreignBefore;
    if (found) sink_(record);
}

bool RecordScanner::Finish() {
    const bool foreign = dropped_ || !pending_.empty();
    pending_.clear();
    dropped_ = false;
    return foreign;
}

namespace {

int StageOf(RecordKind kind) {
    switch (kind) {
        case RecordKind::Banner:
            return 0;
        case RecordKind::FixedList:
            return 1;
        case RecordKind::DriveExamined:
            return 2;
        case RecordKind::FlagFound:
            return 3;
        case RecordKind::CopyStarted:
            return 4;
        case RecordKind::Copied:
        case RecordKind::CopyFailed:
        case RecordKind::NoFlag:
            return 5;
        case RecordKind::CompanionMissing:
        case RecordKind::CompanionCopy:
            return 7;
        case RecordKind::CompanionInstalled:
        case RecordKind::CompanionFailed:
            return 8;
        case RecordKind::Passed:
        case RecordKind::Failed:
            break;
    }
    return 9;
}

constexpr int kClosingBanner = 6;

// The step that must come right before a record's in the fixed order.
int StageBefore(const Run& run, RecordKind kind, int stage) {
    switch (kind) {
        case RecordKind::NoFlag:
            return 1;
        case RecordKind::Passed:
        case RecordKind::Failed:  // after the companion's copy record, its outcome
            return run.companion == CompanionOutcome::Missing || !run.seen[7] ? 7 : 8;
        default:
            return stage == kClosingBanner + 1 ? kClosingBanner : stage - 1;
    }
}

bool Fits(const Run& run, const Record& record) {
    const int stage = StageOf(record.kind);
    return run.result == Verdict::None && (stage > run.stage || (stage == 2 && run.stage == 2));
}

std::u16string BannerText(const Record& record) {
    return record.fields[0] + u' ' + record.fields[1];
}

void Apply(Run& run, const Record& record, int stage) {
    if (stage > 0 && !run.seen[StageBefore(run, record.kind, stage)]) run.notes |= kRecordsMissing;
    run.seen[stage] = true;
    run.stage = stage;
    if (record.cut) run.notes |= kCutRecord;
    if (record.foreignBefore) run.notes |= kForeignBytes;
    switch (record.kind) {
        case RecordKind::Banner:
            if (stage == 0) {
                run.date = record.fields[0];
                run.time = record.fields[1];
                run.banner = BannerText(record);
            } else if (BannerText(record) != run.banner) {
                run.notes |= kBannersDiffer;
            }
            break;
        case RecordKind::FixedList:
            run.fixedDrives = record.fields[0];
            break;
        case RecordKind::FlagFound:
            run.recoveryDrive = record.fields[0];
            break;
        case RecordKind::Copied:
            run.copy = CopyOutcome::Copied;
            break;
        case RecordKind::CopyFailed:
            run.copy = CopyOutcome::Failed;
            if (!record.cut)
                run.error = std::stoll(
                    std::string(record.fields[0].begin(), record.fields[0].end()));
            break;
        case RecordKind::NoFlag:
            run.copy = CopyOutcome::NoFlag;
            break;
        case RecordKind::CompanionMissing:
            run.companion = CompanionOutcome::Missing;
            break;
        case RecordKind::DriveExamined:
        case RecordKind::CopyStarted:
        case RecordKind::CompanionCopy:
            break;
        case RecordKind::CompanionInstalled:
            run.companion = CompanionOutcome::Installed;
            break;
        case RecordKind::CompanionFailed:
            run.companion = CompanionOutcome::Failed;
            break;
        case RecordKind::Passed:
        case RecordKind::Failed: {
            run.result = record.kind == RecordKind::Passed ? Verdict::Pass : Verdict::Fail;
            const bool passedCopy = run.copy == CopyOutcome::Copied ||
                                    run.copy == CopyOutcome::NoFlag;
            if ((run.result == Verdict::Pass && run.copy == CopyOutcome::Failed) ||
                (run.result == Verdict::Fail && passedCopy)) {
                run.notes |= kResultContradictsCopy;
            }
            break;
        }
    }
}

// Runs that may still receive records: killed runs, or runs that overlap others, at most this
// many; the oldest beyond it is taken as over, past the last step of the fixed order.
constexpr size_t kOpenRuns = 8;
constexpr int kOver = 10;

}  // namespace

Run& RunAssembler::StartRun() {
    runs_.emplace_back();
    runs_.back().number = ++started_;
    size_t open = 0;
    for (auto at = runs_.rbegin(); at != runs_.rend(); ++at) {
        if (at->result == Verdict::None && ++open > kOpenRuns) at->stage = kOver;
    }
    return runs_.back();
}

// A banner is the closing one of the open run it repeats, or else of the newest run whose copy
// ended; any other opens a run. Any other record goes to the newest open run it fits, or opens
// one whose banner is missing. A record that goes to an older run shows runs overlapping.
Run* RunAssembler::RunFor(const Record& record) {
    const bool banner = record.kind == RecordKind::Banner;
    const auto open = [](const Run& run) {
        return run.result == Verdict::None && run.stage < kOver;
    };
    const auto closes = [&](const Run& run, bool sameText) {
        return run.stage < kClosingBanner &&
               (sameText ? BannerText(record) == run.banner : run.stage == 5);
    };
    for (const bool sameText : {true, false}) {
        bool older = false;
        for (auto at = runs_.rbegin(); at != runs_.rend(); ++at) {
            if (!open(*at)) continue;
            if (banner ? !closes(*at, sameText) : !Fits(*at, record)) {
                older = true;
                continue;
            }
            for (Run& run : runs_) {
                if (older && run.number >= at->number && open(run)) run.notes |= kOverlapped;
            }
            return &*at;
        }
        if (!banner) break;
    }
    return nullptr;
}

void RunAssembler::Take(const Record& record) {
    Run* run = RunFor(record);
    int stage = StageOf(record.kind);
    if (run && record.kind == RecordKind::Banner) stage = kClosingBanner;
    if (!run) run = &StartRun();
    Apply(*run, record, stage);
    Flush(false);
}

// The newest run stays until the log ends: bytes after its last record are a note on it.
void RunAssembler::Flush(bool ended) {
    while (runs_.size() > (ended ? 0 : 1) &&
           (runs_.front().result != Verdict::None || runs_.front().stage == kOver)) {
        Run& run = runs_.front();
        if (run.result == Verdict::None) run.notes |= kNoResult;
        sink_(run);
        runs_.pop_front();
    }
}

void RunAssembler::Finish(bool foreignAtEnd) {
    if (foreignAtEnd && !runs_.empty()) runs_.back().notes |= kForeignBytes;
    for (Run& run : runs_) {
        if (run.result == Verdict::None) run.stage = kOver;
    }
    Flush(true);
}

LogReader::LogReader(RunAssembler::Sink sink)
    : assembler_(std::move(sink)),
      scanner_([this](const Record& record) { assembler_.Take(record); }) {}

size_t LogReader::Finish() {
    assembler_.Finish(scanner_.Finish());
    return assembler_.Runs();
}
