// litrank as a function, for its thin main and for tests.
#pragma once

// Runs litrank on its command line:
//
//   litrank [options] INPUT.rec [REPORT]
//
// Returns EXIT_OK once everything is written; "--help" ends the process
// with EXIT_OK after the usage. Every failure writes its message and ends
// the process through sys.exit, with the status of platform/exit_statuses.h.
int run_litrank(int argc, char** argv);
