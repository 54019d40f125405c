#include "analyzer/statement_groups.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"

RecordList record_list = {nullptr, -1, 0};
GroupTable group_table = {nullptr, 1, 0};
StringDictionary* dictionary = nullptr;

namespace {

// Geometric growth keeps appending linear in the number of records.
std::int32_t grown(std::int32_t capacity, std::int32_t first) {
    if (capacity == 0) return first;
    std::int64_t next = std::int64_t{capacity} + capacity / 2;
    if (next > INT32_MAX) {
        if (capacity == INT32_MAX) out_of_memory(NOT_ENOUGH_MEMORY);
        next = INT32_MAX;
    }
    return static_cast<std::int32_t>(next);
}

template <typename Table> void grow(Table* table, std::int32_t first) {
    std::int32_t capacity = grown(table->capacity, first);
    table->base = static_cast<decltype(table->base)>(checked_realloc(
        table->base, static_cast<std::size_t>(capacity) * sizeof *table->base, NOT_ENOUGH_MEMORY));
    table->capacity = capacity;
}

} // namespace

/*
 * 1. Normalise the text.
 * 2. Append the record to record_list.
 * 3. Intern the normalised text: negative for a new text.
 * 4. A new text creates its group in the next slot of group_table, which is
 *    the slot of its number since new ids are consecutive from 2; a known
 *    text's group is in slot r.
 * 5. Count the record into its group and 6. note the group in the entry.
 * 7. Release the normalised text.
 */
void process_statement(std::int32_t record_id, const char* text) {
    input_cursor = text; // 1.
    parse_statement();
    file_statement(record_id, reinterpret_cast<const unsigned char*>(normalized_text), // 2.-6.
                   normalized_length);
    release_normalized_text(); // 7.
}

namespace {

// Steps 2 and 4 to 6 for a text that interning gave `r`.
void file_interned(std::int32_t record_id, std::int32_t r) {
    if (record_list.last + 1 >= record_list.capacity) grow(&record_list, RECORD_LIST_FIRST); // 2.
    ListedRecord* entry = &record_list.base[++record_list.last];
    entry->id = record_id;
    std::int32_t number = r;
    if (r < 0) { // 4.
        number = -r;
        if (group_table.last + 1 >= group_table.capacity) grow(&group_table, GROUP_TABLE_FIRST);
        StatementGroup* group = &group_table.base[++group_table.last];
        group->number = number;
        group->first_member = record_id;
        group->size = 0;
    }
    ++group_table.base[number].size; // 5.
    entry->group = number;           // 6.
}

} // namespace

void file_statement(std::int32_t record_id, const unsigned char* normalized, std::size_t length) {
    file_interned(record_id, intern_bytes(dictionary, normalized, length)); // 3.
}

void file_statements(const NormalizedRecord* records, std::size_t count) {
    while (count > 0) {
        std::size_t n = count < INTERN_RUN_MOST ? count : INTERN_RUN_MOST;
        const unsigned char* texts[INTERN_RUN_MOST];
        std::size_t lengths[INTERN_RUN_MOST];
        std::int32_t results[INTERN_RUN_MOST];
        for (std::size_t i = 0; i < n; ++i) {
            texts[i] = records[i].normalized;
            lengths[i] = records[i].normalized_length;
        }
        intern_run(dictionary, texts, lengths, n, results); // 3.
        for (std::size_t i = 0; i < n; ++i) file_interned(records[i].id, results[i]);
        records += n;
        count -= n;
    }
}

void reset_statement_groups() {
    release(record_list.base);
    release(group_table.base);
    record_list = {nullptr, -1, 0};
    group_table = {nullptr, 1, 0};
}
