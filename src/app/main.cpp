// The Windows console entry. Arguments are ignored: the tool always does the same one pass.
#include "app/run_sequence.h"

extern "C" int wmain(int, wchar_t**) { return RunCastorel(); }
