// The report: one line per reported record, in input order, each formatted
// as "%d\t%d\t%d\t%d\r\n": record id, group number, group size and the id of
// the group's first member. A record is reported when its group holds more
// than one record, or always with "-full".
#pragma once

#include <cstddef>
#include <cstdint>

// Set by the option "-full": report every record.
extern int full_report;

// Longest report line: four 11-character numbers, three tabs, CR LF.
constexpr std::size_t REPORT_LINE_MAX = 4 * 11 + 3 + 2;

// Formats one report line into `out` (at least REPORT_LINE_MAX bytes) and
// returns its length.
std::size_t format_report_line(char* out, std::int32_t id, std::int32_t group, std::int32_t size,
                               std::int32_t first_member);

// Writes the report of record_list to `fd`. Lines are gathered into large
// writes; partial writes are continued. Returns false if the descriptor
// refused bytes.
bool write_report(int fd);
