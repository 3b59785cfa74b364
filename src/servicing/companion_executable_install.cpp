#include "servicing/companion_executable_install.h"

#include "log/run_log.h"
#include "platform/platform_operations.h"

namespace {

constexpr const char16_t* kDestination = u"c:\\Windows\\QXCUST2.exe";

}  // namespace

void InstallCompanionExecutable(const LogFile& log) {
    // The folder is read afresh; it has no trailing `\` except for a drive root.
    char16_t folder[kMaxPath] = {};
    GetModulePath(folder, kMaxPath);
    RemoveLastComponent(folder);
    char16_t source[kMaxPath];
    // A source cut to fit would name another file: it counts as missing.
    if (!ComposeText(source, u"%s\\QXCUST2.exe", {folder}) || !PathExists(source)) {
        AppendComposedRecord(log, u"Source file not exists: %s\r\n", {source});
        return;
    }
    AppendComposedRecord(log, u"%s copy to %s\r\n", {source, kDestination});
    if (CopyFileOverwrite(source, kDestination)) {
        AppendComposedRecord(log, u"Copy file successful with return code: %d\r\n", {1});
    } else {
        AppendComposedRecord(log, u"Copy file failed with return code: %d\r\n", {0});
    }
}
