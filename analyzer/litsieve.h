// litsieve as a function, for its thin main and for the programs that run it
// under test (the allocation-failure test, the pipeline fuzzer).
#pragma once

// Runs litsieve on its command line:
//
//   litsieve [-full] INPUT [REPORT]
//
// Returns EXIT_OK once the report is whole. Every failure writes its
// message and ends the process through sys.exit, with the status of
// platform/exit_statuses.h; nothing of the run is freed.
int run_litsieve(int argc, char** argv);
