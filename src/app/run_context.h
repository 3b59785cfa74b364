// What one run knows about itself: where it runs from, where it logs, when, and its verdict.
#pragma once

#include "log/run_log.h"
#include "platform/text_format.h"

enum class RunOutcome { Pass, Fail };

struct RunContext {
    char16_t exePath[kMaxPath];
    char16_t exeDirectory[kMaxPath];  // through the last `\`; empty when there is none
    LogFile log;
    RunStamp stamp;
    RunOutcome outcome;  // starts Pass; only the recovery-partition update sets Fail
};
