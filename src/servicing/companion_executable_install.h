// Installs the companion executable QXCUST2.exe from beside the tool into c:\Windows. Its
// result is logged only: it never changes the run's verdict.
#pragma once

void InstallCompanionExecutable(const char16_t* logPath);
