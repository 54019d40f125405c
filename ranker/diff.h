// Comparing two workloads (--diff): INPUT is "after", BEFORE is "before".
// Groups are matched by normalised text (one dictionary holds both), and
// each falls in one section by the chosen measure (RankKey):
//
//   new     counted records after, none before; ranked by the measure after
//   gone    none after, some before; ranked by the measure before
//   grew    both, the measure larger after; ranked by the increase
//   shrank  both, the measure smaller after; ranked by the decrease
//
// Groups whose measure is equal are counted, not listed. Ties go to the
// larger group after, then to the earlier group. A measure is the raw value
// (records, bytes, total or mean microseconds), not a share: a workload
// twice as long shows its groups as grown.
#pragma once

#include "ranker/ranking.h"

#include <cstdint>

enum SectionKind { SECTION_NEW, SECTION_GONE, SECTION_GREW, SECTION_SHRANK, SECTIONS };

// "new", "gone", "grew", "shrank".
extern const char* const SECTION_NAMES[SECTIONS];

struct DiffSection {
    std::int32_t* numbers; // owned: the groups listed, best first
    std::int32_t count;    // listed
    std::int32_t total;    // in the section
};

struct Diff {
    DiffSection sections[SECTIONS];
    std::int32_t unchanged;        // groups in both whose measure is equal
    std::int32_t last_input_group; // groups numbered up to this one are INPUT's
    RankKey key;
};

// Sorts every group with counted records on either side into its section,
// lists at most `count` of each (0: all) and marks the listed ones shown.
// `last_input_group` is group_count() after INPUT was read.
Diff diff_groups(RankKey key, std::int32_t count, std::int32_t last_input_group);
void release_diff(Diff* diff);

// The mean in microseconds of `total_us` over `timed` records, rounded; -1
// when timed is 0.
std::int64_t mean_us(std::int64_t total_us, std::int64_t timed);
