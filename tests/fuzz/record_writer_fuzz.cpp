// The record writer with arbitrary UTF-16: a record reaches the file whole when it fits, and
// otherwise cut inside the message capacity, still ending with CR LF and never splitting a
// surrogate pair; the console gets its echo. A text handed over finished
// reaches the file unchanged, never read as a format.
#include <cstdlib>
#include <string>

#include "fuzz_platform.h"
#include "log/run_log.h"

namespace {

const char16_t* const kLog = u"c:\\System.sav\\Logs\\Castorel.log";

bool EndsWithLineEnd(const std::u16string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const bool finished = input.Byte() & 1;
    const std::u16string text = input.Text(600);
    Captured() = FuzzCapture{};

    if (finished) {
        AppendLogRecord(kLog, text.c_str());
        if (Captured().appended != text || Captured().appendedPath != kLog) std::abort();
        return 0;
    }
    AppendComposedRecord(kLog, u"Copy [%s] to [%s]\r\n", {text.c_str(), text.c_str()});
    const std::u16string& record = Captured().appended;
    const std::u16string whole = u"Copy [" + text + u"] to [" + text + u"]\r\n";
    if (Captured().appends != 1 || record.size() >= kMaxPath) std::abort();
    if (!EndsWithLineEnd(record)) std::abort();
    if (whole.size() < kMaxPath) {
        if (record != whole) std::abort();
    } else {
        const std::u16string body = record.substr(0, record.size() - 2);
        if (whole.compare(0, body.size(), body) != 0) std::abort();
        const bool splitsPair = !body.empty() && body.back() >= 0xD800 && body.back() <= 0xDBFF &&
                                whole[body.size()] >= 0xDC00 && whole[body.size()] <= 0xDFFF;
        if (splitsPair) std::abort();
        if (body.size() + 4 < kMaxPath - 1) std::abort();  // cut no shorter than it must be
    }
    return 0;
}
