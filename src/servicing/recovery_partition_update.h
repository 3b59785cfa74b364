// Copies the FU folder beside the tool into the reserve folder of the recovery partition: the
// first fixed drive, in letter order, that carries the recovery flag file.
#pragma once

#include "app/run_context.h"

/// The roots of all fixed drives, A to Z, each followed by `;` ("C:\;D:\;"); empty if none.
void BuildFixedDriveList(char16_t (&list)[kMaxPath]);

/// Finds the flagged drive and copies FU into it; sets the outcome to Fail when the copy fails.
void UpdateRecoveryPartition(RunContext& context);
