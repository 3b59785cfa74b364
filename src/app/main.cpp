// The Windows console entry. Arguments are ignored: the tool always does the same one pass.
#include "app/run_sequence.h"
#include "platform/platform_operations.h"

extern "C" int wmain(int, wchar_t**) {
    FailCriticalErrorsWithoutDialog();
    RestrictLibraryLoadsToSystemFolder();
    RefuseJunctionsOfNonAdministrators();
    return RunCastorel();
}
