// libFuzzer target for the report's reader: any bytes read as one log must neither crash nor
// read past what it was given, and the runs read must not depend on where the bytes were split
// between reads, since the reader keeps its state from one read to the next.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/log_reader.h"

namespace {

std::u16string Described(const Run& run) {
    return std::u16string(1, static_cast<char16_t>(run.number)) + run.date + u'|' + run.time +
           u'|' + run.fixedDrives + u'|' + run.recoveryDrive + u'|' +
           static_cast<char16_t>(run.copy) + static_cast<char16_t>(run.companion) +
           static_cast<char16_t>(run.result) + static_cast<char16_t>(run.notes) +
           (run.error ? std::u16string(1, static_cast<char16_t>(*run.error)) : u"-");
}

std::vector<std::u16string> RunsRead(const uint8_t* data, size_t size, size_t split) {
    std::vector<std::u16string> runs;
    LogReader reader([&](const Run& run) { runs.push_back(Described(run)); });
    for (size_t at = 0; at < size; at += split) reader.Feed(data + at, std::min(split, size - at));
    reader.Finish();
    return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t split = size == 0 ? 1 : 1 + data[0] % 64;
    if (RunsRead(data, size, size + 1) != RunsRead(data, size, split)) __builtin_trap();
    return 0;
}
