#include "app/run_sequence.h"

#include "log/record_texts.h"
#include "platform/platform_operations.h"
#include "servicing/companion_executable_install.h"
#include "servicing/recovery_partition_update.h"

namespace {

constexpr const char16_t* kLogFolderParent = u"c:\\System.sav";
constexpr const char16_t* kLogFolder = u"c:\\System.sav\\Logs";
constexpr const char16_t* kLogInLogFolder = u"c:\\System.sav\\Logs\\Castorel.log";

void CopyDirectoryOfPath(const char16_t* path, char16_t (&directory)[kMaxPath]) {
    size_t end = 0;  // one past the last backslash
    for (size_t i = 0; path[i]; ++i) {
        if (path[i] == u'\\') end = i + 1;
    }
    for (size_t i = 0; i < end; ++i) directory[i] = path[i];
    directory[end] = 0;
}

// Only a real folder counts: a file of that name would swallow every record of the run, and a
// link, which any user may make where the folders are missing, would lead them elsewhere.
bool IsLogFolder(const char16_t* path) { return QueryEntry(path).kind == EntryKind::Folder; }

// The one place that decides where the log goes. A fallback path that would not fit is no log
// file at all, never a file at a cut name. The folder chosen is identified now: records go into
// that folder only, for the whole run.
void ChooseLog(RunContext& context) {
    LogFile& log = context.log;
    if (IsLogFolder(kLogFolderParent) && IsLogFolder(kLogFolder)) {
        log.folder = IdentifyFolderOf(kLogInLogFolder);
        if (log.folder.known) {
            ComposeText(log.path, u"%s", {kLogInLogFolder});
            return;
        }
    }
    if (ComposeText(log.path, u"%sCastorel.log", {context.exeDirectory})) {
        log.folder = IdentifyFolderOf(log.path);
    } else {
        log.path[0] = 0;
    }
}

}  // namespace

void ResolveRunLocations(RunContext& context) {
    const size_t length = GetModulePath(context.exePath, kMaxPath);
    if (length == 0) {
        PrintToConsole(u"Get exe path failed [%d]\r\n", {static_cast<int32_t>(length)});
        throw kExePathUnreadable;
    }
    PrintToConsole(u"ExePath=[%s]\r\n", {context.exePath});
    CopyDirectoryOfPath(context.exePath, context.exeDirectory);
    PrintToConsole(u"ExeDir=[%s]\r\n", {context.exeDirectory});
    ChooseLog(context);
    PrintToConsole(u"logPath=[%s]\r\n", {context.log.path});
}

int RunCastorel() {
    RunContext context{};
    context.outcome = RunOutcome::Pass;
    ResolveRunLocations(context);
    context.stamp = TakeRunStamp();
    AppendBanner(context.log, context.stamp);
    UpdateRecoveryPartition(context);
    AppendBanner(context.log, context.stamp);
    InstallCompanionExecutable(context.log);
    const bool passed = context.outcome == RunOutcome::Pass;
    AppendLogRecord(context.log, passed ? record_texts::kPassed : record_texts::kFailed);
    return passed ? 0 : 1;
}
