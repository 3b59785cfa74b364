// The whole control flow of one run.
#pragma once

#include "app/run_context.h"

/// The error code thrown, and never caught, when the executable's own path can't be read.
constexpr int32_t kExePathUnreadable = static_cast<int32_t>(0x80004005);  // E_FAIL

/// Fills the exe path, exe directory and log path, printing each to the console only. Throws
/// kExePathUnreadable when the exe path can't be read.
void ResolveRunLocations(RunContext& context);

/// Runs every phase in order and returns the exit status: 0 for PASS, 1 for FAIL.
int RunCastorel();
