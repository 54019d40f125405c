// The per-record step of litsieve and the two tables that hold its result:
// every record is normalised, its normalised text interned, and the record
// filed under the group of records whose normalised texts are equal.
#pragma once

#include "analyzer/statement_pipeline.h"
#include "analyzer/string_dictionary.h"

#include <cstddef>
#include <cstdint>

// One group per distinct normalised text.
struct StatementGroup {
    std::int32_t number;       // dictionary id of the text: 2, 3, ... (see reported_group_number)
    std::int32_t first_member; // id of the record that created the group
    std::int32_t size;         // records filed under the group so far
};

// One entry per record processed, in input order: 8 bytes, so the list of a
// huge input stays small.
struct ListedRecord {
    std::int32_t id;    // record id from the file
    std::int32_t group; // number of the record's group (its slot in group_table)
};

// Growable tables with explicit bookkeeping. They are allocated by the first
// record and the first group, grow geometrically and are never freed.
struct RecordList {
    ListedRecord* base;
    std::int32_t last;     // index of the last entry used; -1 while empty
    std::int32_t capacity; // entries allocated
};

// Indexed by group number. Slots 0 and 1 stay unused: the dictionary keeps
// ids 0 and 1 for the absent and the empty text, so the first group sits in
// slot 2 and every group's slot equals its number.
struct GroupTable {
    StatementGroup* base;
    std::int32_t last;     // index of the last slot used; 1 while empty
    std::int32_t capacity; // slots allocated
};

// The number a group has in the report and in everything litrank shows:
// its slot, counted from the first group's slot as 1.
inline std::int32_t reported_group_number(std::int32_t number) {
    return number - 1;
}

// First allocations of the tables; later they grow by half their size.
constexpr std::int32_t RECORD_LIST_FIRST = 1000;
constexpr std::int32_t GROUP_TABLE_FIRST = 50;

extern RecordList record_list;
extern GroupTable group_table;

// The one dictionary of the process, created by main before the first record
// and never released.
extern StringDictionary* dictionary;

// Normalises the record's NUL-terminated text and files the record under its
// group. The text stays the caller's.
void process_statement(std::int32_t record_id, const char* text);

// Files a record whose statement is normalised already (steps 2 to 6 of
// process_statement): the statement pipeline's consumer. The text stays
// the caller's.
void file_statement(std::int32_t record_id, const unsigned char* normalized, std::size_t length);

// file_statement for each of a run of records from the statement pipeline,
// in order; their texts are interned together (intern_run).
void file_statements(const NormalizedRecord* records, std::size_t count);

// The group a listed record belongs to.
inline const StatementGroup& group_of(const ListedRecord& record) {
    return group_table.base[record.group];
}

// Empties both tables (the dictionary is the caller's). For tests.
void reset_statement_groups();
