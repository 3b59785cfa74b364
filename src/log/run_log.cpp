#include "log/run_log.h"

#include "log/record_texts.h"
#include "platform/platform_operations.h"

namespace {

void PutTwoDigits(char16_t* at, int value) {
    // A clock never reads past 99 in any field; the modulo keeps a bad reading in two digits.
    const int twoDigits = (value % 100 + 100) % 100;
    at[0] = static_cast<char16_t>(u'0' + twoDigits / 10);
    at[1] = static_cast<char16_t>(u'0' + twoDigits % 10);
}

void PutTriple(char16_t (&text)[9], int first, int second, int third, char16_t separator) {
    PutTwoDigits(text, first);
    text[2] = separator;
    PutTwoDigits(text + 3, second);
    text[5] = separator;
    PutTwoDigits(text + 6, third);
    text[8] = 0;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Ends a record that was cut at capacity - 1 units with CR LF, never leaving the first half of
// a surrogate pair before it.
void EndCutRecordWithLineEnd(char16_t* record, size_t capacity) {
    size_t end = capacity - 3;
    if (IsHighSurrogate(record[end - 1]) && IsLowSurrogate(record[end])) --end;
    record[end] = u'\r';
    record[end + 1] = u'\n';
    record[end + 2] = 0;
}

}  // namespace

// One reading for both texts: a date and a time read apart could straddle midnight and name a
// moment a day before the run.
RunStamp TakeRunStamp() {
    RunStamp stamp;
    const LocalClock now = ReadLocalClock();
    PutTriple(stamp.date, now.month, now.day, now.year, u'/');
    PutTriple(stamp.time, now.hour, now.minute, now.second, u':');
    return stamp;
}

void AppendLogRecord(const LogFile& log, const char16_t* text) {
    if (log.path[0] != 0) AppendToFile(log.path, log.folder, text, TextLength(text));
    EchoToConsole(text);
}

void AppendComposedRecord(const LogFile& log, const char16_t* format,
                          std::initializer_list<FormatArg> args) {
    char16_t record[kMaxPath];
    if (!ComposeText(record, format, args)) EndCutRecordWithLineEnd(record, kMaxPath);
    AppendLogRecord(log, record);
}

void AppendBanner(const LogFile& log, const RunStamp& stamp) {
    AppendComposedRecord(log, record_texts::kBanner, {stamp.date, stamp.time});
}
