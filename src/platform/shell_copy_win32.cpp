// The shell's copy of FU into the reserve, on Windows.
#include <windows.h>
#include <shellapi.h>

#include "platform/win32.h"

int ShellCopy(const char16_t* sourceList, const char16_t* destinationList,
              bool errorsWithoutDialog) {
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_COPY;
    operation.pFrom = Wide(sourceList);
    operation.pTo = Wide(destinationList);
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    if (errorsWithoutDialog) operation.fFlags |= FOF_NOERRORUI;
    const int returned = SHFileOperationW(&operation);
    return ShellCopyResult(returned, operation.fAnyOperationsAborted != FALSE);
}
