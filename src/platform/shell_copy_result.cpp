// The shell's answer to a copy, as the logic reads it. Portable so the host tests cover it.
#include "platform/platform_operations.h"

int ShellCopyResult(int shellReturn, bool anyOperationsAborted) {
    return shellReturn == 0 && anyOperationsAborted ? kErrorCancelled : shellReturn;
}

// A dialog in session 0 or on a window station nobody sees waits forever: the run never ends.
bool CanAnswerDialogs(const ProcessSession& session) {
    return session.windowStationVisible && session.sessionId != 0;
}
