#include "servicing/companion_executable_install.h"

#include "log/record_texts.h"
#include "log/run_log.h"
#include "platform/platform_operations.h"

namespace {

constexpr const char16_t* kDestination = record_texts::kCompanionDestination;

}  // namespace

void InstallCompanionExecutable(const LogFile& log) {
    // The folder is read afresh; it has no trailing `\` except for a drive root.
    char16_t folder[kMaxPath] = {};
    GetModulePath(folder, kMaxPath);
    RemoveLastComponent(folder);
    char16_t source[kMaxPath];
    // A source cut to fit would name another file: it counts as missing.
    if (!ComposeText(source, u"%s\\QXCUST2.exe", {folder}) || !PathExists(source)) {
        AppendComposedRecord(log, record_texts::kCompanionMissing, {source});
        return;
    }
    AppendComposedRecord(log, record_texts::kCompanionCopy, {source, kDestination});
    if (CopyFileOverwrite(source, kDestination)) {
        AppendComposedRecord(log, record_texts::kCompanionInstalled, {1});
    } else {
        AppendComposedRecord(log, record_texts::kCompanionFailed, {0});
    }
}
