// The shell's answer to a copy, as the logic reads it. Portable so the host tests cover it.
#include "platform/platform_operations.h"

int ShellCopyResult(int shellReturn, bool anyOperationsAborted) {
    return shellReturn == 0 && anyOperationsAborted ? kErrorCancelled : shellReturn;
}
