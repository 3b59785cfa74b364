#include "servicing/recovery_partition_update.h"

#include "log/record_texts.h"
#include "log/run_log.h"
#include "platform/platform_operations.h"
#include "servicing/reserve_copy_check.h"

namespace {

// Copies the next `;`-separated entry into `entry`, skipping empty ones. False at the end.
bool NextListEntry(const char16_t*& cursor, char16_t (&entry)[kMaxPath]) {
    while (*cursor == u';') ++cursor;
    if (*cursor == 0) return false;
    size_t length = 0;
    for (; *cursor && *cursor != u';'; ++cursor) {
        if (length + 1 < kMaxPath) entry[length++] = *cursor;
    }
    entry[length] = 0;
    return true;
}

bool CarriesRecoveryFlag(const char16_t* root) {
    char16_t flag[kMaxPath];
    return ComposeText(flag, u"%sRecovery\\_VLTRP2.FLG", {root}) && PathExists(flag);
}

// A shell copy list of one path: the path, its NUL and the list's closing NUL. Returns false
// when that would not fit, and the list then must not be used.
bool ComposePathList(char16_t (&list)[kMaxPath], const char16_t* format,
                     std::initializer_list<FormatArg> args) {
    if (!ComposeText(list, kMaxPath - 1, format, args)) return false;
    list[TextLength(list) + 1] = 0;
    return true;
}

int CopyFuToReserve(const RunContext& context, const char16_t* root) {
    char16_t source[kMaxPath];
    char16_t destination[kMaxPath];
    const bool sourceFits = ComposePathList(source, u"%sFU\\*", {context.exeDirectory});
    const bool destinationFits = ComposePathList(destination, u"%spreload\\RM_Reserve", {root});
    AppendComposedRecord(context.log, record_texts::kCopyStarted, {source, destination});
    // A cut path names some other place: copy nothing rather than from or to it.
    if (!sourceFits || !destinationFits) return kErrorFilenameExcedRange;
    char16_t fu[kMaxPath];
    ComposeText(fu, u"%sFU", {context.exeDirectory});
    CopyPreflight preflight = CheckCopyBeforeShell(fu, root);
    // An empty FU leaves nothing to copy, and the shell would only answer with an error.
    if (preflight.error != 0 || preflight.entries == 0) return preflight.error;
    // Into a folder that is there, the shell copies a lone entry of FU like any other.
    const int reserve = MakeReserve(root, preflight.folders);
    if (reserve != 0) return reserve;
    const int copied = ShellCopy(source, destination, !CanAnswerDialogs(QueryProcessSession()));
    return copied != 0 ? copied : CheckCopyAfterShell(fu, root, preflight.folders);
}

}  // namespace

void BuildFixedDriveList(char16_t (&list)[kMaxPath]) {
    list[0] = 0;
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        char16_t root[4];
        ComposeText(root, u"%c:\\", {letter});
        if (QueryDriveType(root) != kDriveFixed) continue;
        char16_t extended[kMaxPath];
        ComposeText(extended, u"%s%s;", {list, root});
        ComposeText(list, u"%s", {extended});
    }
}

void UpdateRecoveryPartition(RunContext& context) {
    char16_t drives[kMaxPath];
    BuildFixedDriveList(drives);
    AppendComposedRecord(context.log, record_texts::kFixedList, {drives});

    const char16_t* cursor = drives;
    char16_t root[kMaxPath];
    while (NextListEntry(cursor, root)) {
        AppendComposedRecord(context.log, record_texts::kDriveExamined, {root});
        if (!CarriesRecoveryFlag(root)) continue;
        AppendComposedRecord(context.log, record_texts::kFlagFound, {root});
        const int result = CopyFuToReserve(context, root);
        if (result == 0) {
            AppendComposedRecord(context.log, record_texts::kCopied, {});
        } else {
            AppendComposedRecord(context.log, record_texts::kCopyFailed,
                                 {static_cast<int32_t>(result)});
            context.outcome = RunOutcome::Fail;
        }
        return;  // only the first flagged drive is ever serviced
    }
    AppendComposedRecord(context.log, record_texts::kNoFlag, {});
}
