// Checks that a litsieve report belongs to the input litrank has just read:
// every line must be the line litsieve writes for that input, in its order,
// with or without "-full". A report written to standard output may keep the
// three banner lines in front; they are skipped.
#pragma once

#include <cstddef>

// Longest report line shown in a message; longer ones are cut.
constexpr std::size_t REPORT_LINE_SHOWN = 80;

// Compares the report at `report_path` with record_list. A report that
// cannot be opened or read, or that does not match, ends the process with
// one message on standard error and status -1 (a bad input): the message
// names the report, the input and the first line that does not match, with
// the line litsieve would have written there and the line found.
void check_report(const char* report_path, const char* input_path);
