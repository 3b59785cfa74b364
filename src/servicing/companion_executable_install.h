// Installs the companion executable QXCUST2.exe from beside the tool into c:\Windows. Its
// result is logged only: it never changes the run's verdict.
#pragma once

#include "log/run_log.h"

void InstallCompanionExecutable(const LogFile& log);
